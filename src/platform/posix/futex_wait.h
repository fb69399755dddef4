#pragma once
// Shared by the wake signal and the precise timer: a futex wait on the
// signal's counter with an absolute CLOCK_MONOTONIC deadline.
#include <cstdint>

#include "platform/wake_signal.h"

namespace rez::platform {

bool futexWaitUntil(WakeSignal& wake, std::int64_t deadline, std::uint32_t ticket) noexcept;

}  // namespace rez::platform
