"""What /proc tells of a process: memory, descriptors, threads, CPU time, and its descendants."""

import os

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def read_status(pid):
    """(resident KB, threads) or None when the process is gone."""
    try:
        with open(f"/proc/{pid}/status") as status:
            fields = dict(line.split(":", 1) for line in status if ":" in line)
        return int(fields["VmRSS"].split()[0]), int(fields["Threads"])
    except (OSError, KeyError, ValueError):
        return None


def count_fds(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return None


def cpu_seconds(pid):
    """User and system time of the whole process, or None."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            text = stat.read()
    except OSError:
        return None
    fields = text[text.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def _parents():
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                text = stat.read()
            parents[int(entry)] = (int(text[text.rindex(")") + 2:].split()[1]),
                                   text[text.index("(") + 1:text.rindex(")")])
        except (OSError, ValueError):
            continue
    return parents


def descendants(pid):
    """[(pid, name)] of every process below `pid`."""
    parents = _parents()
    found, frontier = [], {pid}
    while frontier:
        children = {p for p, (parent, _) in parents.items() if parent in frontier}
        found += [(p, parents[p][1]) for p in children]
        frontier = children
    return found


def find_below(pid, name):
    """The first process below `pid` (or `pid` itself) whose name starts with `name`."""
    for found, found_name in [(pid, process_name(pid))] + descendants(pid):
        if found_name and found_name.startswith(name[:15]):
            return found
    return None


def find_in_environment(name, variable, value):
    """A process whose name starts with `name` and whose environment holds variable=value:
    Wine starts a program's process from its own, not from the one that asked for it."""
    wanted = f"{variable}={value}".encode()
    for pid, (_, found_name) in _parents().items():
        if not found_name.startswith(name[:15]):
            continue
        try:
            with open(f"/proc/{pid}/environ", "rb") as environ:
                if wanted in environ.read().split(b"\0"):
                    return pid
        except OSError:
            continue
    return None


def process_name(pid):
    try:
        with open(f"/proc/{pid}/comm") as comm:
            return comm.read().strip()
    except OSError:
        return None
