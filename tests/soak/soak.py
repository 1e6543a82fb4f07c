#!/usr/bin/python3
"""Streams for a given time with a seeded schedule of faults, samples the program every
interval, and gives the verdicts.

  soak.py DEPTH WORK_DIR NAME=PATH...
  DEPTH: mirror (kvusb-mirror, the projector in process), mirror-below (at its sg nodes),
  program (the Windows program under Wine, the simulator in process), program-below (the
  shipped Windows program under Wine, the projector below it: run inside
  tests/below/fake_machine.sh), gadget (kvusb-gadget in the kernel test's virtual machine,
  driven by kvusbtool stream there)
  SOAK_SECONDS (default 120, 45 for the gadget), SOAK_SEED (default: from the clock,
  printed), SOAK_INTERVAL (seconds between samples, default 10; 2 in runs of 5 minutes or
  less, to have enough for a fit), SOAK_WARMUP (what each run of the program leaves out of
  the fits from its start, the first run and every restart; default a sixth of the soak, at
  most 60), SOAK_LOG (commands the virtual projector keeps in its log, default 2000),
  SOAK_KINDS (the faults to schedule, by name and comma-separated; default all the depth has)

Writes to WORK_DIR: samples.csv, faults.csv, verdicts.txt, soak.png. Exit code 0 when every
verdict holds, 1 when one fails, 77 when the depth cannot run here."""

import csv
import os
import shutil
import sys
import threading
import time

from soak_fit import judged_segments, judged_starts, pooled_slope
from soak_plot import plot
from soak_schedule import make_schedule

# Growth per hour beyond the noise that fails the run, and its unit.
LIMITS = {"rss_kb": (512, "KB"), "fds": (1, "descriptors"), "threads": (1, "threads")}
# The shortest span after the warm-up over which growth is judged: in a shorter one, what a
# program allocates once (the first warning box, the first mode change) looks like growth.
JUDGED_SPAN = 600
# In a long soak, the faults that end the program each close a stretch this long of the others.
STRETCH = 900
SAMPLE_FIELDS = ["t", "run", "rss_kb", "fds", "threads", "cpu_percent", "frames_sent",
                 "frames_shown", "pattern_frames", "pixel_errors", "protocol_errors"]


def make_depth(name, work, binaries):
    if name in ("mirror", "mirror-below"):
        from depth_mirror import MirrorDepth
        return MirrorDepth(work, binaries, below=name == "mirror-below")
    if name == "program":
        from depth_program import ProgramDepth
        return ProgramDepth(work, binaries)
    if name == "gadget":
        from depth_gadget import GadgetDepth
        return GadgetDepth(work, binaries)
    if name == "program-below":
        from depth_program import ProgramBelowDepth
        return ProgramBelowDepth(work, binaries)
    raise SystemExit(f"soak.py: unknown depth {name}")


class Sampler(threading.Thread):
    """Samples the program every interval, into samples.csv as they come, so that a long run
    can be watched and survives the harness."""

    def __init__(self, depth, interval, began, path):
        super().__init__(daemon=True)
        self.depth, self.interval, self.began = depth, interval, began
        self.samples, self.stopping = [], threading.Event()
        self.last = None  # (pid, time, cpu seconds)
        self.out = open(path, "w", newline="")
        self.writer = csv.DictWriter(self.out, SAMPLE_FIELDS)
        self.writer.writeheader()

    def run(self):
        while not self.stopping.wait(self.interval - (time.monotonic() - self.began)
                                     % self.interval):
            self.sample()

    def sample(self):
        now, sample = time.monotonic(), self.depth.process_sample()
        if sample is None:
            return  # between runs
        pid, rss_kb, threads, fds, cpu = sample
        share = None
        if self.last and self.last[0] == pid:
            share = 100 * (cpu - self.last[2]) / (now - self.last[1])
        self.last = (pid, now, cpu)
        counts = self.depth.counts()
        self.samples.append({
            "t": round(now - self.began, 2), "run": self.depth.runs, "rss_kb": rss_kb,
            "fds": fds, "threads": threads,
            "cpu_percent": None if share is None else round(share, 1),
            "frames_sent": counts.frames_sent, "frames_shown": counts.frames_shown,
            "pattern_frames": counts.pattern_frames, "pixel_errors": counts.pixel_errors,
            "protocol_errors": counts.protocol_errors})
        self.writer.writerow(self.samples[-1])
        self.out.flush()


def verdicts(depth, sampler, results, judged_from, final_problems, seconds, warm_up):
    lines, ok = [], True
    judged = seconds - warm_up >= JUDGED_SPAN
    for key, (limit, unit) in LIMITS.items():
        slope = pooled_slope(judged_segments(sampler.samples, key, judged_from))
        if slope is None:
            lines.append(f"{key}: too few samples after each run's warm-up and first visits "
                         "to fit")
            continue
        grows = slope.grows_beyond(limit)
        verdict = ("GROWS" if grows else "flat") if judged else "not judged, too short a run"
        ok &= not (grows and judged)
        lines.append(f"{key}: {slope.per_hour:+.1f} ± {slope.bound:.1f} {unit} per hour over "
                     f"{slope.samples} samples of {slope.runs} run(s) (limit {limit}): {verdict}")
    counts = depth.counts()
    good_frames = counts.pattern_mismatched == 0 and counts.pattern_frames > 0
    ok &= good_frames and counts.protocol_errors == 0
    lines.append(f"frames: {counts.frames_sent} sent, {counts.frames_shown} shown, "
                 f"{counts.pattern_frames} checked against the pattern, "
                 f"{counts.pattern_mismatched} unlike it ({counts.pixel_errors} pixels)")
    lines.append(f"protocol errors: {counts.protocol_errors}")
    kinds = {}
    for fault, result in results:
        ok &= result.ok
        kinds.setdefault(fault.kind, []).append(result)
        lines.append(f"fault at {fault.at:7.1f} s {fault.kind} {fault.param}: "
                     f"{'ok' if result.ok else 'FAILED'}" +
                     (f", recovered in {result.recovery:.2f} s" if result.recovery else "") +
                     f" ({result.note})")
    for kind, runs in sorted(kinds.items()):
        times = [r.recovery for r in runs if r.recovery is not None]
        lines.append(f"recovery {kind}: {len(runs)} fault(s)" +
                     (f", {min(times):.2f} to {max(times):.2f} s, mean "
                      f"{sum(times) / len(times):.2f} s" if times else ""))
    ok &= not final_problems
    lines += [f"at the end: {p}" for p in final_problems] or [
        "at the end: ended cleanly, nothing left behind, the desktop at its size"]
    lines.append("PASSED" if ok else "FAILED")
    return ok, lines


