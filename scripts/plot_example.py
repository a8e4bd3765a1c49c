#!/usr/bin/env python3
"""Draws a korva run's outlet hydrograph and largest overland depths into PNG files.

  <name>_hydrograph.png  the outlet hydrograph (OUTLET_HYDRO), under the uniform rain
                         of the project file when it has one (RAIN_INTENSITY,
                         RAIN_DURATION)
  <name>_max_depth.png   the largest overland depth of every cell over the run
                         (the FLOOD_GRID data set, ASCII: MAP_TYPE 0 or 1)

Usage:
  scripts/plot_example.py [run folder] [picture folder]
      the bundled valley example (valley.prj in the run folder, by default
      build/example, where scripts/run_example.sh runs it)
  scripts/plot_example.py PROJECT.prj [picture folder]
      any project that has run: its cards name the hydrograph, the data set and the
      grid; the files are looked for beside the project file
  scripts/plot_example.py --hydrograph FILE [--max-depth FILE --rows N --cols M
                          [--gridsize METRES]] [--time minutes|year|julian] [--out FOLDER]
      the two outputs named directly (the depth map needs the grid's size)
The time axis is an event run's minutes since its start; a long-term run's hydrograph
(decimal years, or Julian days with STRICT_JULIAN_DATE) is drawn against dates.
The picture folder defaults to the run folder (the hydrograph's folder).

It needs matplotlib. It runs under the interpreter that `python3` names on your
PATH; when matplotlib was installed for another one (for example the system's
/usr/bin/python3 by the package manager), run the script with that one:
  /usr/bin/python3 scripts/plot_example.py ...
"""
import argparse
import datetime
import math
import os
import sys


def read_cards(path):
    cards = {}
    with open(path) as f:
        for line in f:
            words = line.split()
            if words and not words[0].startswith("#"):
                cards[words[0].upper()] = [w.strip('"') for w in words[1:]]
    return cards


def read_hydrograph(path):
    minutes, flow = [], []
    with open(path) as f:
        for line in f:
            words = line.split()
            if len(words) == 2:
                minutes.append(float(words[0]))
                flow.append(float(words[1]))
    if not minutes:
        raise ValueError(f"{path} holds no line of time and discharge")
    return minutes, flow


def read_dataset_last_step(path):
    """The last time step of an ASCII data set: its cell count, status flags and values."""
    with open(path, "rb") as f:
        head = f.read(7)
    if head != b"DATASET":
        raise ValueError(f"{path} is not an ASCII data set (MAP_TYPE 2 writes binary ones)")
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


def decimal_year_date(t):
    """The date and time of a long-term run's decimal year: year + (day of the year x 1440
    + hour x 60 + minute) / minutes of the year, the day of the year counted from 1."""
    year = math.floor(t)
    days = 366 if year % 4 == 0 and (year % 100 != 0 or year % 400 == 0) else 365
    minutes = (t - year) * days * 1440.0 - 1440.0
    # Eight decimals of a year are a third of a second: the time is kept to the second.
    return datetime.datetime(year, 1, 1) + datetime.timedelta(seconds=round(minutes * 60.0))


def julian_day_date(t):
    """The date and time of a Julian day (day 2440587.5 began on 1 January 1970)."""
    return datetime.datetime(1970, 1, 1) + datetime.timedelta(days=t - 2440587.5)


def time_kind(cards, times):
    """How the hydrograph's time column counts: "minutes" since the start (event runs),
    "year" (decimal years of a long-term run) or "julian" (STRICT_JULIAN_DATE)."""
    if cards is not None:
        if "STRICT_JULIAN_DATE" in cards:
            return "julian"
        return "year" if "LONG_TERM" in cards else "minutes"
    if times[0] > 100000.0:
        return "julian"
    steps = [b - a for a, b in zip(times, times[1:])]
    if 1000.0 <= times[0] <= 9999.0 and all(0.0 <= d < 0.01 for d in steps):
        return "year"
    return "minutes"


def interpreter_note():
    return (f"(this is Python {sys.version.split()[0]} at {sys.executable}; to use another "
            f"interpreter, run it with that one: /usr/bin/python3 {sys.argv[0]} ...)")


