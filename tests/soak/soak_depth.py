"""What every depth shares: the program's runs one after another, the projector's control file
and report, and the counts summed over the runs."""

import os
import shutil
import subprocess
import threading
import time
from dataclasses import dataclass

import soak_proc
from soak_report import Counts, read_counts, read_numbers

# Commands the virtual projector keeps in its log (SOAK_LOG). Its default of 200,000 (about
# 11 MB) takes five minutes to fill and would hide the program's own slope for as long.
LOGGED_COMMANDS = int(os.environ.get("SOAK_LOG", 2000))
# A restart on a machine of its own, or under Wine, on a machine with a load of 10 and more.
FIRST_FRAME_SECONDS = 60


def common_params(kind, rng):
    """The hold and parameters of the faults every depth has, or None for another kind."""
    if kind == "write_burst":
        return rng.uniform(0, 1), {"count": rng.randint(5, 60)}
    if kind == "status_reads":
        return 0, {"count": rng.randint(2, 6)}
    if kind == "vanish":
        return rng.uniform(1, 3), {"slice": rng.randint(0, 19)}
    if kind == "link_limit":
        return rng.uniform(2, 8), {}
    return None


@dataclass
class FaultResult:
    ok: bool
    recovery: float  # seconds, or None where nothing had to recover
    note: str


