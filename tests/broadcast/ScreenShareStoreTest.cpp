#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "broadcast/ScreenShareStore.h"
#include "broadcast/TrackName.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/TempDataDir.h"

namespace broadcast {
namespace {

namespace keys = shared::keys;
using Credentials = ScreenShareStore::Credentials;
using Store = shared::SharedStore;

ScreenShareStore::Date at(double seconds) {
  return ScreenShareStore::Date(std::chrono::duration<double>(seconds));
}

TEST(ScreenShareStoreTest, LoadsCredentialsOnlyWhenTheStoreHoldsUsableOnes) {
  const std::string base = "https://api.example.test/v1/api";
  const auto stored = [&](std::string token, std::string apiBase, double updatedAt = 1700000000.5) {
    return Credentials{std::move(token), "lounge", "voice-1", std::move(apiBase), at(updatedAt)};
  };
  struct Case {
    const char* name;
    std::function<void(const Store&, const testsupport::TempDataDir&)> change;  // after all five keys
    std::optional<Credentials> expected;
  };
  const Case cases[] = {
      {"all five keys", [](auto&, auto&) {}, stored("tok-1", base)},
      {"missing api base takes the default", [](auto& s, auto&) { s.remove(keys::kApiBase); },
       stored("tok-1", shared::kDefaultApiBase)},
      {"empty api base is kept", [](auto& s, auto&) { s.setString(keys::kApiBase, ""); },
       stored("tok-1", "")},
      {"empty token", [](auto& s, auto&) { s.setString(keys::kAccessToken, ""); }, std::nullopt},
      {"blank token is not trimmed", [](auto& s, auto&) { s.setString(keys::kAccessToken, "  "); },
       stored("  ", base)},
      {"token of another type", [](auto& s, auto&) { s.setInteger(keys::kAccessToken, 7); }, std::nullopt},
      {"missing channel", [](auto& s, auto&) { s.remove(keys::kChannelId); }, std::nullopt},
      {"empty primary session", [](auto& s, auto&) { s.setString(keys::kPrimarySessionId, ""); },
       std::nullopt},
      {"no timestamp is 1970", [](auto& s, auto&) { s.remove(keys::kCredentialsUpdatedAt); },
       stored("tok-1", base, 0)},
      {"after voiceLeft",
       [](auto& s, auto&) {
         for (auto key : {keys::kAccessToken, keys::kChannelId, keys::kPrimarySessionId, keys::kApiBase,
                          keys::kCredentialsUpdatedAt})
           s.remove(key);
         s.setBool(keys::kScreenActive, false);
       },
       std::nullopt},
      {"unavailable suite: its folder replaced by a file",
       [](auto&, auto& dir) {
         std::filesystem::remove_all(dir.suiteFolder(shared::kSuiteName));
         std::ofstream(dir.suiteFolder(shared::kSuiteName)) << "not a folder";
       },
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDataDir dataDir;
    EXPECT_FALSE(ScreenShareStore::load());  // an empty store
    auto store = Store::open();
    ASSERT_TRUE(store);
    for (auto [key, value] : {std::pair{keys::kAccessToken, "tok-1"},
                              {keys::kChannelId, "lounge"},
                              {keys::kPrimarySessionId, "voice-1"},
                              {keys::kApiBase, base.c_str()}})
      store->setString(key, value);
    store->setDouble(keys::kCredentialsUpdatedAt, 1700000000.5);
    c.change(*store, dataDir);
    store.reset();
    EXPECT_EQ(ScreenShareStore::load(), c.expected);
  }
}

// Credentials that the app rewrites whole are never loaded half old, half new.
TEST(ScreenShareStoreTest, LoadsWholeCredentialsWhileTheyAreRewritten) {
  testsupport::TempDataDir dataDir;
  const auto voiceJoined = [](int i) {
    const std::string n = std::to_string(i % 2);
    if (auto store = Store::open()) {
      store->write(shared::StoreChanges()
                       .setString(keys::kAccessToken, "tok-" + n)
                       .setString(keys::kChannelId, "lounge-" + n)
                       .setString(keys::kPrimarySessionId, "voice-" + n)
                       .setString(keys::kApiBase, "https://api-" + n));
    }
  };
  voiceJoined(0);
  std::atomic<bool> stop{false};
  std::thread app([&] {
    for (int i = 1; !stop; ++i) voiceJoined(i);
  });
  int mixed = 0;  // or missing
  for (int round = 0; round < 2000; ++round) {
    const auto credentials = ScreenShareStore::load();
    const char n = credentials ? credentials->token.back() : '?';
    if (!credentials || credentials->channelId.back() != n || credentials->primarySessionId.back() != n ||
        credentials->apiBase.back() != n)
      ++mixed;
  }
  stop = true;
  app.join();
  EXPECT_EQ(mixed, 0);
}

TEST(TrackNameTest, IsThePrefixAndTheLowThirtyTwoBitsOfFreshRandomBits) {
  for (auto [bits, name] : {std::pair<std::uint64_t, const char*>{0, "screen-ios-0"},
                            {0xFFFF'FFFFU, "screen-ios-4294967295"},
                            {0x1234'5678'0000'002AU, "screen-ios-42"}})
    EXPECT_EQ(trackNameFor(bits), name) << bits;
  std::set<std::string> seen;
  for (int i = 0; i < 32; ++i) seen.insert(makeTrackName());
  // 32 draws of 32 random bits: a repeat is all but impossible, a constant is a fault.
  EXPECT_GT(seen.size(), 30U);
  for (const auto& name : seen) EXPECT_TRUE(std::regex_match(name, std::regex("screen-ios-[0-9]+"))) << name;
}

}  // namespace
}  // namespace broadcast
