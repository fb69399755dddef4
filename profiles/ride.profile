# Built-in profile for coaster rides (NoLimits 2). The host compiles this
# file in and uses it when it is given no --profile. Format:
# docs/profile-format.md.
#
# Cue units are those of the game slots: m/s² for the lateral, longitudinal
# and vertical cues, degrees per second for yaw, degrees for roll and pitch.
# A coaster pulls harder and turns faster than a car and banks far beyond
# what a rig can: the gains are lower, and the soft limits keep the valley's
# pull and the drop off the rig's stops.
# - onsets wash out (EMAHP) within about a second;
# - sustained acceleration (the lift hill, the drop, the brakes) tilts the
#   rig slowly (channels 6 and 7);
# - no offset at rest: the vertical cue takes gravity off before anything
#   else. The train's own bank and pitch angles (60° in a turn) are not
#   cues (channels 8 and 9 off): the accelerations with gravity already
#   carry what the riders feel of them.

# --- Onset cues ---------------------------------------------------------------
filter air 0 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);400);0.6);5.5;1)
filter air 1 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);400);0.5);5.5;1)
filter air 2 LOGISTIC(GAIN(EMAHP(EMALP(ADD(VALUE;-9.80665);10);300);0.3);5.5;1)
filter air 3 LOGISTIC(GAIN(EMAHP(EMALP(VALUE;10);400);0.6);18;1)
filter air 4 GAIN(EMAHP(EMALP(VALUE;10);300);0.1)
filter air 5 GAIN(EMAHP(EMALP(VALUE;10);300);0.1)

# --- Sustained acceleration as tilt (degrees per m/s²) -----------------------
filter air 6 CROP(GAIN(EMALP(VALUE;350);1.0);-7;7)
filter air 7 CROP(GAIN(EMALP(VALUE;350);1.0);-7;7)
enable air 8 off
enable air 9 off

# --- Belt tensioner: pulls when the brakes bite ------------------------------
filter air 11 EMALP(VALUE;10)
belt-mix air 1 -1.0
filter air 10 CROP(GAIN(VALUE;100);0;1000)

# --- Fan: percent from the speed in m/s (full at 33 m/s) ----------------------
filter air 21 CROP(GAIN(VALUE;3);0;100)

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
