# Built-in profile for car games (every game that is not a flight simulator
# or NoLimits 2, and --game none). The host compiles this file in and uses
# it when it is given no --profile. Format: docs/profile-format.md.
#
# Cue units are those of the game slots: m/s² for the lateral, longitudinal
# and vertical cues, degrees per second for yaw, degrees for roll and pitch.
# What the rig feels:
# - onsets: a change of acceleration or turning rate moves the rig at once,
#   then washes out (EMAHP), so a sustained acceleration does not hold the
#   rig against its stops and a parked car leaves it level;
# - sustained acceleration: tilts the rig slowly (channels 6 and 7), so
#   gravity keeps pressing the driver the way the car does;
# - no offset at rest: the vertical cue takes gravity off before anything
#   else, so standing still reads 0, not 9.81.

# --- Onset cues ---------------------------------------------------------------
# Lateral: a corner's side force, washed out in about 0.3 s (a car's corners
# are short; a longer washout would still hold the first corner when the
# next one begins).
filter air 0 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);150);0.6);5.5;1)
# Longitudinal: accelerating and braking, washed out in about 0.6 s.
filter air 1 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);300);0.6);5.5;1)
# Vertical: gravity off first, then bumps and crests; the soft limit keeps a
# kerb strike off the rig's stops.
filter air 2 LOGISTIC(GAIN(EMAHP(EMALP(ADD(VALUE;-9.80665);10);150);0.4);5.5;1)
# Yaw: the start of a turn, washed out in about 0.3 s.
filter air 3 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);150);0.8);18;1)
# Roll and pitch speed: the body's quick movements (a bump kicks the nose).
# A car's body only rocks on its springs, so its rates come back to 0 by
# themselves: smoothed, not washed out (a washout would swing them past 0).
filter air 4 GAIN(EMALP(VALUE;10);0.3)
filter air 5 GAIN(EMALP(VALUE;10);0.3)

# --- Sustained acceleration as tilt (degrees per m/s², added to roll/pitch) --
# It follows in about 0.7 s and is cropped well inside the rig's roll and
# pitch limits. That is quick for a tilt (up to about 10 degrees a second, so
# a sensitive driver may feel it turn): it lets the rig be level again within
# 2 s of a stop. For longer, smoother tilts raise 350 towards 1500.
filter air 6 CROP(GAIN(EMALP(VALUE;350);0.8);-7;7)
filter air 7 CROP(GAIN(EMALP(VALUE;350);0.8);-7;7)
# The car's own roll and pitch angles would tilt the rig a second time for
# the same corner (the side force already carries the body's lean), and
# against the tilt when a game's roll sign differs: off.
enable air 8 off
enable air 9 off

# --- Belt tensioner: pulls when braking ---------------------------------------
# Channel 11 is the longitudinal acceleration; a negative weight turns
# braking into a positive belt sum. Channel 10 scales it to the belt word.
filter air 11 EMALP(VALUE;10)
belt-mix air 1 -1.0
filter air 10 CROP(GAIN(VALUE;100);0;1000)

# --- Fan: percent from the speed in m/s (full at 40 m/s) ----------------------
filter air 21 CROP(GAIN(VALUE;2.5);0;100)

# --- Input limits: what a game can send, wider than any drive -----------------
input-limit 0 -50 50
input-limit 1 -50 50
input-limit 2 -50 50
input-limit 3 -200 200
input-limit 4 -200 200
input-limit 5 -200 200
input-limit 6 -50 50
input-limit 7 -50 50

# --- Rig limits ----------------------------------------------------------------
rig-limit 0 -6 6
rig-limit 1 -6 6
rig-limit 2 -6 6
rig-limit 3 -20 20
rig-limit 4 -12 12
rig-limit 5 -12 12

# --- Motion cancel: the pose for a headset, lightly smoothed ------------------
motion-cancel on
motion-cancel-filter 10
motion-cancel-gain 1.0
