#pragma once
// Little- and big-endian loads and stores over memcpy. Telemetry, datagrams and
// replies are untrusted bytes: callers check the length they actually hold
// before calling these, and never cast a pointer to a struct.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace rez {

template <class T>
T load_le(const void* p) {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(std::endian::native == std::endian::little, "little-endian hosts only");
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void store_le(void* p, T v) {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(std::endian::native == std::endian::little, "little-endian hosts only");
    std::memcpy(p, &v, sizeof v);
}

template <class T>
constexpr T byteswap(T v) {
    static_assert(std::is_integral_v<T>);
    using U = std::make_unsigned_t<T>;
    U u = static_cast<U>(v), r = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        r = static_cast<U>((r << 8) | (u & 0xFFu));
        u = static_cast<U>(u >> 8);
    }
    return static_cast<T>(r);
}

template <class T>
T load_be(const void* p) {
    static_assert(std::is_integral_v<T>);
    T v;
    std::memcpy(&v, p, sizeof v);
    return byteswap(v);
}

template <class T>
void store_be(void* p, T v) {
    static_assert(std::is_integral_v<T>);
    v = byteswap(v);
    std::memcpy(p, &v, sizeof v);
}

// Load from a buffer of known size; gives `fallback` when the value would
// reach past the end.
template <class T>
T load_le_checked(const void* base, std::size_t size, std::size_t offset, T fallback = T{}) {
    if (offset > size || size - offset < sizeof(T)) return fallback;
    return load_le<T>(static_cast<const unsigned char*>(base) + offset);
}

}  // namespace rez
