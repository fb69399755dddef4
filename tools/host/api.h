#pragma once
// The library's exports as a host reaches them: function pointers looked up
// by name in the loaded library. Tests fill the same table with their own
// functions to see what the host asks of the library.
#include <cstdint>
#include <string>

#include "rezadedudid.h"

namespace rez::host {

struct Api {
    // Engine
    void (*startGamesource_Thread)() = nullptr;
    bool (*stopGamesource_Thread)() = nullptr;
    void (*setMotionsystemready)(int) = nullptr;
    int (*getGameID)() = nullptr;
    void (*getGameName)(char*) = nullptr;
    double (*getGameTimeFrame)() = nullptr;
    double (*getMotionDataTimeFrame)() = nullptr;
    double (*getTransitionStatus)() = nullptr;
    double (*getProfilAirTransitionStatus)() = nullptr;
    int (*getactiveProfil)() = nullptr;
    void (*getOutputData)(std::uint8_t*) = nullptr;
    const CalculationSnapshot* (*GetCalculationSnapshots)(int*) = nullptr;
    const AccelerationSnapshot* (*GetAccelerationSnapshots)(int*) = nullptr;
    void (*FreeCalculationSnapshots)(const void*) = nullptr;
    // Profile settings
    bool (*setcheckFilterstring)(int, int, const char*) = nullptr;
    void (*setActiveAxis)(int, int, int) = nullptr;
    void (*setBelt_Mix)(int, int, double) = nullptr;
    void (*SetInputDofLimitValue)(int, double, double) = nullptr;
    void (*SetRigDofLimitValue)(int, double, double) = nullptr;
    void (*activateMotionCancel)(bool) = nullptr;
    void (*setFilterMotionCancel)(double) = nullptr;
    void (*setGainMotionCancel)(double) = nullptr;
    bool (*initWindSerial)(const wchar_t*, int, const wchar_t*, int) = nullptr;
    // Controller link and mailbox
    int (*startREZadEdudid_Thread)() = nullptr;
    void (*stopREZadEdudid_Thread)() = nullptr;
    int (*setStandartPort)(const char*) = nullptr;
    int (*resumeInterface)() = nullptr;
    int (*isConnected)() = nullptr;
    double (*getOutputTimeFrame)() = nullptr;
    int (*sendMessagemmf)(const unsigned char*) = nullptr;
    int (*readMessagemmf)(unsigned char*) = nullptr;
    // Network controller
    void (*startUPDListenThread)() = nullptr;
    void (*startUPDMulticastSenderThread)() = nullptr;
};

// Looks every export up; false with the first missing name in `missing`.
bool resolveApi(void* library, Api& api, std::string& missing);

// The library loaded from a path with every export above resolved: the one
// way the host program and the test hosts load it.
class Library {
public:
    Library() = default;
    ~Library() = default;  // a host chooses when to unload; leaving it loaded is a choice too
    Library(const Library&) = default;
    Library& operator=(const Library&) = default;

    // False with the reason in `error`: the system's load error, or the
    // first export the library lacks (it is then unloaded again).
    bool load(const std::string& path, std::string& error);
    void unload();
    bool loaded() const { return handle_ != nullptr; }

    Api api;

private:
    void* handle_ = nullptr;
};

// Loads, or says on standard error why not: for programs whose only answer
// to a failed load is their exit code.
bool loadOrReport(Library& library, const std::string& path);

}  // namespace rez::host
