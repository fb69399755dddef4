#!/usr/bin/python3
"""Plots of what the engine did, as PNG and SVG.

  plots.py recording FILE.csv --out PREFIX
      the six rig cues and the game's channels over time, from a recording
      (one row per engine tick, at the time the tick ran; a mark where the
      rig was sent to rest)
  plots.py filter "FILTER STRING" [--channel N] [--recording FILE.csv [--slot NAME]] --out PREFIX
      the step response of a filter string on channel N, and its response to a
      recorded channel: the real library computes both through the binding,
      fed by rezadedudid-sim, and every tick is taken from the snapshot histories.

Exit status: 0 done, 1 the run failed, 2 bad arguments (a filter string the
library refuses, an unknown channel or slot).
"""
import argparse
import csv
import multiprocessing
import os
import subprocess
import sys
import tempfile
import time

try:
    import matplotlib
except ImportError:
    if __name__ != "__main__":
        raise  # imported: the importer decides (the tests skip)
    # The python3 first on PATH may lack matplotlib; Debian's has it.
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3", os.path.abspath(__file__)] + sys.argv[1:])
    sys.exit("plots.py needs matplotlib: apt-get install python3-matplotlib")
matplotlib.use("Agg")
matplotlib.rcParams["svg.fonttype"] = "none"  # texts stay texts in the SVG
import matplotlib.pyplot as plt  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rezadedudid as rez  # noqa: E402

# The library keeps a diagnostic log in the user's Documents folder; where
# there is none (a bare root account), the temporary folder takes it.
if not (os.environ.get("REZ_DOCUMENTS_DIR") or os.environ.get("XDG_DOCUMENTS_DIR")
        or os.path.isdir(os.path.expanduser("~/Documents"))):
    os.environ["REZ_DOCUMENTS_DIR"] = tempfile.gettempdir()

TICK_HZ = 500.0
NOMINAL_TICK_S = 1 / TICK_HZ  # a tick's time where nothing else says
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def default_sim_path():
    """REZ_SIM_PATH, else the simulator of the Linux build (build/linux/rezadedudid-sim)."""
    return os.environ.get("REZ_SIM_PATH") or os.path.join(ROOT, "build", "linux", "rezadedudid-sim")


RIG_CUES = ["lateral", "longitudinal", "vertical", "yaw", "roll", "pitch"]  # output cues 0..5
# The frame carries each cue as the profile's filters make it from its slot:
# lateral, longitudinal and vertical from accelerations in m/s², yaw, roll and
# pitch from rates in °/s (roll and pitch also take the tilt channels 6 to 9).
CUE_GROUPS = ((0, "m/s²", "from accelerations, as the profile scales them"),
              (3, "°/s", "from rates, as the profile scales them; roll and pitch add tilt"))

# Whole names and units of slots 0..42 (the recording's columns have the
# library's short names). None: the unit is the game's own.
_AXES = (("lateral", 1), ("longitudinal", 5), ("vertical", 9))
_TURNS = (("yaw", 13), ("roll", 16), ("pitch", 19))
SLOT_TITLES = {0: ("slot 0 (no game writes it)", None), 42: ("belt sum", "belt channels 11 to 14, mixed"),
               22: ("front left suspension", None), 23: ("front right suspension", None),
               24: ("rear left suspension", None), 25: ("rear right suspension", None),
               26: ("engine torque", None), 27: ("engine speed", "rpm"), 28: ("speed", None), 29: ("stall", None),
               30: ("flaps", None), 31: ("landing gear turbulence", None), 32: ("landing gear", None),
               33: ("speed brakes", None)}
for _axis, _first in _AXES:
    SLOT_TITLES[_first] = ("%s speed" % _axis, "m/s")
    SLOT_TITLES[_first + 1] = ("%s acceleration" % _axis, "m/s²")
    SLOT_TITLES[_first + 2] = ("%s acceleration with gravity" % _axis, "m/s²")
    SLOT_TITLES[_first + 3] = ("%s gravity part" % _axis, "m/s²")
for _turn, _first in _TURNS:
    SLOT_TITLES[_first] = ("%s angle" % _turn, "°")
    SLOT_TITLES[_first + 1] = ("%s rate" % _turn, "°/s")
    SLOT_TITLES[_first + 2] = ("%s acceleration" % _turn, "°/s²")
