"""The virtual projector's report file, as far as the soak reads it."""

import re
from dataclasses import dataclass


@dataclass
class Counts:
    frames_sent: int = 0  # frame-dones the projector took, shown or rejected
    frames_shown: int = 0
    pattern_frames: int = 0
    pattern_mismatched: int = 0
    pixel_errors: int = 0
    protocol_errors: int = 0
    injected_pending: int = 0

    def plus(self, other):
        return Counts(*(a + b for a, b in zip(vars(self).values(), vars(other).values())))


def read_numbers(path):
    """Every "key N" and "key=N" of the report, or nothing while there is none."""
    try:
        with open(path) as report:
            text = report.read()
    except OSError:
        return {}
    return {key: int(value) for key, value in re.findall(r"(\w+)[ =](\d+)", text)}


def read_counts(path):
    """The counts in the report, or zeros while there is none."""
    counts = Counts()
    numbers = read_numbers(path)
    counts.frames_shown = numbers.get("frames_shown", 0)
    counts.frames_sent = (numbers.get("frames_bank0", 0) + numbers.get("frames_bank1", 0) +
                          numbers.get("frames_rejected", 0))
    counts.pattern_frames = numbers.get("pattern_frames", 0)
    counts.pattern_mismatched = numbers.get("pattern_mismatched", 0)
    counts.pixel_errors = numbers.get("pixel_errors", 0)
    counts.protocol_errors = numbers.get("protocol_errors", 0)
    counts.injected_pending = numbers.get("injected_pending", 0)
    return counts
