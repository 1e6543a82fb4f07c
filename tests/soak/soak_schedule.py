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

    def visit(self, variants):
        """What a first visit is counted by: the kind, and its variant where it has some (each
        display mode allocates for itself)."""
        if self.kind not in variants:
            return self.kind
        return f"{self.kind} {self.param[variants[self.kind][0]]}"


# How long each kind of fault keeps the harness busy at most, beyond its hold: the end, the
# restart and the first frames after it.
SETTLE_SECONDS = 4.0


def make_schedule(seed, seconds, warm_up, kinds, params, gap=(2.0, 12.0), stretch=None,
                  ending=(), variants=None):
    """Faults from warm_up to the end, one after another: first every kind once in a shuffled
    order, then kinds at random, `gap` seconds apart at least and at most beyond their hold and
    settling. `params(kind, rng)` gives a fault's hold and parameters. `variants`: {kind:
    (parameter, values)} for kinds whose first round gives each value once.

    With `stretch`, the kinds in `ending` (those that end the program) come one at a time, each
    closing a stretch of that many seconds of the other kinds, and the next stretch begins a
    warm-up after it: every run of the program then lives long enough to meet each other kind
    once, and then again, which is what tells a leak from what a first visit allocates once.
    Each stretch gives every other kind once before any twice."""
    rng = random.Random(seed)
    variants = variants or {}
    enders = [k for k in kinds if k in ending] if stretch else []
    if not enders:
        return lay_out(rng, warm_up, seconds, kinds, params, gap, variants)[0]
    living = [k for k in kinds if k not in ending]
    faults, at, cycle = [], warm_up, []
    while True:
        part, at = lay_out(rng, at, min(seconds, at + stretch), living, params, gap, variants)
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


def lay_out(rng, at, until, kinds, params, gap, variants):
    """Faults of `kinds` from `at` while they end by `until`, every kind and variant once first;
    the faults and the time the next one may come."""
    first = [(kind, value) for kind in kinds for value in variants.get(kind, (None, [None]))[1]]
    first = rng.sample(first, len(first))
    faults = []
    while kinds:
        kind, value = first.pop(0) if first else (rng.choice(kinds), None)
        hold, param = params(kind, rng)
        if value is not None:
            param[variants[kind][0]] = value
        fault = Fault(round(at, 1), kind, round(hold, 1), param)
        if fault.end > until:
            break
        faults.append(fault)
        at = fault.end + rng.uniform(*gap)
    return faults, at
