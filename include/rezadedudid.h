/*
 * rezadedudid: motion-simulator rig library.
 *
 * Flat C exports (C linkage, exact names) through which a host application
 * drives the library. Every export builds the engine on first use; none lets
 * an exception escape and none returns an error number. Out-of-range
 * arguments are ignored unless stated otherwise.
 *
 * Types: bool results and arguments are one byte (a .NET P/Invoke host must
 * marshal them as a 1-byte bool, [MarshalAs(UnmanagedType.I1)], not as the
 * default 4-byte BOOL); int is 32 bits; texts passed as char are UTF-8.
 *
 * The exported C++ class WindSerial (below, C++ only) uses the GNU C++ ABI of
 * the mingw-w64 toolchain that built the DLL, POSIX thread model (its
 * std::thread and std::mutex members are winpthread ones): a host that uses
 * the class must be built with a GNU C++ compiler of that kind
 * (x86_64-w64-mingw32-g++-posix); MSVC and win32-thread-model builds cannot
 * use it. Its std::string texts are UTF-8. The C exports have the plain C ABI.
 *
 * Unloading: call stopGamesource_Thread before FreeLibrary/dlclose. If the
 * game-source thread still runs, the library keeps itself loaded until the
 * thread is stopped (load it again and call stopGamesource_Thread) or the
 * process ends; unloading never pulls the code from under the thread.
 */
#ifndef REZADEDUDID_H
#define REZADEDUDID_H

#ifdef __cplusplus
#include <cstdint>
#include <cwchar>
#else
#include <stdbool.h>
#include <stdint.h>
#include <wchar.h>
#endif

#if defined(_WIN32)
#if defined(REZADEDUDID_BUILD)
#define REZ_API __declspec(dllexport)
#else
#define REZ_API __declspec(dllimport)
#endif
#else
#define REZ_API __attribute__((visibility("default")))
#endif

/* One tick's position snapshot: output cues 0..10, 21, 22 and the AIR
 * channel results 11..20. */
typedef struct CalculationSnapshot {
    double values[23];
} CalculationSnapshot;

/* One tick's 43 game-data slots (slot 42: the belt sum). */
typedef struct AccelerationSnapshot {
    double values[43];
} AccelerationSnapshot;

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Game-source thread ---------------------------------------------- */

/* Starts the game-source thread (detection, then one tick every 2 ms).
 * Does nothing while the thread already runs. */
REZ_API void startGamesource_Thread(void);
/* Stops and joins the game-source thread. Returns the previous value of the
 * engine's "stopped" flag: false when a running thread was stopped, true when
 * none was running (before any start, or a second stop). */
REZ_API bool stopGamesource_Thread(void);
/* 1: the rig is ready (ticks read, compute and send); 0: not ready. A change
 * restarts the 4000 ms output fade; any other value, or no change, does nothing. */
REZ_API void setMotionsystemready(int ready);
/* Nonzero: busy-wait pacing (exact 2 ms ticks); 0: sleep-only pacing with a
 * carried error. Takes effect from the next tick; the thread sets 1 when it starts. */
REZ_API void setTimerPrecision(int precise);

/* ---- Game information ------------------------------------------------- */

/* GameId (0..17) of the game online, or -1 when none. */
REZ_API int getGameID(void);
/* Writes the game's name, or "No Game online", NUL-terminated. The buffer must
 * hold 21 bytes; a null buffer is ignored. */
REZ_API void getGameName(char* buffer);
/* Milliseconds between the two latest samples of the game. */
REZ_API double getGameTimeFrame(void);
/* The last tick period in milliseconds. */
REZ_API double getMotionDataTimeFrame(void);
/* Always 44 (one more than the 43 slots getGameData reports). */
REZ_API int getGameDataCount(void);
/* *values = the 43 game-data slots (library memory, rewritten every tick);
 * *count = 43. Null pointers are ignored. */
REZ_API void getGameData(double** values, int* count);
/* *first = the name of slot 1, "lateral_speed"; *count = 43. Null pointers are ignored. */
REZ_API void getGameDataNames(const char** first, int* count);
/* Output fade progress as a whole percent, 0 to 100. */
REZ_API double getTransitionStatus(void);

/* ---- Profiles, filters and cues ----------------------------------------
 * profile 0 = "Profil AIR", 1 = "Profil GROUND"; channel 0..22. */

/* Parses a filter string (e.g. "GAIN(EMALP(VALUE;25);1.5)") and installs it in
 * the channel. True when installed. A bad text, a null text or an out-of-range
 * profile/channel gives false and keeps the old chain; every call restarts the
 * output fade and holds the outputs back until a chain is accepted. */