def what_to_plot(argv):
    """Name, hydrograph file, data-set file or None, rows, cols, cell size, rain, picture
    folder, and the project's cards (None when the files are named directly)."""
    parser = argparse.ArgumentParser(
        description="Draws a korva run's outlet hydrograph and largest overland depths.",
        epilog=interpreter_note())
    parser.add_argument("place", nargs="?", help="run folder of the valley example, or a project file")
    parser.add_argument("pictures", nargs="?", help="folder for the pictures")
    parser.add_argument("--hydrograph", help="an outlet hydrograph file (time, m3/s)")
    parser.add_argument("--max-depth", help="a FLOOD_GRID data set (ASCII)")
    parser.add_argument("--rows", type=int)
    parser.add_argument("--cols", type=int)
    parser.add_argument("--gridsize", type=float, default=1.0)
    parser.add_argument("--time", choices=("minutes", "year", "julian"),
                        help="what the hydrograph's time column counts (by default guessed "
                             "from its values)")
    parser.add_argument("--out", help="folder for the pictures")
    a = parser.parse_args(argv)
    if a.hydrograph:
        if a.max_depth and not (a.rows and a.cols):
            parser.error("--max-depth needs --rows and --cols")
        name = os.path.splitext(os.path.basename(a.hydrograph))[0]
        out = a.out or os.path.dirname(os.path.abspath(a.hydrograph))
        cards = {"STRICT_JULIAN_DATE": []} if a.time == "julian" else (
            {"LONG_TERM": []} if a.time == "year" else ({} if a.time else None))
        return name, a.hydrograph, a.max_depth, a.rows, a.cols, a.gridsize, None, out, cards
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    place = a.place or os.path.join(top, "build", "example")
    project = place if os.path.isfile(place) else os.path.join(place, "valley.prj")
    run = os.path.dirname(os.path.abspath(project))
    cards = read_cards(project)
    for card in ("OUTLET_HYDRO", "ROWS", "COLS", "GRIDSIZE"):
        if card not in cards or not cards[card]:
            raise ValueError(f"the project file {project} has no {card} card")
    rain = None
    if "RAIN_INTENSITY" in cards and "RAIN_DURATION" in cards and "PRECIP_FILE" not in cards:
        rain = float(cards["RAIN_INTENSITY"][0]), float(cards["RAIN_DURATION"][0])
    depth = os.path.join(run, cards["FLOOD_GRID"][0]) if cards.get("FLOOD_GRID") else None
    name = os.path.splitext(os.path.basename(project))[0]
    out = a.out or a.pictures or run
    return (name, os.path.join(run, cards["OUTLET_HYDRO"][0]), depth, int(cards["ROWS"][0]),
            int(cards["COLS"][0]), float(cards["GRIDSIZE"][0]), rain, out, cards)


def main(argv):
    try:
        name, hydrograph, depth, rows, cols, size, rain, out, cards = what_to_plot(argv)
    except (OSError, ValueError) as e:
        print(f"Error: {e}")
        return 1
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print(f"This script needs matplotlib, which the interpreter it ran under lacks:")
        print(f"  Python {sys.version.split()[0]} at {sys.executable}")
        print("Install it for that interpreter with")
        print(f"  {sys.executable} -m pip install --user matplotlib")
        print("or, when matplotlib is installed for another interpreter (the system's, by")
        print("  sudo apt-get install python3-matplotlib     on Debian and Ubuntu),")
        print("run the script with that one:")
        print(f"  /usr/bin/python3 {sys.argv[0]} {' '.join(argv)}".rstrip())
        return 1

    try:
        minutes, flow = read_hydrograph(hydrograph)
        depth_values = read_dataset_last_step(depth) if depth else None
    except (OSError, ValueError) as e:
        print(f"Error: {e}")
        return 1
    kind = time_kind(cards, minutes)
    if kind != "minutes":
        rain = None  # the storm bar is drawn on the minutes of an event run
        to_date = decimal_year_date if kind == "year" else julian_day_date
        minutes = [to_date(t) for t in minutes]
    if rain:
        fig, (rain_axis, flow_axis) = plt.subplots(
            2, 1, sharex=True, figsize=(8, 5), gridspec_kw={"height_ratios": [1, 3]})
        intensity, duration = rain
        rain_axis.bar([0.0], [intensity], width=duration, align="edge", color="tab:blue")
        rain_axis.set_ylim(intensity * 1.6, 0.0)
        rain_axis.set_ylabel("rain (mm/h)")
        rain_axis.set_title(f"{name}: uniform storm and outlet hydrograph")
    else:
        fig, flow_axis = plt.subplots(figsize=(8, 4))
        flow_axis.set_title(f"{name}: outlet hydrograph")
    flow_axis.plot(minutes, flow, color="black")
    if kind == "minutes":
        flow_axis.set_xlabel("time since the start of the run (minutes)")
    else:
        import matplotlib.dates as mdates
        locator = mdates.AutoDateLocator()
        flow_axis.xaxis.set_major_locator(locator)
        flow_axis.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
        flow_axis.set_xlabel("date and time (the clock of the run's weather and rain files)")
    flow_axis.set_ylabel("outlet discharge (m$^3$/s)")
    flow_axis.set_xlim(minutes[0], minutes[-1])
    flow_axis.grid(alpha=0.3)
    fig.tight_layout()
    written = [os.path.join(out, f"{name}_hydrograph.png")]
    fig.savefig(written[0], dpi=100)

    if depth_values:
        flags, values = depth_values
        if len(values) != rows * cols:
            print(f"Error: the data set {depth} holds {len(values)} cells, the grid {rows * cols}")
            return 1
        grid = [[values[r * cols + c] * 100.0 if flags[r * cols + c] else float("nan")
                 for c in range(cols)] for r in range(rows)]
        fig, axis = plt.subplots(figsize=(5.5, 6.5))
        image = axis.imshow(grid, cmap="Blues", extent=(0, cols * size, 0, rows * size))
        axis.set_title(f"{name}: largest overland depth")
        axis.set_xlabel("east (m)")
        axis.set_ylabel("north (m)")
        fig.colorbar(image, ax=axis, label="largest depth (cm)")
        fig.tight_layout()
        written.append(os.path.join(out, f"{name}_max_depth.png"))
        fig.savefig(written[-1], dpi=100)
    for path in written:
        print(f"wrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
