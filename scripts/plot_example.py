#!/usr/bin/env python3
"""Draws the valley example's results into two PNG files.

  valley_hydrograph.png  the outlet hydrograph (valley.otl) under the uniform rain
                         of the project file (RAIN_INTENSITY, RAIN_DURATION)
  valley_max_depth.png   the largest overland depth of every cell over the run
                         (the FLOOD_GRID data set valley_max_depth.dat)

Usage: scripts/plot_example.py [run folder] [picture folder]
The run folder defaults to build/example (where scripts/run_example.sh runs the
example), the picture folder to the run folder.
"""
import os
import sys


def read_cards(path):
    cards = {}
    with open(path) as f:
        for line in f:
            words = line.split()
            if words and not words[0].startswith("#"):
                cards[words[0].upper()] = words[1:]
    return cards


def read_hydrograph(path):
    minutes, flow = [], []
    with open(path) as f:
        for line in f:
            words = line.split()
            if len(words) == 2:
                minutes.append(float(words[0]))
                flow.append(float(words[1]))
    return minutes, flow


def read_dataset_last_step(path):
    """The last time step of an ASCII data set: its cell count, status flags and values."""
    with open(path) as f:
        lines = [line.strip() for line in f]
    count, step = 0, None
    for k, line in enumerate(lines):
        if line.startswith("ND "):
            count = int(line.split()[1])
        elif line.startswith("TS "):
            step = k
    if step is None or count == 0:
        raise ValueError(f"{path} holds no time step of a data set")
    flags = [int(v) for v in lines[step + 1:step + 1 + count]]
    values = [float(v) for v in lines[step + 1 + count:step + 1 + 2 * count]]
    return flags, values


def main():
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("This script needs matplotlib for Python 3. Install it with")
        print("  sudo apt-get install python3-matplotlib     (Debian, Ubuntu)")
        print("or")
        print("  python3 -m pip install --user matplotlib")
        return 1

    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    run = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "build", "example")
    out = sys.argv[2] if len(sys.argv) > 2 else run
    cards = read_cards(os.path.join(run, "valley.prj"))
    rows, cols = int(cards["ROWS"][0]), int(cards["COLS"][0])
    intensity = float(cards["RAIN_INTENSITY"][0])
    duration = float(cards["RAIN_DURATION"][0])

    minutes, flow = read_hydrograph(os.path.join(run, cards["OUTLET_HYDRO"][0]))
    fig, (rain_axis, flow_axis) = plt.subplots(
        2, 1, sharex=True, figsize=(8, 5), gridspec_kw={"height_ratios": [1, 3]})
    rain_axis.bar([0.0], [intensity], width=duration, align="edge", color="tab:blue")
    rain_axis.set_ylim(intensity * 1.6, 0.0)
    rain_axis.set_ylabel("rain (mm/h)")
    rain_axis.set_title("Valley example: uniform storm and outlet hydrograph")
    flow_axis.plot(minutes, flow, color="black")
    flow_axis.set_xlabel("time since the start of the run (minutes)")
    flow_axis.set_ylabel("outlet discharge (m$^3$/s)")
    flow_axis.set_xlim(0.0, minutes[-1] if minutes else 1.0)
    flow_axis.grid(alpha=0.3)
    fig.tight_layout()
    hydrograph_png = os.path.join(out, "valley_hydrograph.png")
    fig.savefig(hydrograph_png, dpi=100)

    flags, values = read_dataset_last_step(os.path.join(run, cards["FLOOD_GRID"][0]))
    if len(values) != rows * cols:
        raise ValueError(f"the data set holds {len(values)} cells, the grid {rows * cols}")
    grid = [[values[r * cols + c] * 100.0 if flags[r * cols + c] else float("nan")
             for c in range(cols)] for r in range(rows)]
    size = float(cards["GRIDSIZE"][0])
    fig, axis = plt.subplots(figsize=(5.5, 6.5))
    image = axis.imshow(grid, cmap="Blues", extent=(0, cols * size, 0, rows * size))
    axis.set_title("Valley example: largest overland depth")
    axis.set_xlabel("east (m)")
    axis.set_ylabel("north (m)")
    fig.colorbar(image, ax=axis, label="largest depth (cm)")
    fig.tight_layout()
    depth_png = os.path.join(out, "valley_max_depth.png")
    fig.savefig(depth_png, dpi=100)
    print(f"wrote {hydrograph_png}")
    print(f"wrote {depth_png}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
