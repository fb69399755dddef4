"""ctypes binding of the rezadedudid library.

Loads librezadedudid.so (Linux) or rezadedudid.dll (Windows) by path and
declares every C export of include/rezadedudid.h with its exact argument and
result types. `Library` gives each export under its own name (the plain C
call) and a few Pythonic helpers beside them (texts as str, arrays as lists,
snapshot histories fetched and released in one call).

    lib = Library()                      # REZ_LIBRARY_PATH or the Linux build
    lib.startGamesource_Thread()
    print(lib.game_name(), lib.game_data()[28])
    lib.stopGamesource_Thread()

Booleans are one byte (c_bool), int is 32 bits, texts are UTF-8 (wide texts
are wchar_t). The exported C++ class WindSerial has no C ABI and is not bound.
"""
import ctypes
import os
import sys
from ctypes import (POINTER, c_bool, c_char, c_char_p, c_double, c_int, c_ubyte, c_uint, c_uint8, c_void_p,
                    c_wchar_p)

__all__ = ["Library", "CalculationSnapshot", "AccelerationSnapshot", "EXPORTS", "SLOT_NAMES",
           "default_library_path", "AIR", "GROUND"]

AIR = 0
GROUND = 1
CHANNELS = 23
SLOTS = 43
NAME_BUFFER = 21       # getGameName writes at most 20 characters and the NUL
MESSAGE_BUFFER = 512   # readMessagemmf's buffer
FRAME_BYTES = 36


class CalculationSnapshot(ctypes.Structure):
    """One tick's position snapshot: output cues 0..10, 21, 22 and the AIR channel results 11..20."""
    _fields_ = [("values", c_double * CHANNELS)]


class AccelerationSnapshot(ctypes.Structure):
    """One tick's 43 game-data slots (slot 42: the belt sum)."""
    _fields_ = [("values", c_double * SLOTS)]


# Names of slots 0..42 as a recording's columns have them: slots 1..41 are the
# names the library publishes, 0 and 42 have none of their own.
SLOT_NAMES = ["slot_0"] + """
lateral_speed lateral_accel lateral_accel_g lateral_gravi longitu_speed longitu_accel longitu_accel_g
longitu_gravi vertica_speed vertica_accel vertica_accel_g vertica_gravi yaw_position yaw_speed yaw_accel
roll_position roll_speed roll_accel pitch_position pitch_speed pitch_accel fr_lft_susp_pos fr_rgt_susp_pos
re_lft_susp_pos re_rgt_susp_pos engine_torque rpm speed stall flaps ldg_gear_turb ldg_gear spd_brakes
simtools_axis1a simtools_axis2a simtools_axis3a simtools_axis4a simtools_axis1b simtools_axis2b
simtools_axis3b simtools_axis4b""".split() + ["slot_42"]

_P_DOUBLE = POINTER(c_double)

