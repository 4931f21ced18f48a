#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "broadcast/ScreenShareStore.h"
#include "platform/suite/Suite.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/TempDataDir.h"

namespace broadcast {
namespace {

namespace keys = shared::keys;
using Credentials = ScreenShareStore::Credentials;
using Date = ScreenShareStore::Date;

Date at(double seconds) { return Date(std::chrono::duration<double>(seconds)); }

void storeCredentials() {
  auto store = shared::SharedStore::open();
  ASSERT_TRUE(store);
  store->setString(keys::kAccessToken, "tok-1");
  store->setString(keys::kChannelId, "lounge");
  store->setString(keys::kPrimarySessionId, "voice-1");
  store->setString(keys::kApiBase, "https://api.example.test/v1/api");
  store->setDouble(keys::kCredentialsUpdatedAt, 1700000000.5);
}

void edit(const std::function<void(const shared::SharedStore&)>& change) {
  auto store = shared::SharedStore::open();
  ASSERT_TRUE(store);
  change(*store);
}

TEST(ScreenShareStoreTest, LoadsCredentialsOnlyWhenTheStoreHoldsUsableOnes) {
  const Credentials stored{"tok-1", "lounge", "voice-1", "https://api.example.test/v1/api", at(1700000000.5)};
  struct Case {
    const char* name;
    bool withCredentials;
    std::function<void(const shared::SharedStore&)> change;
    std::optional<Credentials> expected;
  };
  const Case cases[] = {
      {"empty store", false, nullptr, std::nullopt},
      {"all five keys", true, nullptr, stored},
      {"missing api base takes the default", true, [](auto& s) { s.remove(keys::kApiBase); },
       Credentials{"tok-1", "lounge", "voice-1", shared::kDefaultApiBase, at(1700000000.5)}},
      {"empty api base is kept", true, [](auto& s) { s.setString(keys::kApiBase, ""); },
       Credentials{"tok-1", "lounge", "voice-1", "", at(1700000000.5)}},
      {"empty token", true, [](auto& s) { s.setString(keys::kAccessToken, ""); }, std::nullopt},
      {"blank token is not trimmed", true, [](auto& s) { s.setString(keys::kAccessToken, "  "); },
       Credentials{"  ", "lounge", "voice-1", "https://api.example.test/v1/api", at(1700000000.5)}},
      {"missing channel", true, [](auto& s) { s.remove(keys::kChannelId); }, std::nullopt},
      {"empty primary session", true, [](auto& s) { s.setString(keys::kPrimarySessionId, ""); },
       std::nullopt},
      {"token of another type", true, [](auto& s) { s.setInteger(keys::kAccessToken, 7); }, std::nullopt},
      {"no timestamp is 1970", true, [](auto& s) { s.remove(keys::kCredentialsUpdatedAt); },
       Credentials{"tok-1", "lounge", "voice-1", "https://api.example.test/v1/api", at(0)}},
      {"credentials of long ago are used", true,
       [](auto& s) { s.setDouble(keys::kCredentialsUpdatedAt, 1.0); },
       Credentials{"tok-1", "lounge", "voice-1", "https://api.example.test/v1/api", at(1.0)}},
      {"after voiceLeft", true,
       [](auto& s) {
         for (const char* key : {keys::kAccessToken, keys::kChannelId, keys::kPrimarySessionId,
                                 keys::kApiBase, keys::kCredentialsUpdatedAt}) {
           s.remove(key);
         }
         s.setBool(keys::kScreenActive, false);
       },
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDataDir dataDir;
    if (c.withCredentials) storeCredentials();
    if (c.change) edit(c.change);
    EXPECT_EQ(ScreenShareStore::load(), c.expected);
  }
}

TEST(ScreenShareStoreTest, LoadOnlyReads) {
  testsupport::TempDataDir dataDir;
  storeCredentials();
  edit([](auto& s) { s.remove(keys::kApiBase); });
  ASSERT_TRUE(ScreenShareStore::load());
  auto suite = platform::suite::Suite::open(shared::kSuiteName);
  ASSERT_TRUE(suite);
  // The default stands in for the missing key; it is not written back.
  EXPECT_FALSE(suite->string(keys::kApiBase));
  EXPECT_FALSE(suite->boolValue(keys::kScreenActive));
}

TEST(ScreenShareStoreTest, AnUnavailableSuiteGivesNothing) {
  testsupport::TempDataDir dataDir;
  storeCredentials();
  ASSERT_TRUE(ScreenShareStore::load());
  // The suite's folder replaced by a file: the suite cannot be opened any more.
  const auto folder = dataDir.suiteFolder(shared::kSuiteName);
  std::filesystem::remove_all(folder);
  std::ofstream(folder) << "not a folder";
  EXPECT_FALSE(shared::SharedStore::open());
  EXPECT_FALSE(ScreenShareStore::load());
}

}  // namespace
}  // namespace broadcast
