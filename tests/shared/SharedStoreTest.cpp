#include "shared/SharedStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "shared/StoreKeys.h"
#include "tests/support/TempDataDir.h"

namespace {

TEST(SharedStore, MissingValuesReadAsTheirDefaultsAndRemoveClearsKeyByKey) {
  testsupport::TempDataDir dir;
  auto store = shared::SharedStore::open();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->integer(shared::keys::kVoiceSeconds), 0);
  EXPECT_EQ(store->doubleValue(shared::keys::kStatsUpdatedAt), 0.0);
  EXPECT_EQ(store->string(shared::keys::kUsername), std::nullopt);
  EXPECT_FALSE(store->boolValue(shared::keys::kScreenActive));

  store->setInteger(shared::keys::kVoiceSeconds, 3600);
  store->setString(shared::keys::kAccessToken, "t");
  store->setDouble(shared::keys::kCredentialsUpdatedAt, 12.5);
  store->setBool(shared::keys::kScreenActive, true);
  EXPECT_EQ(store->integer(shared::keys::kVoiceSeconds), 3600);
  EXPECT_EQ(store->string(shared::keys::kAccessToken), "t");
  EXPECT_EQ(store->doubleValue(shared::keys::kCredentialsUpdatedAt), 12.5);
  EXPECT_TRUE(store->boolValue(shared::keys::kScreenActive));
  // A key holding another type than asked reads as its default.
  EXPECT_EQ(store->integer(shared::keys::kAccessToken), 0);

  store->remove(shared::keys::kAccessToken);
  EXPECT_EQ(store->string(shared::keys::kAccessToken), std::nullopt);
  EXPECT_EQ(store->integer(shared::keys::kVoiceSeconds), 3600);
  EXPECT_TRUE(std::filesystem::exists(dir.suiteFile(shared::kSuiteName)));
}

TEST(SharedStore, UnavailableSuiteGivesNothing) {
  testsupport::TempDataDir dir;
  std::filesystem::create_directories(dir.suiteFolder(shared::kSuiteName));
  chmod(dir.suiteFolder(shared::kSuiteName).c_str(), 0755);
  EXPECT_FALSE(shared::SharedStore::open());
}

}  // namespace
