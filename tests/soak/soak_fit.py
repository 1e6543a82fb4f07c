"""Whether a quantity grows: one slope fitted over every process's samples, each process with an
intercept of its own (a restarted program starts again from its own level) and its own warm-up
and first visits left out, with the bound of two standard errors."""

import math
from dataclasses import dataclass


@dataclass
class Slope:
    per_hour: float
    bound: float  # two standard errors, per hour
    samples: int
    runs: int  # with two samples or more after their warm-up

    def grows_beyond(self, limit):
        """True when the growth exceeds `limit` per hour beyond the noise."""
        return self.per_hour - self.bound > limit


def pooled_slope(segments):
    """segments: lists of (seconds, value), one list per process. None with fewer than three
    samples in all or nothing to fit a slope to."""
    sxx = sxy = 0.0
    points = []
    used = 0
    for samples in segments:
        if len(samples) < 2:
            continue
        used += 1
        mean_t = sum(t for t, _ in samples) / len(samples)
        mean_v = sum(v for _, v in samples) / len(samples)
        for t, v in samples:
            sxx += (t - mean_t) ** 2
            sxy += (t - mean_t) * (v - mean_v)
        points.append((samples, mean_t, mean_v))
    count = sum(len(s) for s, _, _ in points)
    freedom = count - used - 1
    if sxx == 0 or freedom < 1:
        return None
    slope = sxy / sxx
    residuals = sum((v - mean_v - slope * (t - mean_t)) ** 2
                    for samples, mean_t, mean_v in points for t, v in samples)
    error = math.sqrt(residuals / freedom / sxx)
    return Slope(slope * 3600, 2 * error * 3600, count, used)


def judged_starts(starts, warm_up, visits):
    """Where each run's judged part begins: after its warm-up, and after the first visit in it of
    each kind of fault it met. A kind's first visit allocates what the program keeps from then on
    (the first warning box, the first mode change): a step, not a slope. Its later visits are
    judged, so that what each visit leaks shows. starts: {run: seconds}; visits: (start, end,
    kind) of the faults that leave the program running."""
    order = sorted(starts.items(), key=lambda item: item[1])
    judged = {}
    for index, (run, start) in enumerate(order):
        until = order[index + 1][1] if index + 1 < len(order) else math.inf
        begin, seen = start + warm_up, set()
        for at, end, kind in sorted(visits):
            if start <= at < until and kind not in seen:
                seen.add(kind)
                begin = max(begin, end)
        judged[run] = begin
    return judged


def judged_segments(samples, key, judged_from):
    """The (seconds, value) of `key` per run, from where its judged part begins."""
    segments = {}
    for s in samples:
        if s[key] is not None and s["t"] >= judged_from[s["run"]]:
            segments.setdefault(s["run"], []).append((s["t"], s[key]))
    return list(segments.values())
