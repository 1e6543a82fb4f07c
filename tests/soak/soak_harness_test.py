"""The soak's own arithmetic: the slope over restarted runs, and the schedule."""

import random
import unittest

from soak_fit import pooled_slope, warmed_segments
from soak_schedule import SETTLE_SECONDS, make_schedule


class PooledSlopeTest(unittest.TestCase):
    def test_restarts_neither_hide_nor_fake_growth(self):
        # Each run grows 1 KB/s from a lower level than the last one ended at: one fit over all
        # would see memory fall.
        runs = [[(t, 20000 + t) for t in range(0, 100, 10)],
                [(t, 15000 + t) for t in range(120, 300, 10)]]
        slope = pooled_slope(runs)
        self.assertAlmostEqual(slope.per_hour, 3600, places=3)
        self.assertTrue(slope.grows_beyond(512))

        flat = [[(t, 20000) for t in range(0, 100, 10)], [(t, 15000) for t in range(120, 300, 10)]]
        self.assertEqual(pooled_slope(flat).per_hour, 0)

    def test_noise_widens_the_bound_rather_than_failing(self):
        rng = random.Random(7)
        noisy = [[(t, 30000 + rng.gauss(0, 200)) for t in range(0, 120, 10)]]
        slope = pooled_slope(noisy)
        self.assertGreater(slope.bound, abs(slope.per_hour) / 4)
        self.assertFalse(slope.grows_beyond(slope.per_hour + 1))

    def test_each_restart_gets_its_own_warm_up(self):
        # Every run fills a log for its first 60 s (100 KB/s), then holds, or leaks 1 KB/s on
        # top: runs of 150 s, restarted one after another.
        def samples(leak):
            return [{"t": start + age, "run": run,
                     "rss_kb": 20000 + 100 * min(age, 60) + leak * age}
                    for run, start in enumerate(range(0, 1500, 150), 1)
                    for age in range(0, 150, 10)]
        starts = {run: start for run, start in enumerate(range(0, 1500, 150), 1)}
        flat = pooled_slope(warmed_segments(samples(0), "rss_kb", starts, 60))
        self.assertAlmostEqual(flat.per_hour, 0, places=3)
        self.assertEqual(flat.runs, 10)
        leaking = pooled_slope(warmed_segments(samples(1), "rss_kb", starts, 60))
        self.assertAlmostEqual(leaking.per_hour, 3600, places=3)
        # Only the first run's warm-up left out, the restarts' filling looks like growth.
        first_only = pooled_slope(warmed_segments(samples(0), "rss_kb", {**starts, **{
            run: 0 for run in starts}}, 60))
        self.assertTrue(first_only.grows_beyond(512))

    def test_too_few_samples_give_no_slope(self):
        self.assertIsNone(pooled_slope([[(0, 1)], [(5, 2)]]))
        self.assertIsNone(pooled_slope([[(0, 1), (10, 2)]]))  # a line through two points
        self.assertIsNone(pooled_slope([]))


def params(kind, rng):
    return rng.uniform(1, 5), {"n": rng.randint(0, 9)}


class ScheduleTest(unittest.TestCase):
    KINDS = ["a", "b", "c", "d"]

    def test_the_seed_gives_the_schedule(self):
        first = make_schedule(11, 600, 60, self.KINDS, params)
        self.assertEqual(first, make_schedule(11, 600, 60, self.KINDS, params))
        self.assertNotEqual(first, make_schedule(12, 600, 60, self.KINDS, params))

    def test_every_kind_before_any_twice_and_no_overlap(self):
        for seed in range(20):
            faults = make_schedule(seed, 900, 100, self.KINDS, params)
            self.assertEqual(sorted(f.kind for f in faults[:4]), self.KINDS)
            self.assertEqual(faults[0].at, 100)
            for before, after in zip(faults, faults[1:]):
                self.assertGreaterEqual(after.at, before.at + before.hold + SETTLE_SECONDS - 0.1)
            self.assertLessEqual(faults[-1].at + faults[-1].hold + SETTLE_SECONDS, 900.1)

    def test_a_short_run_takes_what_fits(self):
        self.assertEqual(make_schedule(3, 30, 25, self.KINDS, params), [])


if __name__ == "__main__":
    unittest.main()
