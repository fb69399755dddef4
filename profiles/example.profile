# Example profile for rezadedudid-host (format: docs/profile-format.md).
# Run with:  build/linux/rezadedudid-host --profile profiles/example.profile
#
# One setting per line; '#' starts a comment. Channels 0..22, profiles air
# and ground. A car game runs on the air profile alone; the flight
# simulators blend air and ground by their ground state.

# --- Motion channels, air profile -----------------------------------------
# 0..5: lateral, longitudinal, vertical, yaw, roll, pitch (rig cues)
filter air 0  GAIN(EMALP(VALUE;10);1.0)
filter air 1  GAIN(EMALP(VALUE;10);1.2)
filter air 2  EMAHP(EMALP(VALUE;5);200)
filter air 3  GAIN(EMAHP(EMALP(VALUE;20);500);0.5)
filter air 4  EMALP(VALUE;20)
filter air 5  EMALP(VALUE;20)
# 6, 7: sustained lateral and longitudinal acceleration as tilt (added to roll and pitch)
filter air 6  CROP(GAIN(EMALP(VALUE;100);0.8);-8;8)
filter air 7  CROP(GAIN(EMALP(VALUE;100);0.8);-8;8)
# 8, 9: the vehicle's own roll and pitch angles (added to roll and pitch)
filter air 8  GAIN(EMALP(VALUE;50);0.3)
filter air 9  GAIN(EMALP(VALUE;50);0.3)
# 10: seat-belt tensioner, fed by the belt mix below
filter air 10 CROP(GAIN(EMALP(VALUE;10);50);0;1000)
# 15..20: effect channels; their input is 0, so they make their own signal
filter air 15 NOISE(VALUE;0.05;40;7)
# 21: fan speed in percent from the speed slot
filter air 21 CROP(GAIN(VALUE;2);0;100)

# --- Motion channels, ground profile (flight simulators on the ground) -----
filter ground 0 GAIN(EMALP(VALUE;10);1.0)
filter ground 1 GAIN(EMALP(VALUE;10);1.0)
filter ground 2 GAIN(EMALP(VALUE;5);1.5)
filter ground 3 GAIN(EMALP(VALUE;20);0.5)
filter ground 4 EMALP(VALUE;20)
filter ground 5 EMALP(VALUE;20)

# --- Enable flags (all channels start enabled) ------------------------------
enable air 15 off
enable ground 6 off
enable ground 7 off

# --- Belt mix: which channels feed the belt sum (slots 1, 2, 4 and 5 count) --
belt-mix air 1 1.0
belt-mix air 2 0.5
belt-mix air 4 0
belt-mix air 5 0.2

# --- Input limits: channels 0..7 are fed 0 until they have one --------------
input-limit 0 -30 30
input-limit 1 -30 30
input-limit 2 -30 30
input-limit 3 -180 180
input-limit 4 -180 180
input-limit 5 -180 180
input-limit 6 -30 30
input-limit 7 -30 30

# --- Rig limits: bound the six cues of the frame (0 and 0 hold a cue at 0) --
rig-limit 0 -50 50
rig-limit 1 -50 50
rig-limit 2 -50 50
rig-limit 3 -90 90
rig-limit 4 -30 30
rig-limit 5 -30 30

# --- Motion cancel: the smoothed pose for a headset -------------------------
motion-cancel on
motion-cancel-filter 30
motion-cancel-gain 1.0

# --- Fan controller: port [baud [format [interval ms]]] ---------------------
# The port must exist, or the host refuses the profile.
# fan COM5 9600 8N1 15