# name: (result type, argument types, what it does). The table is the binding:
# Library declares exactly these, and the tests hold it against the header.
EXPORTS = {
    # Game-source thread
    "startGamesource_Thread": (None, [], "Starts the game-source thread (detection, then one tick every 2 ms); "
                               "does nothing while it runs."),
    "stopGamesource_Thread": (c_bool, [], "Stops and joins the game-source thread. False when a running thread "
                              "was stopped, True when none ran."),
    "setMotionsystemready": (None, [c_int], "ready 1: the rig is ready (ticks compute and send), 0: not ready. "
                             "A change restarts the 4000 ms output fade."),
    "setTimerPrecision": (None, [c_int], "Nonzero: busy-wait pacing (exact 2 ms ticks); 0: sleep-only pacing."),
    # Game information
    "getGameID": (c_int, [], "GameId (0..17) of the game online, or -1 when none."),
    "getGameName": (None, [POINTER(c_char)], "Writes the game's name or \"No Game online\" into a 21-byte "
                    "buffer, NUL-terminated."),
    "getGameTimeFrame": (c_double, [], "Milliseconds between the two latest samples of the game."),
    "getMotionDataTimeFrame": (c_double, [], "The last tick period in milliseconds."),
    "getGameDataCount": (c_int, [], "Always 44 (one more than the 43 slots getGameData reports)."),
    "getGameData": (None, [POINTER(_P_DOUBLE), POINTER(c_int)], "*values = the 43 game-data slots (library "
                    "memory, rewritten every tick); *count = 43."),
    "getGameDataNames": (None, [POINTER(c_char_p), POINTER(c_int)], "*first = the name of slot 1 "
                         "(\"lateral_speed\"); the other names follow it, each after the previous NUL; *count = 43."),
    "getTransitionStatus": (c_double, [], "Output fade progress as a whole percent, 0 to 100."),
    # Profiles, filters and cues
    "setcheckFilterstring": (c_bool, [c_int, c_int, c_char_p], "Parses a filter string and installs it in "
                             "(profile, channel); True when installed, False keeps the old chain."),
    "setActiveAxis": (None, [c_int, c_int, c_int], "Enables (nonzero low byte) or disables (profile, channel); "
                      "restarts the output fade."),
    "setBelt_Mix": (None, [c_int, c_int, c_double], "Belt-mix weight of (profile, index 0..42)."),
    "SetInputDofLimitValue": (None, [c_int, c_double, c_double], "Input clamp (minimum, maximum) of a channel "
                              "(channels 0..7 use it)."),
    "getactiveProfil": (c_int, [], "Active ground state: -1 (no game), 0 (air) or 1 (ground)."),
    "getProfilAirTransitionStatus": (c_double, [], "AIR profile weight as a whole percent."),
    "getProfilGrdTransitionStatus": (c_double, [], "GROUND profile weight as a whole percent."),
    "getMotionCueData": (None, [c_int, POINTER(_P_DOUBLE), POINTER(c_int)], "which 0: AIR results, 1: GROUND "
                         "results, 2: output cues, 3: fade start; 23 doubles in library memory."),
    # Rig outputs, motion cancel, fan
    "getOutputData": (None, [POINTER(c_uint8)], "Copies the last 36-byte cue frame sent to the controller."),
    "SetRigDofLimitValue": (None, [c_int, c_double, c_double], "Rig limits (minimum, maximum) of index 0..22; "
                            "0..5 bound the cue frame's six floats."),
    "activateMotionCancel": (None, [c_bool], "Switches motion cancel (the pose in \"Local\\motionRigPose\") on "
                             "or off; on resets the smoothing divisor to 60."),
    "setFilterMotionCancel": (None, [c_double], "Pose smoothing divisor; ignored while motion cancel is off."),
    "setGainMotionCancel": (None, [c_double], "Pose gain; ignored while motion cancel is off."),
    "initWindSerial": (c_bool, [c_wchar_p, c_int, c_wchar_p, c_int], "Configures the engine's fan port "
                       "(\"COM5\", 9600, \"8N1\", 15); False when the port is not a device."),
    # Controller serial link
    "startREZadEdudid_Thread": (c_int, [], "Runs the serial link on the calling thread until "
                                "stopREZadEdudid_Thread; returns 1 once stopped."),
    "stopREZadEdudid_Thread": (None, [], "Stops the serial link and the UDP threads and waits for their end."),
    "isConnected": (c_int, [], "1 when a controller answered or a UDP thread started, and a link runs."),
    "isInterfaceRunning": (c_int, [], "0 after pauseInterface, 1 otherwise."),
    "pauseInterface": (c_int, [], "Pauses the serial link and closes the controller's port; 1."),
    "resumeInterface": (c_int, [], "Resumes the serial link; 1 when the controller is (or will be) found."),
    "enableAutoconnect": (c_int, [], "Scans every COM port while no controller answers; 1."),
    "disableAutoconnect": (c_int, [], "Uses only the standard port; 1."),
    "setStandartPort": (c_int, [c_char_p], "Standard port number from the digits after \"COM\"; 1, or 0 when "
                        "the text holds no \"COM\"."),
    "getOutputTimeFrame": (c_double, [], "Milliseconds of the serial link's last pass."),
    # Network controller link
    "startUPDListenThread": (None, [], "Receives the controller's replies on the listen port, on the calling "
                             "thread, until stopREZadEdudid_Thread."),
    "startUPDMulticastSenderThread": (None, [], "Sends the queued messages to the multicast group every 2 ms, "
                                      "on the calling thread, until stopREZadEdudid_Thread or a failure."),
    "setMulticastAddr": (None, [c_char_p, c_uint], "Group address and port for the next sender start."),
    "setUDPport": (None, [c_uint], "Listen port for the next listen start."),
    # Controller message mailbox
    "sendMessagemmf": (c_int, [POINTER(c_ubyte)], "Queues a message (up to its 0x0A 0x0D) for the live "
                       "transport; 1 queued, -1 refused."),
    "autoMessagemmf": (c_int, [POINTER(c_ubyte)], "Queues the repeated auto message; 1 queued, 0 refused."),
    "readMessagemmf": (c_int, [POINTER(c_ubyte)], "Takes the oldest received frame into a 512-byte buffer; its "
                       "length, or 0."),
    "newMessagemmf": (c_int, [], "1 when readMessagemmf would return a frame now."),
    # Snapshots
    "GetPositionSnapshot": (_P_DOUBLE, [], "The last tick's position snapshot: 23 doubles in library memory."),
    "GetCalculationSnapshots": (POINTER(CalculationSnapshot), [POINTER(c_int)], "Takes the calculation history "
                                "(at most 150 records, oldest first); release with FreeCalculationSnapshots."),
    "GetAccelerationSnapshots": (POINTER(AccelerationSnapshot), [POINTER(c_int)], "Takes the acceleration "
                                 "history; release with FreeAccelerationSnapshots."),
    "FreeCalculationSnapshots": (None, [c_void_p], "Releases an array returned by either Get function."),
    "FreeAccelerationSnapshots": (None, [c_void_p], "The same function under a second name."),
}


def default_library_path():
    """REZ_LIBRARY_PATH, else the Linux build (build/linux/librezadedudid.so) or the Windows one."""
    env = os.environ.get("REZ_LIBRARY_PATH")
    if env:
        return env
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if sys.platform == "win32":
        return os.path.join(root, "build", "windows", "rezadedudid.dll")
    return os.path.join(root, "build", "linux", "librezadedudid.so")


