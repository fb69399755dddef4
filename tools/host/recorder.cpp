#include "tools/host/recorder.h"

#include <algorithm>
#include <cstring>

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

void HistoryFetcher::discard() {
    int n = 0;
    if (const CalculationSnapshot* c = api_.GetCalculationSnapshots(&n)) api_.FreeCalculationSnapshots(c);
    if (const AccelerationSnapshot* a = api_.GetAccelerationSnapshots(&n)) api_.FreeCalculationSnapshots(a);
}

bool HistoryFetcher::openRecording(const std::string& path, const std::string& game, std::string& error) {
    return writer_.open(path, game, error);
}

void HistoryFetcher::fetch() {
    int calcCount = 0, accelCount = 0;
    const CalculationSnapshot* calc = api_.GetCalculationSnapshots(&calcCount);
    const AccelerationSnapshot* accel = api_.GetAccelerationSnapshots(&accelCount);
    fresh_.clear();
    pairer_.add(calc, calc != nullptr ? calcCount : 0, accel, accel != nullptr ? accelCount : 0, fresh_);
    if (calc != nullptr) api_.FreeCalculationSnapshots(calc);
    if (accel != nullptr) api_.FreeCalculationSnapshots(accel);
    if (writer_.isOpen() && !writeFailed_)
        for (const sim::RecordedTick& t : fresh_)
            if (!writer_.write(t)) {
                writeFailed_ = true;
                break;
            }
    if (keep_) kept_.insert(kept_.end(), fresh_.begin(), fresh_.end());
}

bool HistoryFetcher::closeRecording(std::string& error) {
    if (!writer_.isOpen()) return true;
    const bool ok = !writeFailed_ && writer_.close();
    if (!ok) error = writer_.error();
    return ok;
}

}  // namespace rez::host
