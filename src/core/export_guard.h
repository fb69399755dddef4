#pragma once
// Every exported function runs its body through guardedCall, so that no C++
// exception ever crosses into the host; the host sees the stated fallback.
#include <utility>

namespace rez {

template <class R, class F>
R guardedCall(R fallback, F&& body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (...) {
        return fallback;
    }
}

template <class F>
void guardedCall(F&& body) noexcept {
    try {
        std::forward<F>(body)();
    } catch (...) {
    }
}

}  // namespace rez
