"""The Windows program under Wine, run and sent the system's messages by soak_driver.exe inside
the end-to-end tests' prefix (tests/e2e/run_e2e.sh): vorn_kvusb_sim.exe with the virtual
projector and the synthetic pattern as its capture source in process (depth c), or the shipped
vorn_kvusb.exe with the projector below Wine, capturing a desktop that shows the pattern
(depth d)."""

import os
import queue
import signal
import subprocess
import threading
import time

import soak_proc
from soak_depth import LOGGED_COMMANDS, Depth, FaultResult, common_params, wait_until

GONE_TRACE = "ERROR_DEVICE_NOT_CONNECTED, vorn_kvusb end!!!"
LIMIT_TRACE = "USB Link error, vorn_kvusb end!!!"
SUSPEND_TRACE = "PBT_APMSUSPEND detected, will stop vorn_kvusb!"
REMOVED_TRACE = "KVUSB cd removed, will stop vorn_kvusb thread!"
ANSWER = "soak: "
FAILURE = "FAIL: "
MENU_ITEMS = ["800x600-original", "800x600-zoom1", "800x600-zoom2", "mirror-zoom1"]
# The start-up balloon, and a warning box once closed, are gone from the desktop by then.
PROGRAM_WINDOWS_SECONDS = 3
# What the driver may take to answer beyond what the command itself waits: a start under Wine
# on a busy machine takes seconds, never this long. Its first answer waits for the prefix,
# made in a minute or two the first time.
ANSWER_SECONDS = 30
FIRST_ANSWER_SECONDS = 300
# How often Wine's own processes are looked at while an answer is awaited.
WINE_LOOK_SECONDS = 1
# What a Wine process prints when it loses its server.
SERVER_CRASH = "wineserver crashed"


def params(kind, rng):
    if kind == "modes":
        return rng.uniform(3, 8), {"item": rng.choice(MENU_ITEMS)}
    if kind == "suspend":
        return rng.uniform(1, 3), {}
    return common_params(kind, rng) or (rng.uniform(2, 8), {})


def below_params(kind, rng):
    hold, param = params(kind, rng)
    if kind == "vanish":
        param["announced"] = rng.random() < 0.5  # Windows' removal broadcast, or none
    return hold, param


def windows_path(path):
    """The path as the prefix's drive Z: shows the Unix root."""
    return "Z:" + path.replace("/", "\\")


