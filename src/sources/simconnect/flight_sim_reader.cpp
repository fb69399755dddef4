#include "sources/simconnect/flight_sim_reader.h"

#include "core/bytes.h"
#include "core/relaxed.h"
#include "platform/clock.h"
#include "sources/detection_tests.h"
#include "sources/game_table.h"
#include "sources/gravity.h"

namespace rez {

namespace {

constexpr std::uint32_t kDefinition = 0;
constexpr std::uint32_t kRequest = 0;
constexpr std::uint32_t kUserAircraft = 0;
constexpr std::uint32_t kPeriodSimFrame = 3;
constexpr std::uint32_t kTypeFloat64 = 4;
constexpr std::uint32_t kTypeInt64 = 2;
constexpr std::uint32_t kNoDatumId = 0xFFFFFFFFu;

struct Variable {
    const char* name;
    const char* units;
    std::uint32_t type;
};

constexpr Variable kVariables[kFlightSimVariables] = {
    {"ACCELERATION BODY X", "meter per second squared", kTypeFloat64},
    {"ACCELERATION BODY Y", "meter per second squared", kTypeFloat64},
    {"ACCELERATION BODY Z", "meter per second squared", kTypeFloat64},
    {"ROTATION ACCELERATION BODY X", "radians per second squared", kTypeFloat64},
    {"ROTATION ACCELERATION BODY Y", "radians per second squared", kTypeFloat64},
    {"ROTATION ACCELERATION BODY Z", "radians per second squared", kTypeFloat64},
    {"VELOCITY BODY X", "meter per second", kTypeFloat64},
    {"VELOCITY BODY Y", "meter per second", kTypeFloat64},
    {"VELOCITY BODY Z", "meter per second", kTypeFloat64},
    {"ROTATION VELOCITY BODY X", "radians per second", kTypeFloat64},
    {"ROTATION VELOCITY BODY Y", "radians per second", kTypeFloat64},
    {"ROTATION VELOCITY BODY Z", "radians per second", kTypeFloat64},
    {"PLANE HEADING DEGREES TRUE", "radians", kTypeFloat64},
    {"PLANE BANK DEGREES", "radians", kTypeFloat64},
    {"PLANE PITCH DEGREES", "radians", kTypeFloat64},
    {"GEAR IS ON GROUND", "Bool", kTypeInt64},
    {"SIM ON GROUND", "Bool", kTypeInt64},
};

struct SystemEvent {
    std::uint32_t id;
    const char* name;
};

constexpr SystemEvent kEvents[] = {{6, "Crashed"}, {kEventQuit, "Quit"}, {4, "SimStart"}, {5, "SimStop"}, {3, "Sim"}};

double deg(double radians) { return radians * 180.0 / kPiShort; }

const char* processName(int id) { return id == kMsfs2020 ? "FlightSimulator.exe" : "FlightSimulator2024.exe"; }

}  // namespace

bool decodeFlightSimData(const std::uint8_t* message, std::size_t size, FlightSimSample& sample) {
    if (size < kDataBlockOffset + kFlightSimDataSize) return false;
    const std::uint8_t* block = message + kDataBlockOffset;
    for (int i = 0; i < 15; ++i) sample.values[i] = load_le<double>(block + 8 * i);
    sample.gearOnGround = load_le<std::int64_t>(block + 120);
    sample.simOnGround = load_le<std::int64_t>(block + 128);
    return true;
}

bool storeFlightSimSample(const FlightSimSample& sample, GameDataRecord& record, int& ground) {
    const double* v = sample.values;
    SlotStores s;
    s.set(kLateralAccel, v[0]);
    s.set(kVerticaAccel, v[1]);
    s.set(kLongituAccel, v[2]);
    s.set(kLateralSpeed, -v[6]);
    s.set(kVerticaSpeed, -v[7]);
    s.set(kLongituSpeed, v[8]);
    s.set(kPitchSpeed, -deg(v[9]));
    s.set(kYawSpeed, -deg(v[10]));
    s.set(kRollSpeed, -deg(v[11]));
    s.set(kYawPosition, deg(v[12]));
    s.set(kRollPosition, deg(v[13]));
    s.set(kPitchPosition, -deg(v[14]));
    if (!s.storeInto(record)) return false;
    ground = sample.simOnGround == 1 ? 1 : 0;
    return true;
}

FlightSimReader::FlightSimReader(int id) : id_(id) {}

// The readers go with the engine, at the library's unload.
FlightSimReader::~FlightSimReader() { ClientClient::closeForTeardown(connection_); }

bool FlightSimReader::detect() {
    if (id_ == kMsfs2024 && connection_) {
        // The slot kept its connection from a pass that found the server but
        // not the 2024 process. A server that has gone since frees the slot
        // for a fresh open; otherwise the process test alone decides, so a
        // 2024 that starts later is still found.
        std::int32_t rc = kSimConnectOk;
        for (int taken = 0; rc >= 0 && taken < 1000; ++taken) rc = connection_->getNextDispatch(nullptr, nullptr);
        if (rc < 0 && rc != kSimConnectFail) {
            close();
            return false;
        }
        return processTest({processName(id_)});
    }
    close();
    lastResult_ = ClientClient::open(connection_, kSimConnectClientName, 0);
    if (lastResult_ >= 0 && processTest({processName(id_)})) return true;
    // The 2024 slot keeps a connection whose process is missing; the 2020
    // slot lets it go.
    if (id_ == kMsfs2020 || lastResult_ < 0) close();
    return false;
}

bool FlightSimReader::attach() {
    if (!connection_) return false;
    newestUsable_ = true;
    for (const Variable& v : kVariables)
        lastResult_ = connection_->addToDataDefinition(kDefinition, v.name, v.units, v.type, 0.0f, kNoDatumId);
    lastResult_ = connection_->requestDataOnSimObject(kRequest, kDefinition, kUserAircraft, kPeriodSimFrame, 0, 0, 0, 0);
    for (const SystemEvent& e : kEvents) lastResult_ = connection_->subscribeToSystemEvent(e.id, e.name);
    if (lastResult_ >= 0) return true;
    close();
    return false;
}

bool FlightSimReader::read(GameDataRecord& record) {
    if (!connection_) return false;
    bool stored = false;
    const std::int64_t start = platform::counterNow();
    const std::int64_t budget = platform::counterFrequency() * kMessageReadBudgetUs / 1'000'000;
    for (int taken = 0; taken < kMostMessagesPerRead; ++taken) {
        if (taken >= kMessagesSurelyTaken && platform::counterNow() - start >= budget) break;
        const std::uint8_t* data = nullptr;
        std::uint32_t size = 0;
        lastResult_ = connection_->getNextDispatch(&data, &size);
        if (lastResult_ < 0) {
            // Messages that came before a break were still handed out; once
            // none is left, a broken or aborted connection is as good as a
            // quit: the slot is freed and the engine's miss rule lets the
            // game go, so detection finds a restarted simulator.
            if (connection_->state() != CClient::State::Connected) {
                close();
                return false;
            }
            break;
        }
        // The client keeps only messages with a whole header.
        const std::uint32_t id = load_le_checked<std::uint32_t>(data, size, 8, 0);
        if (id == kRecvException) break;
        if (id == kRecvQuit) {
            close();
            return false;
        }
        if (id == kRecvEvent) {
            if (load_le_checked<std::uint32_t>(data, size, 16, 0) == kEventQuit) {
                close();
                return false;
            }
            continue;
        }
        FlightSimSample sample;
        if (id == kRecvSimObjectData && load_le_checked<std::uint32_t>(data, size, 12, 1) == kRequest &&
            decodeFlightSimData(data, size, sample)) {
            int ground = 0;
            newestUsable_ = storeFlightSimSample(sample, record, ground);
            if (newestUsable_) groundState.store(ground);
            stored = stored || newestUsable_;
        }
    }
    if (!stored && !newestUsable_) return false;
    relaxedStore(record.timeFrame, clock.stamp());
    applyGravityParts(record, AccelMode::Add);
    return true;
}

void FlightSimReader::close() {
    if (connection_) ClientClient::close(connection_);
}

std::unique_ptr<GameReader> makeFlightSimReader(int id) {
    if (id != kMsfs2020 && id != kMsfs2024) return nullptr;
    return std::make_unique<FlightSimReader>(id);
}

}  // namespace rez
