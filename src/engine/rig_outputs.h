#pragma once
// Conversions of the cue frame and the fan byte.
#include <cstdint>

namespace rez {

// Output 10 as the frame's belt word: 0 below 0 (and for NaN), truncated,
// 4294967295 from 2^32 up.
std::uint32_t beltWord(float x);
// Output 22 (0..100) as a fan byte 0..255; below 0 and NaN give 0.
std::uint8_t fanSpeedByte(float v);

}  // namespace rez
