"""The seeded schedule of faults: which fault, when, and for how long."""

import random
from dataclasses import dataclass, field


@dataclass
class Fault:
    at: float  # seconds after the start of the run
    kind: str
    hold: float  # how long the fault lasts, where it lasts (seconds)
    param: dict = field(default_factory=dict)


# How long each kind of fault keeps the harness busy at most, beyond its hold: the end, the
# restart and the first frames after it.
SETTLE_SECONDS = 4.0


def make_schedule(seed, seconds, warm_up, kinds, params, gap=(2.0, 12.0)):
    """Faults from warm_up to the end, one after another: first every kind once in a shuffled
    order, then kinds at random, `gap` seconds apart at least and at most beyond their hold and
    settling. `params(kind, rng)` gives a fault's hold and parameters."""
    rng = random.Random(seed)
    first = list(kinds)
    rng.shuffle(first)
    faults = []
    at = warm_up
    while True:
        kind = first.pop(0) if first else rng.choice(kinds)
        hold, param = params(kind, rng)
        if at + hold + SETTLE_SECONDS > seconds:
            return faults
        faults.append(Fault(round(at, 1), kind, round(hold, 1), param))
        at += hold + SETTLE_SECONDS + rng.uniform(*gap)