REZ_API bool setcheckFilterstring(int profile, int channel, const char* text);
/* Enables (nonzero low byte) or disables a channel; always restarts the fade. */
REZ_API void setActiveAxis(int profile, int channel, int enable);
/* Belt-mix weight, index 0..42 (of the AIR profile only 1, 2, 4 and 5 are used). */
REZ_API void setBelt_Mix(int profile, int index, double weight);
/* Input clamp of channel 0..22 (only channels 0..7 use it). */
REZ_API void SetInputDofLimitValue(int channel, double minimum, double maximum);
/* Active ground state: -1 (no game), 0 (air) or 1 (ground). */
REZ_API int getactiveProfil(void);
/* AIR / GROUND profile weight as a whole percent, 0 to 100. */
REZ_API double getProfilAirTransitionStatus(void);
REZ_API double getProfilGrdTransitionStatus(void);
/* which 0: AIR channel results, 1: GROUND results, 2: output cues, 3: fade
 * start; *values = 23 doubles in library memory, *count = 23. Any other
 * which leaves both untouched; null pointers are ignored. */
REZ_API void getMotionCueData(int which, double** values, int* count);

/* ---- Rig outputs, motion cancel, fan ------------------------------------ */

/* Copies the last 36-byte cue frame sent to the controller; null is ignored. */
REZ_API void getOutputData(uint8_t* frame);
/* Rig limits of index 0..22 (0..5 bound the cue frame's six floats). */
REZ_API void SetRigDofLimitValue(int index, double minimum, double maximum);
/* Switches motion cancel (the smoothed pose in "Local\motionRigPose") on or
 * off; switching on resets the smoothing divisor to 60. */
REZ_API void activateMotionCancel(bool on);
/* Pose smoothing divisor; ignored while motion cancel is off. */
REZ_API void setFilterMotionCancel(double filter);
/* Pose gain; ignored while motion cancel is off. */
REZ_API void setGainMotionCancel(double gain);
/* Configures the engine's fan port (e.g. L"COM5", 9600, L"8N1", 15). False,
 * and the fan left unconfigured, when the port is not a device or a text is null. */
REZ_API bool initWindSerial(const wchar_t* portName, int baudRate, const wchar_t* format, int intervalMs);

/* ---- Controller serial link ---------------------------------------------- */

/* Runs the serial link to the motion controller on the calling thread until
 * stopREZadEdudid_Thread: finds the controller's port (the scan while
 * auto-connect is on), then every 2 ms writes the queued messages with their
 * checksum and the auto message, and reads the controller's frames. Holds the
 * named sections "Rovandelix_tx" and "Rovandelix_rx" (512 bytes each) while it
 * runs. Returns 1 once stopped. One link loop runs at a time: a call made
 * while another thread's loop runs returns 0 at once; a call made while a stop
 * is still waiting for the old loop waits until that loop has returned, then
 * runs. The calling thread gets its own priority back when the call returns. */
REZ_API int startREZadEdudid_Thread(void);
/* Stops the serial link and the UDP threads, and waits until the loops that
 * were running have ended; returns at once when none was running. */
REZ_API void stopREZadEdudid_Thread(void);
/* 1 when a controller answered on the serial port or a UDP thread has started,
 * and the serial link or the UDP threads run; else 0. */
REZ_API int isConnected(void);
/* 0 after pauseInterface, 1 otherwise. */
REZ_API int isInterfaceRunning(void);
/* Pauses the serial link and closes the controller's port; 1. */
REZ_API int pauseInterface(void);
/* Resumes the serial link. With auto-connect on, 1 (the link's scan finds the
 * controller). Otherwise probes the standard port up to three times, 500 ms
 * apart: 1 when the controller answered, else 0 (after about 1.5 s). */
REZ_API int resumeInterface(void);
/* Switches the scan of every COM port on / off while no controller answers; 1. */
REZ_API int enableAutoconnect(void);
REZ_API int disableAutoconnect(void);
/* Takes the standard port's number from the digits after the first "COM" in
 * text ("COM12" -> 12, "\\.\COM3" -> 3, "COM" -> 0): 1. 0 and the number kept
 * when text holds no "COM" or is null. */
REZ_API int setStandartPort(const char* text);
/* Milliseconds of the serial link's last pass (about 2.0 while connected). */
REZ_API double getOutputTimeFrame(void);

/* ---- Network controller link ------------------------------------------- */

/* Receives the controller's replies on the listen port (53241 unless
 * setUDPport changed it) on the calling thread until stopREZadEdudid_Thread;
 * stands aside while a serial controller answers. */
