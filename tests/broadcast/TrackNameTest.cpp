#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <set>
#include <string>

#include "broadcast/TrackName.h"

namespace broadcast {
namespace {

TEST(TrackNameTest, IsThePrefixAndTheLowThirtyTwoBitsInDecimal) {
  struct Case {
    std::uint64_t bits;
    const char* name;
  };
  const Case cases[] = {
      {0, "screen-ios-0"},
      {7, "screen-ios-7"},
      {0xFFFF'FFFFU, "screen-ios-4294967295"},
      {0x1'0000'0000U, "screen-ios-0"},
      {0xFFFF'FFFF'FFFF'FFFFU, "screen-ios-4294967295"},
      {0x1234'5678'0000'002AU, "screen-ios-42"},
  };
  for (const auto& c : cases) EXPECT_EQ(trackNameFor(c.bits), c.name) << c.bits;
}

TEST(TrackNameTest, FreshNamesHaveTheFormAndVary) {
  const std::regex form("screen-ios-(0|[1-9][0-9]{0,9})");
  std::set<std::string> seen;
  for (int i = 0; i < 32; ++i) {
    std::string name = makeTrackName();
    EXPECT_TRUE(std::regex_match(name, form)) << name;
    EXPECT_GE(name.size(), 12U);
    EXPECT_LE(name.size(), 21U);
    EXPECT_LE(std::stoull(name.substr(11)), 4294967295ULL);
    seen.insert(name);
  }
  // 32 draws of 32 random bits: a repeat is all but impossible, a constant is a fault.
  EXPECT_GT(seen.size(), 30U);
}

}  // namespace
}  // namespace broadcast