def _load(path):
    if sys.platform == "win32":
        # The DLL links its runtime statically; only its own folder matters.
        folder = os.path.dirname(os.path.abspath(path))
        if hasattr(os, "add_dll_directory"):
            os.add_dll_directory(folder)
        return ctypes.CDLL(os.path.abspath(path), winmode=0)
    return ctypes.CDLL(path)


def _bytes(text):
    if text is None:
        return None
    return text if isinstance(text, bytes) else text.encode("utf-8")


def _message(data):
    buf = (c_ubyte * max(len(data), 1)).from_buffer_copy(bytes(data) or b"\0")
    return buf


class Library:
    """The loaded library: every C export under its own name, plus helpers."""

    def __init__(self, path=None):
        self.path = path or default_library_path()
        if not os.path.exists(self.path):
            raise OSError("rezadedudid library not found: %s (build it, or set REZ_LIBRARY_PATH)" % self.path)
        self.dll = _load(self.path)
        for name, (restype, argtypes, doc) in EXPORTS.items():
            fn = getattr(self.dll, name)
            fn.restype = restype
            fn.argtypes = argtypes
            setattr(self, name, _described(fn, name, doc))

    # ---- game information -------------------------------------------------
    def game_name(self):
        """The game online, or "No Game online"."""
        buf = ctypes.create_string_buffer(NAME_BUFFER)
        self.getGameName(buf)
        return buf.value.decode("utf-8", "replace")

    def game_data(self):
        """The 43 game-data slots of the latest tick, as a list."""
        return self._array(self.getGameData)

    def game_data_names(self):
        """The names of slots 1..41, walked from the first text the library hands out."""
        first = c_char_p()
        count = c_int(0)
        self.getGameDataNames(ctypes.byref(first), ctypes.byref(count))
        names = []
        address = ctypes.cast(first, c_void_p).value
        for _ in range(SLOTS - 2):
            text = ctypes.string_at(address)
            names.append(text.decode("ascii"))
            address += len(text) + 1
        return names

    # ---- cues ---------------------------------------------------------------
    def set_filter(self, profile, channel, text):
        """Installs a filter string; True when the library accepted it."""
        return bool(self.setcheckFilterstring(profile, channel, _bytes(text)))

    def motion_cues(self, which):
        """which 0: AIR results, 1: GROUND results, 2: output cues, 3: fade start; None for another which."""
        values = _P_DOUBLE()
        count = c_int(-1)
        self.getMotionCueData(which, ctypes.byref(values), ctypes.byref(count))
        if count.value < 0:
            return None
        return values[:count.value]

    def output_frame(self):
        """The last 36-byte cue frame, as bytes."""
        buf = (c_uint8 * FRAME_BYTES)()
        self.getOutputData(buf)
        return bytes(buf)

    def init_wind_serial(self, port, baud=9600, fmt="8N1", interval_ms=15):
        """Configures the engine's fan port; True when the port is a device."""
        return bool(self.initWindSerial(port, baud, fmt, interval_ms))

    # ---- mailbox ------------------------------------------------------------
    def send_message(self, data):
        """Queues bytes ending in 0x0A 0x0D for the controller: 1 queued, -1 refused."""
        return self.sendMessagemmf(_message(data))

    def auto_message(self, data):
        """Queues bytes ending in 0x0A 0x0D as the repeated auto message: 1 queued, 0 refused."""
        return self.autoMessagemmf(_message(data))

    def read_message(self):
        """The oldest frame from the controller as bytes, or None when nothing waits."""
        buf = (c_ubyte * MESSAGE_BUFFER)()
        n = self.readMessagemmf(buf)
        return bytes(buf[:n]) if n > 0 else None

    # ---- snapshots ----------------------------------------------------------
    def position_snapshot(self):
        """The last tick's position snapshot, 23 values."""
        return self.GetPositionSnapshot()[:CHANNELS]

    def calculation_snapshots(self):
        """Takes the calculation history: a list of 23-value lists, oldest first (the library's copy is freed)."""
        return self._history(self.GetCalculationSnapshots, self.FreeCalculationSnapshots)

    def acceleration_snapshots(self):
        """Takes the acceleration history: a list of 43-value lists, oldest first (the library's copy is freed)."""
        return self._history(self.GetAccelerationSnapshots, self.FreeAccelerationSnapshots)

    @staticmethod
    def _array(getter):
        values = _P_DOUBLE()
        count = c_int(0)
        getter(ctypes.byref(values), ctypes.byref(count))
        return values[:count.value] if values else []

    @staticmethod
    def _history(take, free):
        count = c_int(0)
        records = take(ctypes.byref(count))
        if not records:
            return []
        try:
            return [list(records[i].values) for i in range(count.value)]
        finally:
            free(records)


def _described(fn, name, doc):
    def call(*args):
        return fn(*args)
    call.__name__ = name
    call.__doc__ = doc
    call.restype = fn.restype
    call.argtypes = fn.argtypes
    return call
