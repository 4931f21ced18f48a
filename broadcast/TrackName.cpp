#include "broadcast/TrackName.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <random>

namespace broadcast {

namespace {

std::uint64_t systemRandom64() {
  std::array<unsigned char, sizeof(std::uint64_t)> bytes{};
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (got < 0 && errno != EINTR) {
      // A kernel without getrandom(2): the library's source reads the same pool.
      std::random_device device;
      return (std::uint64_t{device()} << 32U) | device();
    }
  }
  std::uint64_t value = 0;
  std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

}  // namespace

std::string trackNameFor(std::uint64_t randomBits) {
  return kTrackNamePrefix + std::to_string(static_cast<std::uint32_t>(randomBits & 0xFFFF'FFFFU));
}

std::string makeTrackName() { return trackNameFor(systemRandom64()); }

}  // namespace broadcast
