#pragma once

#include <cstdint>
#include <string>

namespace broadcast {

inline constexpr const char* kTrackNamePrefix = "screen-ios-";

// The track name for these 64 random bits: the prefix and the low 32 bits in decimal.
std::string trackNameFor(std::uint64_t randomBits);

// A fresh track name from 8 bytes of the system's random source (getrandom(2)).
std::string makeTrackName();

}  // namespace broadcast
