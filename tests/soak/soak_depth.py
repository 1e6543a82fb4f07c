"""What every depth shares: the program's runs one after another, the projector's control file
and report, and the counts summed over the runs."""

import os
import signal
import subprocess
import threading
import time
from dataclasses import dataclass

import soak_proc
from soak_report import Counts, read_counts, read_numbers

# Commands the virtual projector keeps in its log. Its default of 200,000 (about 11 MB) takes
# five minutes to fill and would hide the program's own slope for as long.
LOGGED_COMMANDS = 2000
FIRST_FRAME_SECONDS = 20


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

    def __init__(self, work):
        self.work = work
        self.control_path = os.path.join(work, "control")
        self.step = 0
        self.runs = 0
        self.process = None
        self.err_path = None
        self.finished = Counts()  # of the runs that have ended
        self.expected_size = None
        self.warnings_seen = 0
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
            current = read_counts(self.report_path()) if self.process else Counts()
            return self.finished.plus(current)

    def start(self, mode="mirror", zoom="original"):
        """Starts a run; False when no frame was shown within FIRST_FRAME_SECONDS."""
        self.control("")  # a new projector takes the step it finds: none that breaks it
        with self.lock:
            self.runs += 1
            self.err_path = os.path.join(self.work, f"run-{self.runs}.err")
            command, env = self.command(mode, zoom)
            with open(self.err_path, "w") as err:
                self.process = subprocess.Popen(command, env=env, stdout=err, stderr=err,
                                                cwd=self.work)
            self.warnings_seen = 0
        return wait_until(lambda: read_counts(self.report_path()).frames_shown > 0,
                          FIRST_FRAME_SECONDS)

    def restart(self, mode="mirror", zoom="original"):
        """Seconds from the start to the first frame shown, or None."""
        begun = time.monotonic()
        return time.monotonic() - begun if self.start(mode, zoom) else None

    def running(self):
        return self.process is not None and self.process.poll() is None

    def wait_exit(self, seconds):
        """The exit code of the run, once ended (its counts kept), or None."""
        try:
            code = self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            return None
        with self.lock:
            self.finished = self.finished.plus(read_counts(self.report_path()))
            self.process = None
        return code

    def graceful_stop(self):
        """SIGTERM, as the user's session manager stops it; the problems found."""
        pid = self.program_pid()
        if pid is not None:
            os.kill(pid, signal.SIGTERM)
        code = self.wait_exit(15)
        if code is None:
            self.process.kill()
            self.wait_exit(5)
            return ["SIGTERM did not end the program"]
        return self.check_end(code)

    def left_behind(self):
        """Processes of the program still there after its runs."""
        return [pid for pid, name in soak_proc.descendants(os.getpid())
                if name.startswith(self.program_name[:15])]