class ProgramDepth(Depth):
    program_name = "vorn_kvusb_sim.exe"
    gone_line, limit_line = GONE_TRACE, LIMIT_TRACE
    kinds = ["vanish", "write_burst", "link_limit", "status_reads", "fault1", "fault2", "modes",
             "lock", "suspend"]
    ending = {"vanish", "link_limit", "suspend"}
    variants = {"modes": ("item", MENU_ITEMS)}
    params = staticmethod(params)

    def __init__(self, work, binaries):
        super().__init__(work)
        self.binaries = binaries
        # The prefix outlives the run's folder: making it takes a minute. CTest gives the end-to-end
        # tests' own (wine_work=), which is made by then.
        self.wine_work = binaries.get("wine_work", work.rstrip("/") + "-wine")
        self.asking = threading.Lock()

    def start_environment(self):
        for program in ("wine", "Xvfb"):
            if not any(os.access(os.path.join(d, program), os.X_OK)
                       for d in os.environ.get("PATH", "").split(":")):
                return f"{program} is not installed"
        env = {k: v for k, v in os.environ.items() if not k.startswith("VORN_KVUSB")}
        self.start_driver(["sh", self.binaries["runner"], self.wine_work,
                           os.path.join(self.work, "shots"), self.binaries["driver"],
                           self.binaries["program"]], env)
        if self.ask("screen", FIRST_ANSWER_SECONDS) is None:
            return None if self.lost else "the driver did not answer under Wine"
        return None

    def start_driver(self, command, env):
        self.log_path = os.path.join(self.work, "driver.log")
        self.log = open(self.log_path, "w")
        # A session of its own, so that everything Wine started can be ended together.
        self.driver = subprocess.Popen(
            command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log,
            text=True, bufsize=1, start_new_session=True)
        self.answers = queue.Queue()
        threading.Thread(target=self.read_answers, daemon=True).start()

    def read_answers(self):
        for line in self.driver.stdout:
            self.answers.put(line)
        self.answers.put(None)

    def ask(self, command, seconds=ANSWER_SECONDS):
        """The driver's answer to a command, or None when it has gone; when Wine failed under
        it, self.lost says how, and every later command answers None at once."""
        with self.asking:
            if self.lost:
                return None
            try:
                self.driver.stdin.write(command + "\n")
                self.driver.stdin.flush()
            except OSError:
                self.lose(self.wine_problem() or "the driver under Wine has gone")
                return None
            waited = int(command.split()[1]) / 1000 if command.startswith("exit ") else 0
            deadline = time.monotonic() + waited + seconds
            while True:
                try:
                    line = self.answers.get(timeout=WINE_LOOK_SECONDS)
                except queue.Empty:
                    problem = self.wine_problem()
                    if problem is None and time.monotonic() > deadline:
                        problem = f"the driver did not answer '{command}' in {seconds:.0f} s"
                    if problem:
                        self.lose(problem)
                        return None
                    continue
                if line is None:
                    self.lose(self.wine_problem() or "the driver under Wine has gone")
                    return None
                self.log.write(f"{command} -> {line}")
                if line.startswith(FAILURE):  # the runner's own word on Wine
                    self.lose(line[len(FAILURE):].strip())
                    return None
                if line.startswith(ANSWER):
                    return line[len(ANSWER):].strip()

    def wine_problem(self):
        """What went wrong with Wine itself, or None."""
        self.log.flush()
        with open(self.log_path, errors="replace") as log:
            if SERVER_CRASH in log.read():
                return "Wine's server crashed (driver.log)"
        if self.driver.poll() is not None:
            return f"the driver under Wine ended with {self.driver.returncode}"
        return None

    def lose(self, problem):
        """Wine failed under the soak: said at once, and everything it ran ended."""
        self.lost = problem
        print(f"soak: FAILED: {problem}", flush=True)
        self.end_session()

    def end_session(self):
        try:
            os.killpg(self.driver.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        try:
            subprocess.run(["wineserver", "-k"], env={**os.environ, "WINEPREFIX": self.prefix()},
                           capture_output=True, timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            pass
        self.driver.wait(10)

    def prefix(self):
        return os.path.join(self.wine_work, "prefix")

    def stop_environment(self):
        if not self.lost:
            try:
                self.driver.stdin.close()
                self.driver.wait(60)
                return
            except (OSError, subprocess.TimeoutExpired):
                pass
        self.end_session()

    def screen_size(self):
        return self.ask("screen")

    def report_path(self):
        return os.path.join(self.wine_work, "runs", f"run-{self.runs}", "report.txt")

    def trace_path(self):
        return os.path.join(self.wine_work, "runs", f"run-{self.runs}", "trace.txt")

    def control_location(self):
        """The control file as the projector opens it: from the program's process."""
        return windows_path(self.control_path)

    def launch(self, mode, zoom):
        # The run's own report and frame are added by the driver.
        options = (f"link=2.0,delay=usb2,control={self.control_location()},"
                   f"log={LOGGED_COMMANDS}")
        self.started = self.ask("start " + options) == "started"

    def exit_code(self, seconds):
        answer = self.ask(f"exit {int(seconds * 1000)}") or "exit 99"
        return None if answer == "exit running" else int(answer.split()[1])

    def left_behind(self):
        # Wine reports the Windows process's exit before its Unix process is gone: a process
        # is left behind when it is still there seconds later.
        wait_until(lambda: not self.find_program(), 5)
        found = self.find_program()
        return [found] if found else []

    def ask_to_end(self):
        self.ask("close")

    def kill(self):
        self.ask("kill")

    def program_pid(self):
        return self.find_program() if self.live else None

    def find_program(self):
        return soak_proc.find_in_environment(self.program_name, "WINEPREFIX", self.prefix())

    def traces(self):
        try:
            with open(self.trace_path(), errors="replace") as traces:
                return [line.rstrip("\n") for line in traces]
        except OSError:
            return []

    def check_end(self, code, line=None):
        problems = []
        if code != 0:
            problems.append(f"exit code {code}")
        # A failed write's trace has no line break: the end's trace may follow on its line.
        if line and not any(trace.endswith(line) for trace in self.traces()):
            problems.append(f"no '{line}' traced")
        if self.traces()[-1:] != ["vorn_kvusb end!"] and line is None:
            problems.append("the shutdown did not end with 'vorn_kvusb end!'")
        size = self.screen_size()
        if size != self.expected_size:
            problems.append(f"the desktop was left at {size}")
        return problems

    def warning_count(self):
        answer = self.ask("warnings")
        return int(answer.split()[1]) if answer else 0

    # ---- Faults

    def own_fault(self, fault):
        if fault.kind in ("fault1", "fault2"):
            return self.warning(fault.kind[-1], fault.hold)
        if fault.kind == "modes":
            return self.modes(fault.param["item"], fault.hold)
        if fault.kind == "lock":
            return self.session_lock(fault.hold)
        return self.suspend(fault.hold)

    def warning(self, status, hold):
        start = time.monotonic()
        self.control("fault=" + status)
        shown = wait_until(lambda: self.warning_count() == 1, 5, step=0.2)
        notice = time.monotonic() - start if shown else None
        time.sleep(max(0.0, hold - (time.monotonic() - start)))
        self.control("fault=0")
        count = self.warning_count()
        self.ask("close-warnings")
        closed = wait_until(lambda: self.warning_count() == 0, 5, step=0.2)
        ok = shown and count == 1 and closed and self.running()
        return FaultResult(ok, notice, f"{count} warning box(es) for one fault, closed by the user")

    def modes(self, item, hold):
        problems = []
        self.ask("menu " + item)
        wanted = "800x600" if item.startswith("800x600") else self.expected_size
        if not wait_until(lambda: self.screen_size() == wanted, 10, step=0.2):
            problems.append(f"the desktop is {self.screen_size()} after {item}")
        time.sleep(hold)
        begun = time.monotonic()
        self.ask("menu mirror-original")
        if not wait_until(lambda: self.screen_size() == self.expected_size, 10, step=0.2):
            problems.append(f"the desktop stayed {self.screen_size()}")
        back = self.frames_again(f"{item}, and back")
        recovery = time.monotonic() - begun if back.ok else None
        return FaultResult(not problems and back.ok, recovery, "; ".join(problems) or back.note)

    def session_lock(self, hold):
        self.ask("lock")
        before = self.counts().frames_shown
        time.sleep(hold)
        during = self.counts().frames_shown - before
        self.ask("unlock")
        result = self.frames_again(f"{during} frames shown while locked")
        result.ok &= during > 0
        return result

    def suspend(self, hold):
        self.ask("suspend")
        code = self.wait_exit(15)
        if code is None:
            return FaultResult(False, None, "suspend did not end the program")
        problems = self.check_end(code, SUSPEND_TRACE)
        time.sleep(hold)  # asleep; the plug-in start runs it again on resume
        recovery = self.restart()
        return FaultResult(not problems and recovery is not None, recovery,
                           "; ".join(problems) or "ended for the suspend, restarted")


class ProgramBelowDepth(ProgramDepth):
    """The shipped program, the projector below Wine at the sg nodes of a machine of its own
    (tests/below: soak.py runs inside fake_machine.sh), on a desktop of the projector's size
    that the driver covers with the moving pattern."""
    program_name = "vorn_kvusb.exe"
    kinds = ProgramDepth.kinds + ["still"]
    params = staticmethod(below_params)

    def __init__(self, work, binaries):
        super().__init__(work, binaries)
        self.stamping = 0  # which change of the stamp is the latest
        self.stamp_timer = None

    def start_environment(self):
        if "KVUSB_SG_NODES" not in os.environ:
            return "no machine of its own: run soak.py under tests/below/fake_machine.sh"
        skipped = super().start_environment()
        if skipped is None and self.ask("pattern") != "ok":
            return "the driver did not show the pattern"
        return skipped

    def control_location(self):
        return self.control_path  # the projector is a part of the machine below Wine

    # The program's start-up balloon and its warning boxes come up over the desktop for a frame
    # or two before the pattern window covers them again: the frames of the seconds they may be
    # there are left unchecked, the pattern shown without its stamp.

    def unstamped(self):
        self.stamping += 1
        self.ask("stamp off")

    def stamp_later(self):
        stamping = self.stamping

        def stamp():
            if stamping == self.stamping:
                self.ask("stamp on")
        self.stamp_timer = threading.Timer(PROGRAM_WINDOWS_SECONDS, stamp)
        self.stamp_timer.start()

    def launch(self, mode, zoom):
        self.unstamped()
        super().launch(mode, zoom)
        self.stamp_later()

    def warning(self, status, hold):
        self.unstamped()
        result = super().warning(status, hold)
        self.stamp_later()
        return result

    def stop_environment(self):
        if self.stamp_timer:
            self.stamp_timer.cancel()
        super().stop_environment()

    def fault(self, fault):
        if fault.kind != "vanish":
            return super().fault(fault)
        options = f"vanish_at_slice={fault.param['slice']}"
        if fault.param["announced"]:
            return self.ending_fault(options, REMOVED_TRACE, fault.hold, then=self.announce)
        # Wine's pass-through has no error of its own for a unit that is gone: the program
        # takes the vanished projector for a link that fails (tests/below).
        return self.ending_fault(options, LIMIT_TRACE, fault.hold)

    def announce(self):
        """Windows' removal broadcast, once the program has met the unit gone."""
        wait_until(lambda: any("SCSI Error: " in trace for trace in self.traces()), 10, step=0.2)
        self.ask("removed")

    def own_fault(self, fault):
        if fault.kind == "still":
            return self.still(fault.hold)
        return super().own_fault(fault)

    def toggle_still(self):
        self.ask("still")
