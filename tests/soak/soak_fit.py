"""Whether a quantity grows: one slope fitted over every process's samples, each process with an
intercept of its own (a restarted program starts again from its own level) and its own warm-up
left out, with the bound of two standard errors."""

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


def warmed_segments(samples, key, starts, warm_up):
    """The (seconds, value) of `key` per run, each run's first `warm_up` seconds left out: every
    restarted program fills its caches and logs again, as the first one did."""
    segments = {}
    for s in samples:
        if s[key] is not None and s["t"] >= starts[s["run"]] + warm_up:
            segments.setdefault(s["run"], []).append((s["t"], s[key]))
    return list(segments.values())
