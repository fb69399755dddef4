// Records whose size the system tells only when given too little room: the
// room follows what is asked for, a few times, and never loops for good.
#include <gtest/gtest.h>

#include <vector>

#include "platform/sized_query.h"

namespace rez::platform {
namespace {

TEST(SizedQuery, RoomGrowsToWhatTheSystemAsksForAFewTimesOnly) {
    struct Case {
        const char* what;
        std::vector<std::uint32_t> needs;  // what the system needs at each call; 0: it fails
        SizedOutcome outcome;
        std::size_t calls;
    };
    const std::vector<Case> cases = {
        {"fits at once", {52}, SizedOutcome::done, 1},
        {"driver keeps provider data after the record", {300, 300}, SizedOutcome::done, 2},
        {"an adapter appears between sizing and filling", {180, 260, 260}, SizedOutcome::done, 3},
        {"a failure is not retried", {0}, SizedOutcome::failed, 1},
        {"keeps growing", {100, 200, 300, 400, 500}, SizedOutcome::stillTooSmall, 4},
    };
    for (const Case& c : cases) {
        SizedBuffer buffer;
        std::size_t calls = 0;
        const SizedOutcome outcome = fillSized(buffer, 52, 4, [&](unsigned char*, std::uint32_t& room) {
            const std::uint32_t need = c.needs.at(calls++);
            if (need == 0) return SizedAnswer::failed;
            if (room >= need) return SizedAnswer::done;
            room = need;
            return SizedAnswer::tooSmall;
        });
        EXPECT_EQ(outcome, c.outcome) << c.what;
        EXPECT_EQ(calls, c.calls) << c.what;
    }
}

}  // namespace
}  // namespace rez::platform
