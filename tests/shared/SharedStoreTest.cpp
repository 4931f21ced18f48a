#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "shared/SharedStore.h"
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

TEST(SharedStore, RecordsAndSnapshotsKeepTheDefaultsAndLongTextsReadAsMissing) {
  namespace keys = shared::keys;
  testsupport::TempDataDir dir;
  auto store = shared::SharedStore::open();
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->write(shared::StoreChanges()
                               .setInteger(keys::kVoiceSeconds, 60)
                               .setString(keys::kUsername, "ann")
                               .setDouble(keys::kStatsUpdatedAt, 12.5)
                               .setBool(keys::kScreenActive, true)
                               .setString(keys::kAccessToken, "t")
                               .remove(keys::kAccessToken)));
  const auto snapshot = store->read(
      {keys::kUsername, keys::kVoiceSeconds, keys::kStatsUpdatedAt, keys::kScreenActive, keys::kAccessToken});
  EXPECT_EQ(snapshot.integer(keys::kVoiceSeconds), 60);
  EXPECT_EQ(snapshot.string(keys::kUsername), "ann");
  EXPECT_EQ(snapshot.doubleValue(keys::kStatsUpdatedAt), 12.5);
  EXPECT_TRUE(snapshot.boolValue(keys::kScreenActive));
  EXPECT_EQ(snapshot.string(keys::kAccessToken), std::nullopt);
  // Another type than asked reads as the default; a double read takes an integer.
  EXPECT_EQ(snapshot.integer(keys::kUsername), 0);
  EXPECT_EQ(snapshot.doubleValue(keys::kUsername), 0.0);
  EXPECT_FALSE(snapshot.boolValue(keys::kUsername));
  EXPECT_EQ(snapshot.string(keys::kVoiceSeconds), std::nullopt);
  EXPECT_EQ(snapshot.doubleValue(keys::kVoiceSeconds), 60.0);
  // A key that was not asked for reads as missing, stored or not.
  EXPECT_EQ(store->read({keys::kUsername}).integer(keys::kVoiceSeconds), 0);

  // No reader is handed a text longer than kMaxStringBytes.
  const std::string longest(shared::kMaxStringBytes, 'a');
  EXPECT_TRUE(store->setString(keys::kUsername, longest));
  EXPECT_TRUE(store->setString(keys::kAccessToken, longest + "a"));
  EXPECT_EQ(store->string(keys::kUsername), longest);
  EXPECT_EQ(store->string(keys::kAccessToken), std::nullopt);
  const auto texts = store->read({keys::kUsername, keys::kAccessToken});
  EXPECT_EQ(texts.string(keys::kUsername), longest);
  EXPECT_EQ(texts.string(keys::kAccessToken), std::nullopt);
}

TEST(SharedStore, UnavailableSuiteGivesNothing) {
  testsupport::TempDataDir dir;
  std::filesystem::create_directories(dir.suiteFolder(shared::kSuiteName));
  chmod(dir.suiteFolder(shared::kSuiteName).c_str(), 0755);
  EXPECT_FALSE(shared::SharedStore::open());
}

}  // namespace
