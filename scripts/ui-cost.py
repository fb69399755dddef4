#!/usr/bin/env python3
"""What the tuning page costs the host, in % of one core.

Starts the Linux host with the page on (the simulated Assetto Corsa drive,
the emulated controller), then reads the CPU time of the process and of each
of its threads from /proc over two windows of the same run: one with no
client, one with a client reading the event stream at full rate (as the
page does, with three game channels picked). Prints both beside the
machine's own wake-up lateness, which says how busy the machine was.

    python3 scripts/ui-cost.py [seconds per window, default 30] [host path]
"""
import os
import re
import signal
import statistics
import subprocess
import sys
import threading
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINDOW = float(sys.argv[1]) if len(sys.argv) > 1 else 30.0
HOST = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "build", "linux", "rezadedudid-host")
TICK = os.sysconf("SC_CLK_TCK")
PAGE_THREADS = ("ui-http", "ui-listen")


def threads(pid):
    """{thread id: (name, cpu seconds)} of a process."""
    out = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                stat = f.read()
        except OSError:
            continue  # ended meanwhile
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        out[tid] = (name, (int(fields[11]) + int(fields[12])) / TICK)
    return out


def group(before, after, seconds, main_tid):
    """% of a core over the window: the page's threads, the host's loop (its main thread), the whole process."""
    def used(pick):
        return sum(after[t][1] - before.get(t, (None, 0.0))[1] for t in after if pick(t, after[t][0]))
    percent = lambda v: 100.0 * v / seconds
    return (percent(used(lambda t, n: n in PAGE_THREADS)), percent(used(lambda t, n: t == main_tid)),
            percent(used(lambda t, n: True)))


def lateness(seconds=2.0):
    """How late a 1 ms sleep wakes, in ms: median and 99th percentile."""
    late, end = [], time.monotonic() + seconds
    while time.monotonic() < end:
        t = time.monotonic()
        time.sleep(0.001)
        late.append((time.monotonic() - t - 0.001) * 1000)
    late.sort()
    return statistics.median(late), late[int(0.99 * (len(late) - 1))]


def main():
    host = subprocess.Popen([HOST, "--ui", "0", "--seconds", "0"], cwd=ROOT, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    lines = []
    reader = threading.Thread(target=lambda: [lines.append(line) for line in host.stdout], daemon=True)
    reader.start()
    url = None
    deadline = time.monotonic() + 60
    while url is None and time.monotonic() < deadline and host.poll() is None:
        url = next((m.group(0) for line in list(lines) for m in [re.search(r"http://127\.0\.0\.1:\d+/\?token=\w+", line)]
                    if m), None)
        time.sleep(0.05)
    if url is None:
        host.kill()
        sys.exit("the host printed no page address:\n" + "".join(lines))
    try:
        time.sleep(6)  # past the output fade: the rig live
        main_tid = str(host.pid)
        a = threads(host.pid)
        time.sleep(WINDOW)
        b = threads(host.pid)
        idle = group(a, b, WINDOW, main_tid)

        events = url.replace("/?token=", "/api/events?slots=3,7,14&token=")
        got = {"bytes": 0, "batches": 0}
        stop = threading.Event()

        def read():
            with urllib.request.urlopen(events, timeout=10) as stream:
                while not stop.is_set():
                    line = stream.readline()
                    if not line:
                        return
                    got["bytes"] += len(line)
                    got["batches"] += line.startswith(b"data: ")

        client = threading.Thread(target=read, daemon=True)
        client.start()
        time.sleep(1)
        b = threads(host.pid)
        start_batches, start_bytes = got["batches"], got["bytes"]
        time.sleep(WINDOW)
        c = threads(host.pid)
        batches, size = got["batches"] - start_batches, got["bytes"] - start_bytes
        streamed = group(b, c, WINDOW, main_tid)
        late = lateness()
        stop.set()
    finally:
        host.send_signal(signal.SIGINT)
        host.wait(timeout=30)
    print("the tuning page's cost, %% of one core, over %.0f s windows of one host run" % WINDOW)
    print("%-46s %10s %14s" % ("", "no client", "event stream"))
    for i, name in enumerate(("the page's threads (ui-http, ui-listen)", "the host's own loop (hands the ticks over)",
                              "the whole host process")):
        print("%-46s %9.2f%% %13.2f%%" % (name, idle[i], streamed[i]))
    print("the stream: %d batches (%.1f a second, %.0f kB/s)" % (batches, batches / WINDOW, size / WINDOW / 1000))
    print("the page's own cost: %.2f %% of a core (the limit is 2 %%)" % (streamed[0] + streamed[1] - idle[1]))
    print("machine: load average %s; a 1 ms sleep wakes %.3f ms late (median), %.3f ms (99th percentile)"
          % (" ".join(open("/proc/loadavg").read().split()[:3]), *late))


if __name__ == "__main__":
    main()
