#pragma once
// A futex wait on the wake signal's counter with an absolute
// CLOCK_MONOTONIC deadline.
#include <cstdint>

#include "platform/wake_signal.h"

namespace rez::platform {

bool futexWaitUntil(WakeSignal& wake, std::int64_t deadline, std::uint32_t ticket) noexcept;

}  // namespace rez::platform
