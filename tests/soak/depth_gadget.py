"""kvusb-gadget in the kernel test's virtual machine, kvusbtool stream (kvusb-mirror's loop, the
synthetic pattern as its source) driving it through the guest's USB storage stack: the guest
(gadget_guest.sh) runs both on the harness's commands, through the folder it shares with the
host, where the gadget also finds its control file and writes its report."""

import os
import subprocess
import threading
import time

from soak_depth import Depth, FaultResult, common_params, wait_until
from soak_report import Counts, read_counts

GONE_LINES = ("kvusbtool stream: the engine ended the run (the projector is gone)",
              "kvusbtool stream: the optical unit was removed")
WARNINGS = {"fault1": "kvusbtool stream: warning: Projector Overheated.",
            "fault2": "kvusbtool stream: warning: Fan failure."}
GUEST_TICKS = 100  # the guest kernel's clock ticks a second
BOOT_SECONDS = 300  # under TCG on a busy machine


def params(kind, rng):
    return common_params(kind, rng) or (rng.uniform(2, 5), {})


class GadgetDepth(Depth):
    program_name = "kvusbtool"
    default_seconds = 45
    # A command the gadget fails reaches the program as a CHECK CONDITION, which it counts as
    # done (the status is not examined): no write burst here, its frames would go on short of
    # the slices that failed. Nor link_limit: every command failed, the guest kernel's error
    # handling resets the device until the units are gone.
    kinds = ["vanish", "status_reads", "fault1", "fault2"]
    ending = {"vanish"}
    params = staticmethod(params)

    def __init__(self, work, binaries):
        super().__init__(work)
        self.binaries = binaries
        self.vm = os.path.join(work, "vm")
        self.shared = os.path.join(self.vm, "results", "soak")
        self.sequence = 0
        self.asking = threading.Lock()  # the sampler asks too
        self.plugs = 0
        self.plugged = False
        self.gadget_counts = Counts()  # of the gadgets that left the bus

    def start_environment(self):
        self.log = open(os.path.join(self.work, "vm.log"), "w")
        self.machine = subprocess.Popen(
            ["sh", self.binaries["kernel_test"], self.binaries["gadget"], self.binaries["tool"],
             self.binaries["source"], self.vm,
             os.path.join(os.path.dirname(os.path.abspath(__file__)), "gadget_guest.sh")],
            stdout=self.log, stderr=subprocess.STDOUT)
        ready = os.path.join(self.shared, "ready")
        if not wait_until(lambda: os.path.exists(ready) or self.machine.poll() is not None,
                          BOOT_SECONDS, step=0.5):
            self.machine.kill()
            raise RuntimeError("the virtual machine did not come up")
        if self.machine.poll() == 77:
            return "no guest kernel or QEMU (scripts/install-deps.sh)"
        if not os.path.exists(ready):
            raise RuntimeError(f"the virtual machine ended with {self.machine.returncode}")
        self.control_path = os.path.join(self.shared, "control")
        self.control("")
        return None

    def ask(self, command):
        """The guest's answer, or None when it gave none within a minute."""
        with self.asking:
            self.sequence += 1
            path = os.path.join(self.shared, "command")
            with open(path + ".new", "w") as out:
                out.write(f"{self.sequence} {command}\n")
            os.replace(path + ".new", path)
            answer = os.path.join(self.shared, "answer")
            prefix = f"{self.sequence} "
            got = []

            def answered():
                with open(answer) as text:
                    line = text.read().strip()
                got[:] = [line[len(prefix):]] if line.startswith(prefix) else []
                return bool(got)
            return got[0] if wait_until(answered, 60, step=0.05) else None

    def stop_environment(self):
        if self.plugged:
            self.unplug()
        self.ask("poweroff")
        try:
            self.machine.wait(60)
        except subprocess.TimeoutExpired:
            self.machine.kill()
            self.machine.wait()

    def screen_size(self):
        return None  # no desktop

    # ---- The projector: one gadget for as long as it stays on the bus

    def report_path(self):
        return os.path.join(self.shared, f"report-{self.plugs}.txt")

    def guest_path(self, path):
        return "/results/soak/" + os.path.basename(path)

    def plug(self):
        self.plugs += 1
        options = (f"report={self.guest_path(self.report_path())},"
                   f"control={self.guest_path(self.control_path)},log=2000")
        self.plugged = self.ask("plug " + options) == "plugged"

    def gadget_left(self, seconds):
        """Whether the gadget has left the bus (its counts then kept)."""
        if not wait_until(lambda: self.ask("gadget") != "gadget running", seconds, step=0.5):
            return False
        self.gadget_counts = self.gadget_counts.plus(read_counts(self.report_path()))
        self.plugged = False
        return True

    def unplug(self):
        self.ask("unplug")
        self.gadget_left(30)

    def counts(self):
        with self.lock:
            current = read_counts(self.report_path()) if self.plugged else Counts()
            return self.gadget_counts.plus(current)

    def frames_before_run(self):
        return read_counts(self.report_path()).frames_shown if self.plugged else 0

    def run_ended(self):
        pass  # the gadget's counts are kept when it leaves the bus

    # ---- The program

    def launch(self, mode, zoom):
        if not self.plugged:  # first, or after the gadget left the bus
            self.plug()
        self.ask(f"start {self.runs}")

    def exit_code(self, seconds):
        found = []

        def ended():
            answer = self.ask("exit") or "exit 99"
            found[:] = [] if answer == "exit running" else [int(answer.split()[1])]
            return bool(found)
        return found[0] if wait_until(ended, seconds, step=0.2) else None

    def ask_to_end(self):
        self.ask("term")  # as systemd stops the user unit

    def kill(self):
        self.ask("kill")

    def program_pid(self):
        return None  # in the guest: process_sample asks there

    def process_sample(self):
        if not self.live:
            return None
        words = (self.ask("proc") or "proc none").split()
        if len(words) != 5:
            return None
        rss_kb, threads, fds, ticks = (int(word) for word in words[1:])
        return self.runs, rss_kb, threads, fds, ticks / GUEST_TICKS

    def left_behind(self):
        answer = self.ask("left")
        return [] if answer == "none" else (answer or "?").split()

    def errors(self):
        try:
            with open(os.path.join(self.shared, f"run-{self.runs}.err"), errors="replace") as err:
                return [line.rstrip("\n") for line in err]
        except OSError:
            return []

    def check_end(self, code, line=None):
        problems = [f"exit code {code}"] if code != 0 else []
        lines = GONE_LINES if line == "gone" else (line,) if line else ()
        if lines and not any(expected in self.errors() for expected in lines):
            problems.append(f"none of {lines}")
        return problems

    def warning_count(self):
        errors = self.errors()
        return sum(errors.count(line) for line in WARNINGS.values())

    # ---- Faults

    def fault(self, fault):
        if fault.kind != "vanish":
            return super().fault(fault)
        # The gadget leaves the bus by itself; it is plugged in again for the next run.
        return self.ending_fault(f"vanish_at_slice={fault.param['slice']}", "gone", fault.hold,
                                 then=lambda: self.gadget_left(30))

    def own_fault(self, fault):
        line = WARNINGS[fault.kind]
        start = time.monotonic()
        self.control("fault=" + fault.kind[-1])
        noticed = wait_until(lambda: line in self.errors(), 10, step=0.2)
        notice = time.monotonic() - start if noticed else None
        time.sleep(max(0.0, fault.hold - (time.monotonic() - start)))
        self.control("fault=0")
        self.warnings_seen = self.warning_count()
        ok = noticed and self.running()
        return FaultResult(ok, notice, "the fault reported" if noticed else "no line for the fault")