def wait_until(predicate, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while True:
        try:
            if predicate():
                return True
        except OSError:
            pass
        if time.monotonic() >= deadline:
            return False
        time.sleep(step)


class Depth:
    program_name = ""
    default_seconds = 120  # SOAK_SECONDS
    variants = {}  # {kind: (parameter, values)}: what a first visit is counted by, beside it

    def __init__(self, work):
        self.work = work
        self.control_path = os.path.join(work, "control")
        self.step = 0
        self.runs = 0
        self.run_starts = {}  # each run's start, monotonic seconds
        self.live = False  # a run has started and its end has not been seen
        self.finished = Counts()  # of the runs that have ended
        self.expected_size = None
        self.warnings_seen = 0
        # What failed under the program (Wine itself, a virtual machine): the soak ends on it.
        self.lost = None
        self.lock = threading.Lock()
        self.control("")

    def projector_options(self):
        return (f"report={self.report_path()},control={self.control_path},"
                f"log={LOGGED_COMMANDS},delay=usb2")

    def report_path(self):
        return os.path.join(self.work, f"report-{self.runs}.txt")

    def control(self, options):
        """A new step for the projector's control file, written whole; its number."""
        self.step += 1
        temporary = self.control_path + ".new"
        with open(temporary, "w") as control:
            control.write(f"{self.step} {options}\n" if options else f"{self.step}\n")
        os.replace(temporary, self.control_path)
        return self.step

    def report(self):
        """The numbers of the current run's report."""
        return read_numbers(self.report_path())

    def counts(self):
        with self.lock:
            current = read_counts(self.report_path()) if self.live else Counts()
            return self.finished.plus(current)

    def start(self, mode="mirror", zoom="original"):
        """Starts a run; False when no frame was shown within FIRST_FRAME_SECONDS, or at once
        when the program ended first."""
        self.control("")  # a new projector takes the step it finds: none that breaks it
        with self.lock:
            self.runs += 1
            self.run_starts[self.runs] = time.monotonic()
            before = self.frames_before_run()
            self.launch(mode, zoom)
            self.live = True
            self.warnings_seen = 0
        if self.lost:
            return False

        def shown():
            return read_counts(self.report_path()).frames_shown > before
        wait_until(lambda: shown() or self.lost or self.exit_code(0) is not None,
                   FIRST_FRAME_SECONDS, step=0.2)
        return shown()

    def restart(self, mode="mirror", zoom="original"):
        """Seconds from the start to the first frame shown, or None."""
        begun = time.monotonic()
        return time.monotonic() - begun if self.start(mode, zoom) else None

    def running(self):
        return self.live and self.exit_code(0) is None

    def wait_exit(self, seconds):
        """The exit code of the run, once ended (its counts kept), or None."""
        code = self.exit_code(seconds)
        if code is None:
            return None
        with self.lock:
            self.run_ended()
            self.live = False
        return code

    def frames_before_run(self):
        """Frames the run's projector showed before the run: none, each run has its own."""
        return 0

    def run_ended(self):
        """The counts of a run that ended kept: each run has a projector of its own."""
        self.finished = self.finished.plus(read_counts(self.report_path()))

    def process_sample(self):
        """(process id, resident KB, threads, descriptors, CPU seconds) of the program, or None
        between runs."""
        pid = self.program_pid()
        status = soak_proc.read_status(pid) if pid else None
        fds = soak_proc.count_fds(pid) if pid else None
        cpu = soak_proc.cpu_seconds(pid) if pid else None
        if status is None or fds is None or cpu is None:
            return None
        return pid, status[0], status[1], fds, cpu

    def graceful_stop(self):
        """The program asked to end as the user's session would; the problems found."""
        self.ask_to_end()
        code = self.wait_exit(15)
        if code is None:
            self.kill()
            self.wait_exit(5)
            return ["the program did not end when asked to"]
        return self.check_end(code)

    def dump_stacks(self):
        """Every thread's stack of a program that hangs, into the work folder, when gdb is
        there; where they are, for the note."""
        pid = self.program_pid()
        if pid is None or shutil.which("gdb") is None:
            return ""
        path = os.path.join(self.work, f"stacks-{self.runs}.txt")
        with open(path, "w") as out:
            subprocess.run(["gdb", "-p", str(pid), "-batch", "-ex", "thread apply all bt"],
                           stdout=out, stderr=subprocess.STDOUT, timeout=60)
        return f" (stacks: {path})"

    def left_behind(self):
        """Processes of the program still there after its runs."""
        return [pid for pid, name in soak_proc.descendants(os.getpid())
                if name.startswith(self.program_name[:15])]

    # ---- Faults every depth has

    def fault(self, fault):
        """Runs one fault of the schedule; its result."""
        p = fault.param
        if fault.kind == "vanish":
            return self.ending_fault(f"vanish_at_slice={p['slice']}", self.gone_line, fault.hold)
        if fault.kind == "link_limit":
            return self.ending_fault("fail_next=1000000:31", self.limit_line, fault.hold)
        if fault.kind == "write_burst":
            return self.burst(f"fail_next={p['count']}:31", fault.hold)
        if fault.kind == "status_reads":
            return self.burst(f"fail_reads={p['count']}:31", 0, reads=True)
        return self.own_fault(fault)

    def ending_fault(self, options, line, hold, then=None):
        """A fault that ends the program: its end, the projector away for `hold`, and the
        program started again as a plain restart would. `then`, when given, is what the system
        does once the fault is there."""
        self.control(options)
        if then:
            then()
        code = self.wait_exit(15)
        self.control("")
        if code is None:
            stacks = self.dump_stacks()
            self.kill()
            self.wait_exit(5)
            self.restart()
            return FaultResult(False, None, "the program did not end" + stacks)
        problems = self.check_end(code, line)
        time.sleep(hold)
        recovery = self.restart()
        return FaultResult(not problems and recovery is not None, recovery,
                           "; ".join(problems) or "ended as it should, restarted")

    def burst(self, options, hold, reads=False):
        """Failures that end by themselves; the time from the last one to the next frame."""
        before = self.counts().frames_shown
        step = self.control(options)
        if not wait_until(lambda: self.report().get("control_step", 0) >= step, 5):
            return FaultResult(False, None, "the projector did not take the failures")
        if not wait_until(lambda: self.report().get("injected_pending") == 0, 30):
            return FaultResult(False, None, "the failures were not all met")
        consumed, shown = time.monotonic(), self.counts().frames_shown
        if not wait_until(lambda: self.counts().frames_shown > shown, 10):
            return FaultResult(False, None, "no frame came after the failures")
        recovery = time.monotonic() - consumed
        note = f"{shown - before} frames shown meanwhile"
        time.sleep(hold)
        if not self.running():
            return FaultResult(False, None, "the program ended")
        if reads and self.warning_count() > self.warnings_seen:
            return FaultResult(False, recovery, "a failed status read gave a warning")
        return FaultResult(True, recovery, note)

    def still(self, hold):
        """The desktop standing still for `hold`, then changing again."""
        self.toggle_still()
        before = self.counts().frames_shown
        time.sleep(hold)
        during = self.counts().frames_shown - before
        self.toggle_still()
        return self.frames_again(f"{during} frames shown while still")

    def frames_again(self, note):
        """Pattern frames again after the desktop came back to the pattern."""
        start = time.monotonic()
        before = self.counts().pattern_frames
        if not wait_until(lambda: self.counts().pattern_frames >= before + 2, 10):
            return FaultResult(False, None, note + "; no pattern frame came after")
        return FaultResult(self.running(), time.monotonic() - start, note)
