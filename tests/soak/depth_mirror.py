"""kvusb-mirror on an Xvfb display of its own that shows the test pattern at the projector's size,
the virtual projector in process (depth a) or below the program at its sg nodes (depth b)."""

import os
import signal
import subprocess
import time

import soak_proc
from soak_depth import Depth, FaultResult, common_params, wait_until

USER_SIZE = "854x480"  # the pattern fills it, so every frame shown can be checked
OTHER_SIZE = "1024x768"
LARGEST_SIZE = "1920x1080"  # Xvfb's screen can be made no larger than it starts
GONE_LINE = "kvusb-mirror: the projector is gone (unplugged?)"
LIMIT_LINE = "kvusb-mirror: stopped after 100 failed frames in a row"
WARNINGS = {"fault1": "kvusb-mirror: warning: Projector Overheated.",
            "fault2": "kvusb-mirror: warning: Fan failure."}
MODES = [("800x600", "original"), ("800x600", "1"), ("800x600", "2"), ("mirror", "1")]


def params(kind, rng):
    if kind == "modes":
        mode, zoom = rng.choice(MODES)
        return rng.uniform(3, 8), {"mode": mode, "zoom": zoom}
    return common_params(kind, rng) or (rng.uniform(2, 8), {})


class MirrorDepth(Depth):
    program_name = "kvusb-mirror"
    gone_line, limit_line = GONE_LINE, LIMIT_LINE
    kinds = ["vanish", "write_burst", "link_limit", "status_reads", "fault1", "fault2", "modes",
             "still", "screen_size"]
    ending = {"vanish", "link_limit", "modes"}  # a mode is chosen at the start
    params = staticmethod(params)

    def __init__(self, work, binaries, below):
        super().__init__(work)
        self.mirror, self.helper = binaries["mirror"], binaries["helper"]
        self.preload = binaries.get("sg_nodes") if below else None
        self.machine = os.path.join(os.path.dirname(__file__), "..", "below", "fake_machine.sh")
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith("VORN_KVUSB") and k != "DBUS_SESSION_BUS_ADDRESS"}
        self.env["XDG_CONFIG_HOME"] = os.path.join(work, "config")
        # A runtime directory of its own: another run of the user's elsewhere is not this one.
        self.env["XDG_RUNTIME_DIR"] = os.path.join(work, "runtime")
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        self.helpers = []

    # ---- The desktop

    def start_environment(self):
        for program in ("Xvfb", "xrandr", "xdpyinfo"):
            if not any(os.access(os.path.join(d, program), os.X_OK)
                       for d in os.environ.get("PATH", "").split(":")):
                return f"{program} is not installed"
        if self.preload and os.geteuid() != 0:
            return "the projector below the program needs root"
        ready_path = os.path.join(self.work, "display")
        open(ready_path, "w").close()
        # Xvfb finds a free display itself and names it once it accepts connections.
        self.xvfb = subprocess.Popen(
            ["sh", "-c", 'exec Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp -br -noreset '
             '3>"$0"', ready_path, LARGEST_SIZE + "x24"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: open(ready_path).read().strip(), 10):
            raise RuntimeError("no Xvfb would start")
        self.env["DISPLAY"] = ":" + open(ready_path).read().strip()
        for size in (USER_SIZE, "800x600", OTHER_SIZE):
            self.start_helper("offer-mode", size)
        self.set_screen_size(USER_SIZE)
        self.pattern = self.start_helper("pattern")
        return None

    def start_helper(self, *args):
        out = open(os.path.join(self.work, f"helper-{len(self.helpers)}.out"), "w+")
        helper = subprocess.Popen([self.helper, *args], env=self.env, stdout=out)
        self.helpers.append(helper)
        if not wait_until(lambda: "ready" in open(out.name).read(), 10):
            raise RuntimeError(f"the X helper did not start: {args}")
        return helper

    def screen_size(self):
        text = subprocess.run(["xdpyinfo"], env=self.env, capture_output=True, text=True).stdout
        for line in text.splitlines():
            if "dimensions:" in line:
                return line.split()[1]
        return None

    def set_screen_size(self, size):
        subprocess.run(["xrandr", "--output", "screen", "--mode", size], env=self.env,
                       check=True, capture_output=True)

    def stop_environment(self):
        for process in self.helpers + [getattr(self, "xvfb", None)]:
            if process is not None and process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(10)

    # ---- The program

    def command(self, mode="mirror", zoom="original"):
        options = self.projector_options()
        args = [self.mirror, "--display-mode", mode, "--zoom", zoom, "-v"]
        env = dict(self.env)
        if self.preload:
            env["KVUSB_SG_PROJECTOR"] = options
            return ["bash", self.machine, "--preload", self.preload, "--projectors", "1",
                    "--optical", "sr", "--", *args], env
        return args + ["--device", "virtual:" + options], env

    def launch(self, mode, zoom):
        self.err_path = os.path.join(self.work, f"run-{self.runs}.err")
        command, env = self.command(mode, zoom)
        with open(self.err_path, "w") as err:
            self.process = subprocess.Popen(command, env=env, stdout=err, stderr=err,
                                            cwd=self.work)

    def exit_code(self, seconds):
        try:
            return self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            return None

    def ask_to_end(self):
        pid = self.program_pid()
        if pid is not None:
            os.kill(pid, signal.SIGTERM)  # as systemd stops the user unit

    def kill(self):
        self.process.kill()

    def program_pid(self):
        if not self.live:
            return None
        if not self.preload:
            return self.process.pid
        return soak_proc.find_below(self.process.pid, self.program_name)

    # ---- Faults

    def own_fault(self, fault):
        if fault.kind in WARNINGS:
            return self.warning(fault.kind, fault.hold)
        if fault.kind == "modes":
            return self.modes(fault.param["mode"], fault.param["zoom"], fault.hold)
        if fault.kind == "still":
            return self.still(fault.hold)
        return self.screen_change(fault.hold)

    def warning(self, kind, hold):
        line = WARNINGS[kind]
        before = self.warning_lines(line)
        start = time.monotonic()
        self.control("fault=" + kind[-1])
        noticed = wait_until(lambda: self.warning_lines(line) > before, 5)
        notice = time.monotonic() - start if noticed else None
        time.sleep(max(0.0, hold - (time.monotonic() - start)))
        self.control("fault=0")
        count = self.warning_lines(line) - before
        self.warnings_seen = self.warning_count()
        ok = noticed and count == 1 and self.running()
        return FaultResult(ok, notice, f"{count} warning line(s) for one fault")

    def modes(self, mode, zoom, hold):
        problems = self.graceful_stop()
        recovery = self.restart(mode, zoom)
        if mode == "800x600" and self.screen_size() != "800x600":
            problems.append(f"the screen is {self.screen_size()} in the 800x600 mode")
        time.sleep(hold)
        problems += self.graceful_stop()
        back = self.restart()
        ok = not problems and recovery is not None and back is not None
        return FaultResult(ok, back, "; ".join(problems) or f"{mode} zoom {zoom}, and back")

    def toggle_still(self):
        self.pattern.send_signal(signal.SIGUSR1)

    def screen_change(self, hold):
        self.set_screen_size(OTHER_SIZE)
        self.expected_size = OTHER_SIZE
        before = self.counts().frames_shown
        time.sleep(hold)
        during = self.counts().frames_shown - before
        self.set_screen_size(USER_SIZE)
        self.expected_size = USER_SIZE
        return self.frames_again(f"{during} frames shown at {OTHER_SIZE}")

    def check_end(self, code, line=None):
        problems = []
        if code != 0:
            problems.append(f"exit code {code}")
        if line and line not in self.errors():
            problems.append(f"no '{line}'")
        size = self.screen_size()
        if size != self.expected_size:
            problems.append(f"the desktop was left at {size}")
        return problems

    def warning_lines(self, line):
        return self.errors().count(line)

    def warning_count(self):
        return sum(self.errors().count(line) for line in WARNINGS.values())

    def errors(self):
        try:
            with open(self.err_path, errors="replace") as err:
                return [line.rstrip("\n") for line in err]
        except OSError:
            return []
