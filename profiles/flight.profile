# Built-in profile for the flight simulators (X-Plane, DCS, MSFS 2020 and
# 2024, Condor 2). The host compiles this file in and uses it when it is
# given no --profile. Format: docs/profile-format.md.
#
# Cue units are those of the game slots: m/s² for the lateral, longitudinal
# and vertical cues, degrees per second for yaw, degrees for roll and pitch.
# - onsets (rotation, a pull-up, rolling into a turn, the touch-down) move
#   the rig and wash out (EMAHP) within about a second;
# - sustained acceleration (the take-off run, a climb, braking after
#   landing) tilts the rig slowly (channels 6 and 7);
# - no offset at rest: the vertical cue takes gravity off before anything
#   else. A coordinated turn has no side force, so it gives no roll tilt:
#   the aircraft's bank angle itself is not a cue (channels 8 and 9 off).
# The ground profile (taxi, take-off run, landing roll) runs the same
# filters, so the 200 ms crossing between the two profiles at lift-off and
# touch-down is seamless.

# --- Air profile: onset cues --------------------------------------------------
filter air 0 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);500);0.8);5.5;1)
filter air 1 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);400);1.0);5.5;1)
# Vertical: gravity off first; the soft limit keeps a hard landing off the
# rig's stops.
filter air 2 LOGISTIC(GAIN(EMAHP(EMALP(ADD(VALUE;-9.80665);10);400);0.5);5.5;1)
# Yaw: an aircraft turns slowly, so its rate is raised to be felt.
filter air 3 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);500);3.0);18;1)
filter air 4 GAIN(EMAHP(EMALP(VALUE;10);400);0.5)
filter air 5 GAIN(EMAHP(EMALP(VALUE;10);400);0.5)
# --- Air profile: sustained acceleration as tilt (degrees per m/s²) ----------
filter air 6 CROP(GAIN(EMALP(VALUE;500);1.5);-7;7)
filter air 7 CROP(GAIN(EMALP(VALUE;500);1.5);-7;7)
enable air 8 off
enable air 9 off

# --- Ground profile: the same filters ----------------------------------------
filter ground 0 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);500);0.8);5.5;1)
filter ground 1 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);400);1.0);5.5;1)
filter ground 2 LOGISTIC(GAIN(EMAHP(EMALP(ADD(VALUE;-9.80665);10);400);0.5);5.5;1)
filter ground 3 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);500);3.0);18;1)
filter ground 4 GAIN(EMAHP(EMALP(VALUE;10);400);0.5)
filter ground 5 GAIN(EMAHP(EMALP(VALUE;10);400);0.5)
filter ground 6 CROP(GAIN(EMALP(VALUE;500);1.5);-7;7)
filter ground 7 CROP(GAIN(EMALP(VALUE;500);1.5);-7;7)
enable ground 8 off
enable ground 9 off

# --- Belt tensioner: pulls when braking (air profile's belt mix) -------------
filter air 11 EMALP(VALUE;10)
belt-mix air 1 -1.0
filter air 10 CROP(GAIN(VALUE;100);0;1000)

# --- Fan: percent from the speed in m/s (full at 80 m/s) ----------------------
filter air 21 CROP(GAIN(VALUE;1.25);0;100)

# --- Input limits --------------------------------------------------------------
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

# --- Motion cancel -------------------------------------------------------------
motion-cancel on
motion-cancel-filter 10
motion-cancel-gain 1.0