REZ_API void startUPDListenThread(void);
/* Sends the queued controller messages (with their checksum) and the auto
 * message to the multicast group from the preferred wired adapter, every 2 ms,
 * on the calling thread until stopREZadEdudid_Thread or a failure. One sender
 * runs at a time: a call made while another thread's sender runs returns at
 * once without sending; one made while a stop still waits for the old sender
 * waits until it has returned. */
REZ_API void startUPDMulticastSenderThread(void);
/* Takes the group (four dotted decimal parts, each at most 255) and the low 16
 * bits of port for the next sender start; invalid text keeps the old ones. */
REZ_API void setMulticastAddr(const char* address, unsigned port);
/* Takes the low 16 bits of port as the listen port for the next listen start. */
REZ_API void setUDPport(unsigned port);

/* ---- Controller message mailbox ----------------------------------------- */

/* Queues a message (bytes up to and including the first 0x0A 0x0D within 512
 * bytes) for the controller transport that has live traffic (both transmit
 * queues when neither has); 1 queued, -1 when no transport runs, the message is
 * null, has no end marker within 512 bytes, or the live transport's queue is full. */
REZ_API int sendMessagemmf(const unsigned char* message);
/* Queues a message (same extent rule) as the repeated auto message; 1 queued,
 * 0 when the auto queue is full; 0 after printing "no valid data" when no
 * transport runs, the message is null or has no end marker within 512 bytes. */
REZ_API int autoMessagemmf(const unsigned char* message);
/* Copies and removes the oldest frame received over the live transport into
 * buffer (must hold 512 bytes); its length, or 0 when nothing waits, no
 * transport is live, or buffer is null (the frame is then kept). */
REZ_API int readMessagemmf(unsigned char* buffer);
/* 1 when readMessagemmf would return a frame now, else 0. */
REZ_API int newMessagemmf(void);

/* ---- Snapshots ----------------------------------------------------------- */

/* The last tick's position snapshot: 23 doubles in library memory. */
REZ_API const double* GetPositionSnapshot(void);
/* Takes the whole calculation history (at most 150 records, oldest first) and
 * empties it. Null with *count = 0 when empty; otherwise release the array with
 * FreeCalculationSnapshots. A null count is ignored (and nothing is taken). */
REZ_API const CalculationSnapshot* GetCalculationSnapshots(int* count);
/* The same for the acceleration history. */
REZ_API const AccelerationSnapshot* GetAccelerationSnapshots(int* count);
/* Releases an array returned by either Get function; null is ignored. */
REZ_API void FreeCalculationSnapshots(const void* array);
/* The same function under a second name. */
REZ_API void FreeAccelerationSnapshots(const void* array);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/* Fan ("wind") controller on a serial port of its own: a sending thread
 * writes at most one pending speed byte per interval. The engine owns one
 * instance (configured with initWindSerial); hosts may make their own. */
class REZ_API WindSerial {
public:
    WindSerial();
    /* stop(), then the members are destroyed. */
    ~WindSerial();
    WindSerial(const WindSerial&) = delete;
    WindSerial& operator=(const WindSerial&) = delete;

    /* Stores the interval always; true (and configured) when portName names
     * an existing device such as "COM5". Texts are UTF-8. May be called while
     * another thread starts or stops the port. */
    bool init(const std::string& portName, int baudRate, const std::string& format, unsigned int intervalMs);
    /* Opens and configures the port, writes a 0 byte and starts the sending
     * thread. Only when configured, not running and fewer than 3 failed starts. */
    void start();
    /* Writes a 0 byte (if open), then bytes are taken but not written. */
    void pause();
    /* Writing resumes. */
    void unpause();
    /* Writes a 0 byte (if open), ends the sending thread, closes the port. */
    void stop();
    bool isRunning() const;
    bool isInit() const;
    /* Replaces the pending bytes. */
    void updateBuffer(const std::vector<unsigned char>& bytes);

private:
    bool configurePort(int baudRate, const std::string& format);
    void sendingThreadFunc();

    std::intptr_t port;                /* OS handle of the open port; -1 when closed */
    std::atomic<bool> running;
    std::atomic<bool> paused;
    std::atomic<bool> initialised;
    std::thread sendingThread;
    std::mutex bufferMutex;
    std::vector<unsigned char> buffer;
    unsigned int interval;             /* milliseconds */
    std::string portName;
    int baudRate;
    std::string format;                /* e.g. "8N1" */
    int startFailures;
    /* Orders the sending thread's writes against the 0 byte of pause() and
     * stop(), so that the 0 is the last byte the fan sees; also guards the
     * port handle while it is opened and closed. */
    std::mutex writeMutex;
    /* Guards the configuration (port name, rate, format, start failures)
     * and the start and end of the sending thread: init, start and stop may
     * come from different threads. */
    std::mutex configMutex;
};
#endif /* __cplusplus */

#endif /* REZADEDUDID_H */
