#!/usr/bin/python3
"""A host in a few lines: load the library, start the engine, watch the game
and the rig cues for a few seconds, stop.

    /usr/bin/python3 python/example.py [--seconds N] [--library PATH]

Start a game (or `rezadedudid-sim --game assetto_corsa`) to see it move.
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rezadedudid as rez  # noqa: E402

RIG_CUES = ("lateral", "longitudinal", "vertical", "yaw", "roll", "pitch")


def main():
    parser = argparse.ArgumentParser(description="print the game and the rig cues for a few seconds")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--library", help="default: REZ_LIBRARY_PATH or build/linux/librezadedudid.so")
    args = parser.parse_args()

    lib = rez.Library(args.library)
    # A gentle profile: every motion channel smoothed, inputs within +-2 g, the rig within +-1.
    for channel in range(10):
        lib.SetInputDofLimitValue(channel, -2 * 9.80665, 2 * 9.80665)
        for profile in (rez.AIR, rez.GROUND):
            lib.set_filter(profile, channel, "GAIN(EMALP(VALUE;25);0.1)")
            lib.setActiveAxis(profile, channel, 1)
    for index in range(6):
        lib.SetRigDofLimitValue(index, -1.0, 1.0)

    lib.startGamesource_Thread()
    lib.setMotionsystemready(1)
    try:
        end = time.monotonic() + args.seconds
        while time.monotonic() < end:
            cues = lib.motion_cues(2)
            # The tick period means something only once a game is online and ticks run.
            tick = "%4.2f ms" % lib.getMotionDataTimeFrame() if lib.getGameID() >= 0 else "   -   "
            print("%-20s tick %s  fade %3.0f%%  %s" % (
                lib.game_name(), tick, lib.getTransitionStatus(),
                "  ".join("%s %+.3f" % (name, cues[i]) for i, name in enumerate(RIG_CUES))))
            time.sleep(0.5)
    finally:
        lib.setMotionsystemready(0)
        lib.stopGamesource_Thread()
    return 0


if __name__ == "__main__":
    sys.exit(main())