for _k in range(8):
    SLOT_TITLES[34 + _k] = ("SimTools axis %d%s" % (_k % 4 + 1, "ab"[_k // 4]), None)

# What each of the 23 channels computes.
CHANNEL_NAMES = RIG_CUES + ["lateral tilt (into roll)", "longitudinal tilt (into pitch)",
                            "roll angle (into roll)", "pitch angle (into pitch)", "belt",
                            "belt: longitudinal part", "belt: vertical part", "belt: roll part",
                            "belt: pitch part"] + ["%s effect" % c for c in RIG_CUES] + ["fan", "unused"]


def slot_title(name):
    """(whole name, unit or None) of a recording column named for a slot."""
    if name in rez.SLOT_NAMES:
        return SLOT_TITLES[rez.SLOT_NAMES.index(name)]
    return name, None
DEFAULT_GAME = "assetto_corsa"

# The game slot each channel reads (channel 10 reads the belt sum the engine
# writes into slot 42; 15..20 read slot 0, which no game writes; 22 reads nothing).
CHANNEL_SLOT = {0: 3, 1: 7, 2: 11, 3: 14, 4: 17, 5: 20, 6: 3, 7: 7, 8: 16, 9: 19, 10: 42,
                11: 7, 12: 11, 13: 17, 14: 20, 15: 0, 16: 0, 17: 0, 18: 0, 19: 0, 20: 0, 21: 28}
# The engine searches this long before the simulated game appears: a search
# longer than the 4000 ms output fade lets the first tick start at the live values.
SEARCH_SECONDS = 4.3
FETCH_SECONDS = 0.05   # the histories hold 150 ticks (300 ms); fetch well within that


class UsageError(Exception):
    pass


# ---- recordings ---------------------------------------------------------------------

def read_recording(path):
    """(game, columns, rest) of a recording file: columns maps each column name to its
    list of floats, "time_s" included (tick x 2 ms for a version 1 file, which has
    none); rest is the time_s where the rest fade began, or None."""
    game = ""
    rest = None
    names = None
    rows = []
    with open(path, newline="") as f:
        for number, line in enumerate(f, 1):
            if line.startswith("#"):
                if line.startswith("# game:"):
                    game = line[len("# game:"):].strip()
                elif line.startswith("# rest:"):
                    try:
                        rest = float(line[len("# rest:"):])
                    except ValueError:
                        raise ValueError("%s line %d: the rest mark is not a time" % (path, number)) from None
                continue
            if not line.strip():
                continue
            fields = next(csv.reader([line]))
            if names is None:
                names = fields
                if names[:1] != ["tick"]:
                    raise ValueError("%s line %d: not a recording header" % (path, number))
                continue
            if len(fields) != len(names):
                raise ValueError("%s line %d: %d fields, the header has %d" % (path, number, len(fields), len(names)))
            try:
                rows.append([float(x) for x in fields])
            except ValueError:
                raise ValueError("%s line %d: not a number" % (path, number)) from None
    if names is None:
        raise ValueError("%s: no header line" % path)
    columns = {name: [row[i] for row in rows] for i, name in enumerate(names)}
    if "time_s" not in columns:
        columns["time_s"] = [tick * NOMINAL_TICK_S for tick in columns["tick"]]
    return game, columns, rest


def write_recording(path, game, columns, rest=None):
    """Writes columns (same layout as read_recording gives) as a recording file;
    without a time_s column the ticks are put 2 ms apart."""
    names = ["tick", "time_s"] + rez.SLOT_NAMES + ["cue_%d" % i for i in range(rez.CHANNELS)]
    length = len(columns["tick"])
    columns = dict(columns)
    columns.setdefault("time_s", [tick * NOMINAL_TICK_S for tick in columns["tick"]])
    with open(path, "w", newline="") as f:
        f.write("# rezadedudid recording 2\n")
        if game:
            f.write("# game: %s\n" % game)
        f.write(",".join(names) + "\n")
        for i in range(length):
            f.write(",".join("%.17g" % columns.get(n, [0.0] * length)[i] for n in names) + "\n")
        if rest is not None:
            f.write("# rest: %.17g\n" % rest)


def save(fig, prefix):
    outputs = [prefix + ".png", prefix + ".svg"]
    folder = os.path.dirname(os.path.abspath(prefix))
    os.makedirs(folder, exist_ok=True)
    for path in outputs:
        fig.savefig(path, dpi=110)
    plt.close(fig)
    return outputs


def mark_rest(ax, rest, label):
    ax.axvline(rest, color="tab:red", linestyle="--", linewidth=1)
    if label:
        ax.text(rest, 0.98, " rest", transform=ax.get_xaxis_transform(), color="tab:red", va="top", fontsize="small")


def recording_figure(game, columns, rest=None):
    """The six rig cues on top (translations, then rotations), then one small panel
    per game channel that moves; the time axis is the recording's time_s."""
    for name in ["cue_%d" % i for i in range(len(RIG_CUES))]:
        if name not in columns:
            raise ValueError("the recording has no column %s" % name)
    t = columns["time_s"]
    if not t:
        raise ValueError("the recording has no ticks")
    moving = [n for n in rez.SLOT_NAMES if n in columns and min(columns[n]) != max(columns[n])]
    ncols = 3
    nrows = (len(moving) + ncols - 1) // ncols
    fig = plt.figure(figsize=(12, 6 + 2.1 * nrows), layout="constrained")
    grid = fig.add_gridspec(2 + nrows, ncols, height_ratios=[2, 2] + [1] * nrows)
    cue_axes = []
    for row, (first, unit, how) in enumerate(CUE_GROUPS):
        ax = fig.add_subplot(grid[row, :], sharex=cue_axes[0] if cue_axes else None)
        for i in range(first, first + 3):
            ax.plot(t, columns["cue_%d" % i], label=RIG_CUES[i], linewidth=1)
        ax.set_ylabel("rig cue (%s)" % unit)
        ax.set_title("rig cues%s: %s (%s, %s)" % (" - " + game if game and row == 0 else "", ", ".join(RIG_CUES[first:first + 3]),
                                                  unit, how), fontsize="medium")
        ax.legend(loc="upper left", ncols=3, fontsize="small")
        ax.grid(True, alpha=0.3)
        cue_axes.append(ax)
    last_row = 1 + nrows
    for k, name in enumerate(moving):
        row = 2 + k // ncols
        ax = fig.add_subplot(grid[row, k % ncols], sharex=cue_axes[0])
        title, unit = slot_title(name)
        ax.plot(t, columns[name], linewidth=0.8, color="tab:gray")
        ax.set_title(title, fontsize="small")
        ax.set_ylabel(unit or "game's unit", fontsize="x-small")
        ax.tick_params(labelsize="x-small")
        ax.grid(True, alpha=0.3)
        if row == last_row or k + ncols >= len(moving):
            ax.set_xlabel("time (s)", fontsize="x-small")
        if rest is not None:
            mark_rest(ax, rest, False)
    if not moving:
        cue_axes[0].text(0.01, 0.02, "no game channel moved", transform=cue_axes[0].transAxes, fontsize="small")
    cue_axes[1].set_xlabel("time (s) since the run began")
    cue_axes[0].set_xlim(left=min(0.0, t[0]))  # from the run's start: where the first tick lies tells something
    if rest is not None:
        for ax in cue_axes:
            mark_rest(ax, rest, True)
    return fig


def plot_recording(game, columns, rest, prefix):
    return save(recording_figure(game, columns, rest), prefix)


# ---- filter responses ---------------------------------------------------------------

def plot_responses(filter_text, channel, runs, prefix, unit=None):
    """runs: list of (title, times, inputs, outputs), one panel each, input and output per tick;
    unit: the input's unit."""
    fig, axes = plt.subplots(len(runs), 1, figsize=(11, 3.8 * len(runs)), squeeze=False, layout="constrained")
    for ax, (title, t, inputs, outputs) in zip(axes[:, 0], runs):
        ax.plot(t, inputs, label="input", linewidth=1, color="tab:gray")
        ax.plot(t, outputs, label="output", linewidth=1.2, color="tab:blue")
        ax.set_title("%s - channel %d (%s): %s" % (title, channel, CHANNEL_NAMES[channel], filter_text),
                     fontsize="medium")
        # The snapshots carry no time: the points are the engine's ticks, counted.
        ax.set_xlabel("engine ticks x 2 ms (s)")
        ax.set_ylabel("input in %s, output as the filter makes it" % unit if unit else "value")
        ax.legend(loc="best")
        ax.grid(True, alpha=0.3)
    return save(fig, prefix)


def configure(lib, channel, text):
    """Only channel N (of both profiles) runs, with the filter string; the others are off."""
    for profile in (rez.AIR, rez.GROUND):
        for c in range(rez.CHANNELS):
            lib.setActiveAxis(profile, c, 1 if c == channel else 0)
        if not lib.set_filter(profile, channel, text):
            raise UsageError("the library refused the filter string %r" % text)
    lib.SetInputDofLimitValue(channel, -1e12, 1e12)
    if channel == 10:
        # The belt channel filters the belt sum; feed it longitudinal g through channel 11 alone.
        lib.set_filter(rez.AIR, 11, "VALUE")
        lib.setActiveAxis(rez.AIR, 11, 1)
        for index, weight in ((1, 1.0), (2, 0.0), (4, 0.0), (5, 0.0)):
            lib.setBelt_Mix(rez.AIR, index, weight)


def output_entry(channel):
    """Where channel N's result lies in the position snapshot (the fan channel's is output 22)."""
    return 22 if channel == 21 else channel


def run_engine(lib, channel, text, sim_command, timeout):
    """Runs the engine against the simulator; (inputs, outputs, faded) of every tick."""
    configure(lib, channel, text)
    lib.stopGamesource_Thread()
    lib.calculation_snapshots()
    lib.acceleration_snapshots()
    calc, accel = [], []
    faded = False
    lib.setMotionsystemready(1)
    lib.startGamesource_Thread()
    sim = None
    try:
        time.sleep(SEARCH_SECONDS)
        sim = subprocess.Popen(sim_command, stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout
        while sim.poll() is None:
            if time.monotonic() > deadline:
                raise RuntimeError("the simulator did not end within %.0f s: %s" % (timeout, " ".join(sim_command)))
            time.sleep(FETCH_SECONDS)
            calc += lib.calculation_snapshots()
            accel += lib.acceleration_snapshots()
            if calc and lib.getTransitionStatus() < 100:
                faded = True
        if sim.returncode != 0:
            raise RuntimeError("the simulator failed (exit %d): %s" % (sim.returncode, " ".join(sim_command)))
    finally:
        lib.setMotionsystemready(0)
        lib.stopGamesource_Thread()
        if sim is not None and sim.poll() is None:
            sim.kill()
            sim.wait()
    calc += lib.calculation_snapshots()
    accel += lib.acceleration_snapshots()
    if not calc:
        raise RuntimeError("no engine tick ran: the engine never saw the simulated game")
    n = min(len(calc), len(accel))
    slot = CHANNEL_SLOT[channel]
    return [a[slot] for a in accel[:n]], [c[output_entry(channel)] for c in calc[:n]], faded


def _engine_child(conn, library, channel, text, command, timeout):
    # The library reports its game search on the console; in a plot run that
    # is noise, and every failure comes back through the pipe instead.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    os.dup2(devnull, 2)
    try:
        conn.send(("ok", run_engine(rez.Library(library), channel, text, command, timeout)))
    except Exception as e:  # noqa: BLE001 - reported by the parent
        conn.send(("error", str(e) or type(e).__name__))


def run_in_fresh_engine(library, channel, text, command, timeout):
    """run_engine in a process of its own: every run starts from a newly built engine,
    not from the game record, filter states and outputs an earlier run left."""
    ctx = multiprocessing.get_context("spawn")
    parent, child = ctx.Pipe(duplex=False)
    process = ctx.Process(target=_engine_child, args=(child, library, channel, text, command, timeout))
    process.start()
    child.close()
    try:
        if not parent.poll(timeout + SEARCH_SECONDS + 30):
            raise RuntimeError("the engine run did not finish")
        status, result = parent.recv()
    except EOFError:
        raise RuntimeError("the engine run ended without a result (exit %s)" % process.exitcode) from None
    finally:
        process.join(5)
        if process.is_alive():
            process.kill()
            process.join()
    if status != "ok":
        raise RuntimeError(result)
    return result


def times(n):
    return [i / TICK_HZ for i in range(n)]


def filter_command(args):
    channel = args.channel
    if channel not in CHANNEL_SLOT:
        raise UsageError("channel %d has no input (channels 0..21)" % channel)
    slot_name = rez.SLOT_NAMES[CHANNEL_SLOT[channel]]
    if channel == 10:
        slot_name = rez.SLOT_NAMES[7]  # the belt sum follows longitudinal g, see configure()
    lib = rez.Library(args.library)
    for profile in (rez.AIR, rez.GROUND):
        if not lib.set_filter(profile, channel, args.filter):
            raise UsageError("the library refused the filter string %r" % args.filter)
    if not os.path.exists(args.sim):
        raise RuntimeError("simulator not found: %s (build it: cmake --build --preset linux)" % args.sim)

    base = [args.sim, "--game", args.game]
    runs = []
    if CHANNEL_SLOT[channel] == 0:
        step = base + ["--drive", "default", "--seconds", "%g" % args.seconds]  # the effect channels make their own signal
    else:
        step = base + ["--drive", "step", "--slot", slot_name, "--seconds", "%g" % args.seconds]
    inputs, outputs, faded = run_in_fresh_engine(args.library, channel, args.filter, step, args.seconds + 30)
    whole, unit = slot_title(slot_name)
    runs.append(("step on %s" % whole, times(len(inputs)), inputs, outputs))
    if args.recording:
        game, columns, _ = read_recording(args.recording)
        source = args.slot or slot_name
        if source not in columns:
            raise UsageError("%s has no column %r" % (args.recording, source))
        columns = dict(columns)
        columns[slot_name] = columns[source]
        length = columns["time_s"][-1] - columns["time_s"][0] if columns["time_s"] else 0.0
        with tempfile.TemporaryDirectory() as folder:
            replay = os.path.join(folder, "replay.csv")
            write_recording(replay, game, columns)
            inputs, outputs, faded_again = run_in_fresh_engine(args.library, channel, args.filter,
                                                               base + ["--replay", replay], length + 30)
        faded = faded or faded_again
        runs.append(("recorded %s fed as %s" % (slot_title(source)[0], whole), times(len(inputs)), inputs, outputs))
    if faded:
        print("note: the outputs were fading during a run (the engine fades after a change of state, and while "
              "the game's first 23 slots stay unchanged for 0.5 s it treats the game as paused)", file=sys.stderr)
    return plot_responses(args.filter, channel, runs, args.out, unit)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    rec = sub.add_parser("recording", help="rig cues and game channels of a recording")
    rec.add_argument("file")
    rec.add_argument("--out", required=True, help="output prefix: PREFIX.png and PREFIX.svg")
    flt = sub.add_parser("filter", help="step and recorded response of a filter string")
    flt.add_argument("filter")
    flt.add_argument("--channel", type=int, default=0)
    flt.add_argument("--recording", help="a recording whose channel feeds the filter as well")
    flt.add_argument("--slot", help="the recorded column to feed (default: the channel's own slot)")
    flt.add_argument("--out", required=True, help="output prefix: PREFIX.png and PREFIX.svg")
    flt.add_argument("--library", help="path of the library (default: REZ_LIBRARY_PATH or the Linux build)")
    flt.add_argument("--sim", default=default_sim_path(),
                     help="the simulator (default: REZ_SIM_PATH or the Linux build's)")
    flt.add_argument("--game", default=DEFAULT_GAME)
    flt.add_argument("--seconds", type=float, default=4.0)
    args = parser.parse_args(argv)
    try:
        if args.command == "recording":
            written = plot_recording(*read_recording(args.file), args.out)
        else:
            written = filter_command(args)
    except UsageError as e:
        print("plots.py: %s" % e, file=sys.stderr)
        return 2
    except (OSError, ValueError, RuntimeError) as e:
        print("plots.py: %s" % e, file=sys.stderr)
        return 1
    print("wrote " + " and ".join(written))
    return 0


if __name__ == "__main__":
    sys.exit(main())