def main():
    depth_name, work = sys.argv[1], os.path.abspath(sys.argv[2])
    # The programs start in folders of their own: their paths made absolute.
    binaries = {name: os.path.abspath(path)
                for name, path in (arg.split("=", 1) for arg in sys.argv[3:])}
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    depth = make_depth(depth_name, work, binaries)
    seconds = float(os.environ.get("SOAK_SECONDS", depth.default_seconds))
    seed = int(os.environ.get("SOAK_SEED", int(time.time()) % 100000))
    interval = float(os.environ.get("SOAK_INTERVAL", 10 if seconds > 300 else 2))
    warm_up = float(os.environ.get("SOAK_WARMUP", min(60.0, seconds / 6)))
    # A short run packs the faults closer, so that each kind comes at least once; a long one
    # gives each run of the program a stretch of its own.
    long_soak = seconds > 300
    gap = (warm_up / 4, warm_up) if long_soak else (1.0, 3.0)
    kinds = os.environ.get("SOAK_KINDS", ",".join(depth.kinds)).split(",")
    unknown = set(kinds) - set(depth.kinds)
    if unknown:
        raise SystemExit(f"soak.py: {depth_name} has no fault {', '.join(sorted(unknown))}")
    schedule = make_schedule(seed, seconds, warm_up, kinds, depth.params, gap,
                             STRETCH if long_soak else None, depth.ending, depth.variants)
    print(f"soak {depth_name}: {seconds:.0f} s, seed {seed}, {len(schedule)} faults, "
          f"samples every {interval:.0f} s, warm-up {warm_up:.0f} s", flush=True)
    skipped = depth.start_environment()
    if depth.lost:
        depth.stop_environment()
        return 1
    if skipped:
        print(f"skipped: {skipped}")
        return 77
    results, final_problems = [], []
    try:
        began = time.monotonic()
        depth.expected_size = depth.screen_size()
        started = depth.start()
        if not started and not depth.lost:
            final_problems.append("no frame was shown after the start")
        sampler = Sampler(depth, interval, began, os.path.join(work, "samples.csv"))
        sampler.start()
        for fault in schedule if started else []:
            time.sleep(max(0.0, began + fault.at - time.monotonic()))
            result = depth.fault(fault)
            results.append((fault, result))
            print(f"{time.monotonic() - began:7.1f} s {fault.kind} {fault.param}: "
                  f"{'ok' if result.ok else 'FAILED'} {result.note}", flush=True)
            if depth.lost:
                break
            if not depth.running():
                final_problems.append(f"the program is not running after {fault.kind}")
                if not depth.start():
                    break
        if started and not depth.lost:
            time.sleep(max(0.0, began + seconds - time.monotonic()))
        sampler.stopping.set()
        sampler.join()
        if depth.lost:
            final_problems.append(depth.lost)
        elif started:
            final_problems += depth.graceful_stop()
        final_problems += [f"process {pid} left behind" for pid in depth.left_behind()]
    finally:
        if depth.running():
            depth.kill()
        depth.stop_environment()
    # Each run's start in seconds of the soak, and where its judged part begins.
    starts = {run: at - began for run, at in depth.run_starts.items()}
    judged_from = judged_starts(starts, warm_up, [(f.at, f.end, f.visit(depth.variants))
                                                  for f, _ in results
                                                  if f.kind not in depth.ending])
    ok, lines = verdicts(depth, sampler, results, judged_from, final_problems, seconds, warm_up)
    title = f"{depth_name}, seed {seed}, {seconds / 60:.0f} min: {lines[-1]}"
    write_outputs(work, sampler.samples, results, lines, starts, judged_from, title)
    sampler.out.close()
    print("\n".join(lines))
    print(f"plot: {os.path.join(work, 'soak.png')}")
    return 0 if ok else 1


def write_outputs(work, samples, results, lines, starts, judged_from, title):
    with open(os.path.join(work, "faults.csv"), "w", newline="") as out:
        writer = csv.writer(out)
        writer.writerow(["at", "kind", "hold", "param", "ok", "recovery", "note"])
        for fault, result in results:
            writer.writerow([fault.at, fault.kind, fault.hold, fault.param, result.ok,
                             result.recovery, result.note])
    with open(os.path.join(work, "verdicts.txt"), "w") as out:
        out.write("\n".join(lines) + "\n")
    plot(os.path.join(work, "soak.png"), samples,
         [(f.at, f.hold, f.kind, r.ok) for f, r in results],
         [(start, judged_from[run]) for run, start in starts.items()], title)


if __name__ == "__main__":
    sys.exit(main())
