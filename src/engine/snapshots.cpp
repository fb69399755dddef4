#include "engine/gamesource_engine.h"

#include <algorithm>

namespace rez {

namespace {
template <class Record>
void appendBounded(std::vector<Record>& history, const Record& record) {
    if (history.size() >= static_cast<std::size_t>(kHistoryLimit)) history.erase(history.begin());
    history.push_back(record);
}
}  // namespace

void GamesourceEngine::recordSnapshots() {
    // Entries 11..20 show the AIR channel results (belt sources and effects),
    // the others the output cues.
    for (int i = 0; i < kChannelCount; ++i) {
        auto index = static_cast<std::size_t>(i);
        positionSnapshot[index] = (i >= 11 && i <= 20) ? airCues[index] : outputCues[index];
    }
    CalculationSnapshot calculation{};
    std::copy(positionSnapshot.begin(), positionSnapshot.end(), calculation.values);
    {
        std::lock_guard<std::mutex> lock(calculationMutex);
        appendBounded(calculationHistory, calculation);
    }
    AccelerationSnapshot acceleration{};
    std::copy(std::begin(sources.record.slots), std::end(sources.record.slots), acceleration.values);
    {
        std::lock_guard<std::mutex> lock(accelerationMutex);
        appendBounded(accelerationHistory, acceleration);
    }
}

std::vector<CalculationSnapshot> GamesourceEngine::takeCalculationHistory() {
    std::lock_guard<std::mutex> lock(calculationMutex);
    std::vector<CalculationSnapshot> taken(calculationHistory.begin(), calculationHistory.end());
    calculationHistory.clear();
    return taken;
}

std::vector<AccelerationSnapshot> GamesourceEngine::takeAccelerationHistory() {
    std::lock_guard<std::mutex> lock(accelerationMutex);
    std::vector<AccelerationSnapshot> taken(accelerationHistory.begin(), accelerationHistory.end());
    accelerationHistory.clear();
    return taken;
}

}  // namespace rez
