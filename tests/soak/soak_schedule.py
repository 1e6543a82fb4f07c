"""The seeded schedule of faults: which fault, when, and for how long."""

import random
from dataclasses import dataclass, field


@dataclass
class Fault:
    at: float  # seconds after the start of the run
    kind: str
    hold: float  # how long the fault lasts, where it lasts (seconds)
    param: dict = field(default_factory=dict)

    @property
    def end(self):
        """When the harness is done with it at the latest."""
        return self.at + self.hold + SETTLE_SECONDS


# How long each kind of fault keeps the harness busy at most, beyond its hold: the end, the
# restart and the first frames after it.
SETTLE_SECONDS = 4.0


def make_schedule(seed, seconds, warm_up, kinds, params, gap=(2.0, 12.0), stretch=None,
                  ending=()):
    """Faults from warm_up to the end, one after another: first every kind once in a shuffled
    order, then kinds at random, `gap` seconds apart at least and at most beyond their hold and
    settling. `params(kind, rng)` gives a fault's hold and parameters.

    With `stretch`, the kinds in `ending` (those that end the program) come one at a time, each
    closing a stretch of that many seconds of the other kinds, and the next stretch begins a
    warm-up after it: every run of the program then lives long enough to meet each other kind
    once, and then again, which is what tells a leak from what a first visit allocates once.
    Each stretch gives every other kind once before any twice."""
    rng = random.Random(seed)
    enders = [k for k in kinds if k in ending] if stretch else []
    if not enders:
        return lay_out(rng, warm_up, seconds, kinds, params, gap)[0]
    living = [k for k in kinds if k not in ending]
    faults, at, cycle = [], warm_up, []
    while True:
        part, at = lay_out(rng, at, min(seconds, at + stretch), living, params, gap)
        faults += part
        if not cycle:
            cycle = rng.sample(enders, len(enders))
        kind = cycle.pop()
        hold, param = params(kind, rng)
        closing = Fault(round(at, 1), kind, round(hold, 1), param)
        if closing.end > seconds:
            return faults
        faults.append(closing)
        at = closing.end + warm_up


def lay_out(rng, at, until, kinds, params, gap):
    """Faults of `kinds` from `at` while they end by `until`, every kind once first; the faults
    and the time the next one may come."""
    first = rng.sample(kinds, len(kinds))
    faults = []
    while kinds:
        kind = first.pop(0) if first else rng.choice(kinds)
        hold, param = params(kind, rng)
        fault = Fault(round(at, 1), kind, round(hold, 1), param)
        if fault.end > until:
            break
        faults.append(fault)
        at = fault.end + rng.uniform(*gap)
    return faults, at
