#pragma once
// The building blocks of the detection pass: process, mapping and port tests.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

namespace rez {

// True when a process with exactly this executable name runs (case-sensitive).
// With several names, each is tried on a fresh snapshot until one is found.
bool processTest(std::initializer_list<const char*> exeNames);

// Opens the named mapping read-only and closes it again at once.
bool existingMappingTest(const std::string& name);

// Opens the game's mapping read-only, or creates one of `size` bytes when the
// game has not, maps `size` bytes read-only and hands the view to `check`; everything is released again before
// returning, hit or miss. Without a check, mapping the view is the test.
bool createOrOpenMappingTest(const std::string& name, std::size_t size,
                             const std::function<bool(const unsigned char* view, std::size_t size)>& check = {});

// 1 when a datagram was waiting on the UDP port within 20 ms, else 0.
int probeUdpPort(std::uint16_t port);

}  // namespace rez
