"""The soak's own arithmetic: the slope over restarted runs, and the schedule."""

import os
import random
import tempfile
import time
import unittest

from depth_program import ProgramDepth

from soak_fit import judged_segments, judged_starts, pooled_slope
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
        judged = judged_starts(starts, 60, [])
        flat = pooled_slope(judged_segments(samples(0), "rss_kb", judged))
        self.assertAlmostEqual(flat.per_hour, 0, places=3)
        self.assertEqual(flat.runs, 10)
        leaking = pooled_slope(judged_segments(samples(1), "rss_kb", judged))
        self.assertAlmostEqual(leaking.per_hour, 3600, places=3)
        # Only the first run's warm-up left out, the restarts' filling looks like growth.
        first_only = pooled_slope(judged_segments(samples(0), "rss_kb", {
            run: 60 for run in starts}))
        self.assertTrue(first_only.grows_beyond(512))

    def test_a_first_visit_is_a_step_and_every_visit_a_leak(self):
        # Two runs of 20 minutes; a warning every 100 s, alternating with a mode change. The
        # first of each kind in a run allocates 1 MB for good; a leak keeps 64 KB of each.
        visits = [(start + at, start + at + 8, kind) for start in (0, 1300)
                  for at, kind in zip(range(100, 1200, 100), ["warning", "mode"] * 6)]
        starts = {1: 0, 2: 1300}

        def samples(leak):
            def level(t):
                run_start = 0 if t < 1300 else 1300
                met = [kind for at, end, kind in visits if run_start <= at and end <= t]
                return 30000 + 1024 * len(set(met)) + leak * len(met)
            return [{"t": t, "run": 1 if t < 1300 else 2, "rss_kb": level(t)}
                    for t in range(0, 2500, 10)]
        judged = judged_starts(starts, 60, visits)
        self.assertEqual(judged, {1: 208, 2: 1508})
        self.assertEqual(pooled_slope(judged_segments(samples(0), "rss_kb", judged)).per_hour, 0)
        self.assertTrue(pooled_slope(judged_segments(samples(64), "rss_kb",
                                                     judged)).grows_beyond(512))
        # Judged from the warm-up alone, the first visits look like growth.
        self.assertTrue(pooled_slope(judged_segments(samples(0), "rss_kb", judged_starts(
            starts, 60, []))).grows_beyond(512))

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

    def test_faults_that_end_the_program_close_long_stretches(self):
        for seed in range(20):
            faults = make_schedule(seed, 3600, 60, self.KINDS, params, (15, 60), 720, {"d"},
                                   {"a": ("n", [1, 2])})
            closing = [i for i, f in enumerate(faults) if f.kind == "d"]
            self.assertGreaterEqual(len(closing), 4)
            for before, after in zip(faults, faults[1:]):
                self.assertGreaterEqual(after.at, before.end - 0.1)
            for previous, i in zip([-1] + closing, closing):
                stretch = faults[previous + 1:i]
                # Each stretch meets every other kind and variant once before any twice, and
                # lasts.
                self.assertEqual(sorted(f.visit({"a": ("n", [1, 2])}) for f in stretch[:4]),
                                 ["a 1", "a 2", "b", "c"])
                self.assertGreaterEqual(faults[i].at - stretch[0].at, 720 - 9)
                if previous >= 0:  # the restarted program's warm-up first
                    self.assertGreaterEqual(stretch[0].at, faults[previous].end + 60 - 0.1)

    def test_a_short_run_takes_what_fits(self):
        self.assertEqual(make_schedule(3, 30, 25, self.KINDS, params), [])


class DriverDeadlineTest(unittest.TestCase):
    """Wine failing under the driver fails the soak in seconds, not at ctest's limit."""

    def wait_for_answer(self, script, seconds):
        with tempfile.TemporaryDirectory() as work:
            depth = ProgramDepth(work, {"wine_work": work})
            depth.start_driver(["sh", "-c", script], dict(os.environ))
            begun = time.monotonic()
            answer = depth.ask("screen", seconds)
            waited = time.monotonic() - begun
            depth.stop_environment()
            return answer, depth.lost, waited

    def test_a_crashed_server_is_seen_while_its_clients_hang(self):
        answer, lost, waited = self.wait_for_answer(
            "read command; echo 'wineserver crashed, please enable coredumps' >&2; sleep 60", 30)
        self.assertIsNone(answer)
        self.assertEqual(lost, "Wine's server crashed (driver.log)")
        self.assertLess(waited, 20)  # the deadline was 30 s

    def test_a_driver_that_never_answers_has_a_deadline(self):
        answer, lost, _ = self.wait_for_answer("sleep 60", 2)
        self.assertIsNone(answer)
        self.assertEqual(lost, "the driver did not answer 'screen' in 2 s")


if __name__ == "__main__":
    unittest.main()
