#include "tools/host/recorder.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/clock.h"

namespace rez::host {

void HistoryPairer::add(const CalculationSnapshot* calc, int calcCount, const AccelerationSnapshot* accel,
                        int accelCount, std::vector<sim::RecordedTick>& out) {
    if (calcCount >= kHistoryCapacity || accelCount >= kHistoryCapacity) {
        // Records may be missing from the old end of either batch: what was
        // waiting can no longer be matched, but the newest ends still can.
        calc_.clear();
        accel_.clear();
        const int n = std::min(calcCount, accelCount);
        calc += calcCount - n;
        accel += accelCount - n;
        calcCount = accelCount = n;
        ++resyncs_;
    }
    for (int i = 0; i < calcCount; ++i) calc_.push_back(calc[i]);
    for (int i = 0; i < accelCount; ++i) accel_.push_back(accel[i]);
    while (!calc_.empty() && !accel_.empty()) {
        sim::RecordedTick tick;
        tick.tick = next_++;
        std::memcpy(tick.slots, accel_.front().values, sizeof tick.slots);
        std::memcpy(tick.cues, calc_.front().values, sizeof tick.cues);
        out.push_back(tick);
        calc_.pop_front();
        accel_.pop_front();
    }
}

void TickStamper::stamp(std::vector<sim::RecordedTick>& fresh, double takeSeconds, bool lostOlder) {
    const double floor = lastTake_;
    lastTake_ = std::max(takeSeconds, lastTake_);
    if (fresh.empty()) {
        follows_ = false;
        return;
    }
    const double take = std::max(takeSeconds, newest_);
    const double n = static_cast<double>(fresh.size());
    double from = newest_;  // the time of the tick before the first of this take
    if (!follows_ || lostOlder) from = std::max(floor, take - n * sim::kNominalTickSeconds);
    const double step = (take - from) / n;
    for (std::size_t i = 0; i < fresh.size(); ++i) fresh[i].seconds = from + step * static_cast<double>(i + 1);
    fresh.back().seconds = take;
    newest_ = take;
    follows_ = true;
}

HistoryFetcher::HistoryFetcher(const Api& api)
    : api_(api), start_(platform::counterNow()), restSeconds_(std::numeric_limits<double>::quiet_NaN()) {}

double HistoryFetcher::now() const {
    return static_cast<double>(platform::counterNow() - start_) / static_cast<double>(platform::counterFrequency());
}

void HistoryFetcher::discard() {
    int n = 0;
    if (const CalculationSnapshot* c = api_.GetCalculationSnapshots(&n)) api_.FreeCalculationSnapshots(c);
    if (const AccelerationSnapshot* a = api_.GetAccelerationSnapshots(&n)) api_.FreeCalculationSnapshots(a);
}

bool HistoryFetcher::openRecording(const std::string& path, const std::string& game, std::string& error) {
    writeFailed_ = false;
    return writer_.open(path, game, error);
}

void HistoryFetcher::fetch() {
    int calcCount = 0, accelCount = 0;
    const CalculationSnapshot* calc = api_.GetCalculationSnapshots(&calcCount);
    const AccelerationSnapshot* accel = api_.GetAccelerationSnapshots(&accelCount);
    // Read as soon as both are taken: the newest paired tick ran less than a
    // tick before this.
    const double takeSeconds = now();
    fresh_.clear();
    const int resyncsBefore = pairer_.resyncs();
    pairer_.add(calc, calc != nullptr ? calcCount : 0, accel, accel != nullptr ? accelCount : 0, fresh_);
    if (calc != nullptr) api_.FreeCalculationSnapshots(calc);
    if (accel != nullptr) api_.FreeCalculationSnapshots(accel);
    stamper_.stamp(fresh_, takeSeconds, pairer_.resyncs() != resyncsBefore);
    if (writer_.isOpen() && !writeFailed_)
        for (const sim::RecordedTick& t : fresh_)
            if (!writer_.write(t)) {
                writeFailed_ = true;
                break;
            }
    if (keep_) kept_.insert(kept_.end(), fresh_.begin(), fresh_.end());
}

void HistoryFetcher::markRest() {
    fetch();
    restSeconds_ = now();
    if (writer_.isOpen() && !writeFailed_ && !writer_.writeRest(restSeconds_)) writeFailed_ = true;
}

bool HistoryFetcher::closeRecording(std::string& error) {
    if (!writer_.isOpen()) return true;
    const bool ok = !writeFailed_ && writer_.close();
    if (!ok) error = writer_.error();
    return ok;
}

}  // namespace rez::host
