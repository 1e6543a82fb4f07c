"""One PNG a run: memory, descriptors, threads and CPU over time, the faults marked."""

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as pyplot  # noqa: E402

PANELS = [("rss_kb", "resident memory (MB)", 1 / 1024), ("fds", "open descriptors", 1),
          ("threads", "threads", 1), ("cpu_percent", "CPU (% of one core)", 1)]
COLOURS = ["tab:red", "tab:orange", "tab:purple", "tab:green", "tab:pink", "tab:olive",
           "tab:cyan", "black", "tab:gray", "tab:brown"]


def plot(path, samples, faults, unjudged, title):
    figure, axes = pyplot.subplots(len(PANELS), 1, sharex=True, figsize=(11, 9))
    kinds = sorted({kind for _, _, kind, _ in faults})
    colour = {kind: COLOURS[i % len(COLOURS)] for i, kind in enumerate(kinds)}
    for axis, (key, label, scale) in zip(axes, PANELS):
        runs = sorted({s["run"] for s in samples})
        for run in runs:
            points = [(s["t"] / 60, s[key] * scale) for s in samples
                      if s["run"] == run and s[key] is not None]
            if points:
                axis.plot(*zip(*points), color="tab:blue", marker=".", markersize=3,
                          linewidth=1)
        axis.set_ylabel(label)
        for start, judged in unjudged:
            axis.axvspan(start / 60, judged / 60, color="0.9")
        for at, hold, kind, ok in faults:
            axis.axvline(at / 60, color=colour[kind], linestyle="-" if ok else ":",
                         linewidth=1)
            axis.axvspan(at / 60, (at + hold) / 60, color=colour[kind], alpha=0.15)
        axis.grid(True, alpha=0.3)
    handles = [pyplot.Line2D([], [], color=colour[k], label=k) for k in kinds]
    axes[0].legend(handles=handles, loc="upper left", fontsize=7, ncol=5)
    axes[-1].set_xlabel("minutes (each fault from its start over its hold; dotted: its verdict "
                        "failed; grey: each run's warm-up and first visits, not judged)")
    figure.suptitle(title)
    figure.tight_layout()
    figure.savefig(path, dpi=90)
    pyplot.close(figure)
