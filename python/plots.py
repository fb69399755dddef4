#!/usr/bin/python3
"""Plots of what the engine did, as PNG and SVG.

  plots.py recording FILE.csv --out PREFIX
      the six rig cues and the game's channels over time, from a recording
      (one row per engine tick, 500 per second)
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
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def default_sim_path():
    """REZ_SIM_PATH, else the simulator of the Linux build (build/linux/rezadedudid-sim)."""
    return os.environ.get("REZ_SIM_PATH") or os.path.join(ROOT, "build", "linux", "rezadedudid-sim")


RIG_CUES = ["lateral", "longitudinal", "vertical", "yaw", "roll", "pitch"]  # output cues 0..5
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
    """(game, columns) of a recording file: columns maps each column name to its list of floats."""
    game = ""
    names = None
    rows = []
    with open(path, newline="") as f:
        for number, line in enumerate(f, 1):
            if line.startswith("#"):
                if line.startswith("# game:"):
                    game = line[len("# game:"):].strip()
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
    return game, columns


def write_recording(path, game, columns):
    """Writes columns (same layout as read_recording gives) as a recording file."""
    names = ["tick"] + rez.SLOT_NAMES + ["cue_%d" % i for i in range(rez.CHANNELS)]
    length = len(columns["tick"])
    with open(path, "w", newline="") as f:
        f.write("# rezadedudid recording 1\n")
        if game:
            f.write("# game: %s\n" % game)
        f.write(",".join(names) + "\n")
        for i in range(length):
            f.write(",".join("%.17g" % columns.get(n, [0.0] * length)[i] for n in names) + "\n")


def save(fig, prefix):
    outputs = [prefix + ".png", prefix + ".svg"]
    folder = os.path.dirname(os.path.abspath(prefix))
    os.makedirs(folder, exist_ok=True)
    for path in outputs:
        fig.savefig(path, dpi=110)
    plt.close(fig)
    return outputs


def plot_recording(game, columns, prefix):
    """The six rig cues on top, then one small panel per game channel that moves."""
    for name in ["cue_%d" % i for i in range(len(RIG_CUES))]:
        if name not in columns:
            raise ValueError("the recording has no column %s" % name)
    ticks = columns["tick"]
    if not ticks:
        raise ValueError("the recording has no ticks")
    t = [(x - ticks[0]) / TICK_HZ for x in ticks]
    moving = [n for n in rez.SLOT_NAMES if n in columns and min(columns[n]) != max(columns[n])]
    ncols = 3
    nrows = (len(moving) + ncols - 1) // ncols
    fig = plt.figure(figsize=(12, 3.6 + 1.9 * nrows), layout="constrained")
    grid = fig.add_gridspec(1 + nrows, ncols, height_ratios=[2.2] + [1] * nrows)
    cues = fig.add_subplot(grid[0, :])
    for i, name in enumerate(RIG_CUES):
        cues.plot(t, columns["cue_%d" % i], label=name, linewidth=1)
    cues.set_title("rig cues%s" % (" - " + game if game else ""))
    cues.set_xlabel("time (s)")
    cues.legend(loc="upper right", ncols=6, fontsize="small")
    cues.grid(True, alpha=0.3)
    for k, name in enumerate(moving):
        ax = fig.add_subplot(grid[1 + k // ncols, k % ncols], sharex=cues)
        ax.plot(t, columns[name], linewidth=0.8, color="tab:gray")
        ax.set_title(name, fontsize="small")
        ax.tick_params(labelsize="x-small")
        ax.grid(True, alpha=0.3)
    if not moving:
        cues.text(0.01, 0.02, "no game channel moved", transform=cues.transAxes, fontsize="small")
    return save(fig, prefix)


# ---- filter responses ---------------------------------------------------------------

def plot_responses(filter_text, channel, runs, prefix):
    """runs: list of (title, times, inputs, outputs), one panel each, input and output per tick."""
    fig, axes = plt.subplots(len(runs), 1, figsize=(11, 3.8 * len(runs)), squeeze=False, layout="constrained")
    for ax, (title, t, inputs, outputs) in zip(axes[:, 0], runs):
        ax.plot(t, inputs, label="input", linewidth=1, color="tab:gray")
        ax.plot(t, outputs, label="output", linewidth=1.2, color="tab:blue")
        ax.set_title("%s - channel %d: %s" % (title, channel, filter_text), fontsize="medium")
        ax.set_xlabel("time (s), one point per 2 ms tick")
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
    runs.append(("step on %s" % slot_name, times(len(inputs)), inputs, outputs))
    if args.recording:
        game, columns = read_recording(args.recording)
        source = args.slot or slot_name
        if source not in columns:
            raise UsageError("%s has no column %r" % (args.recording, source))
        columns = dict(columns)
        columns[slot_name] = columns[source]
        length = len(columns["tick"]) / TICK_HZ
        with tempfile.TemporaryDirectory() as folder:
            replay = os.path.join(folder, "replay.csv")
            write_recording(replay, game, columns)
            inputs, outputs, faded_again = run_in_fresh_engine(args.library, channel, args.filter,
                                                               base + ["--replay", replay], length + 30)
        faded = faded or faded_again
        runs.append(("recorded %s fed as %s" % (source, slot_name), times(len(inputs)), inputs, outputs))
    if faded:
        print("note: the outputs were fading during a run (the engine fades after a change of state, and while "
              "the game's first 23 slots stay unchanged for 0.5 s it treats the game as paused)", file=sys.stderr)
    return plot_responses(args.filter, channel, runs, args.out)


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
