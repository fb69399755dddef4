#pragma once
// Single values that one thread writes while the host's getters read them.
// Relaxed atomic access is enough: a getter wants the latest whole value, not
// an ordering with other data. Arrays handed to the host by pointer stay plain:
// a reader may see a mix of two ticks there.
#include <atomic>

namespace rez {

template <class T>
T relaxedLoad(const T& value) {
    return std::atomic_ref<T>(const_cast<T&>(value)).load(std::memory_order_relaxed);
}

template <class T>
void relaxedStore(T& target, T value) {
    std::atomic_ref<T>(target).store(value, std::memory_order_relaxed);
}

}  // namespace rez
