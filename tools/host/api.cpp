#include "tools/host/api.h"

#include <cstdio>

#include "platform/dynlib.h"

namespace rez::host {

namespace {

template <class F>
bool find(void* library, const char* name, F& slot, std::string& missing) {
    slot = reinterpret_cast<F>(platform::findSymbol(library, name));
    if (slot == nullptr && missing.empty()) missing = name;
    return slot != nullptr;
}

}  // namespace

bool resolveApi(void* library, Api& api, std::string& missing) {
    missing.clear();
#define REZ_FIND(name) find(library, #name, api.name, missing)
    REZ_FIND(startGamesource_Thread);
    REZ_FIND(stopGamesource_Thread);
    REZ_FIND(setMotionsystemready);
    REZ_FIND(getGameID);
    REZ_FIND(getGameName);
    REZ_FIND(getGameTimeFrame);
    REZ_FIND(getMotionDataTimeFrame);
    REZ_FIND(getTransitionStatus);
    REZ_FIND(getProfilAirTransitionStatus);
    REZ_FIND(getactiveProfil);
    REZ_FIND(getOutputData);
    REZ_FIND(GetCalculationSnapshots);
    REZ_FIND(GetAccelerationSnapshots);
    REZ_FIND(FreeCalculationSnapshots);
    REZ_FIND(setcheckFilterstring);
    REZ_FIND(setActiveAxis);
    REZ_FIND(setBelt_Mix);
    REZ_FIND(SetInputDofLimitValue);
    REZ_FIND(SetRigDofLimitValue);
    REZ_FIND(activateMotionCancel);
    REZ_FIND(setFilterMotionCancel);
    REZ_FIND(setGainMotionCancel);
    REZ_FIND(initWindSerial);
    REZ_FIND(startREZadEdudid_Thread);
    REZ_FIND(stopREZadEdudid_Thread);
    REZ_FIND(setStandartPort);
    REZ_FIND(resumeInterface);
    REZ_FIND(isConnected);
    REZ_FIND(getOutputTimeFrame);
    REZ_FIND(sendMessagemmf);
    REZ_FIND(readMessagemmf);
    REZ_FIND(startUPDListenThread);
    REZ_FIND(startUPDMulticastSenderThread);
#undef REZ_FIND
    return missing.empty();
}

bool Library::load(const std::string& path, std::string& error) {
    handle_ = platform::loadLibrary(path);
    if (handle_ == nullptr) {
        error = "cannot load " + path + ": " + platform::lastLoadError();
        return false;
    }
    std::string missing;
    if (!resolveApi(handle_, api, missing)) {
        error = path + " has no export " + missing;
        unload();
        return false;
    }
    return true;
}

bool loadOrReport(Library& library, const std::string& path) {
    std::string error;
    if (library.load(path, error)) return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

void Library::unload() {
    if (handle_ != nullptr) platform::freeLibrary(handle_);
    handle_ = nullptr;
    api = Api{};
}

}  // namespace rez::host
