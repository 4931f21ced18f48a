// Store contents, as the app or another program may have left them, through the
// broadcast's credentials. The input: a JSON object whose members for the five
// credential keys say what the suite holds under each (a string: that text, an integer
// or a float: that number, null: NULL, absent: nothing; any other value: NULL). Checks:
// credentials load exactly when token, channel and voice session are non-empty texts
// that readers take (up to kMaxStringBytes), with the API base stored as text or the
// default, and the time stored as a number or 1970-01-01.
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "broadcast/ScreenShareStore.h"
#include "fuzz/TemporaryDataFolder.h"
#include "platform/suite/Suite.h"
#include "shared/Constants.h"
#include "shared/StoreKeys.h"

namespace {

namespace keys = shared::keys;
using broadcast::ScreenShareStore;
using nlohmann::json;
using platform::suite::StoredValue;

constexpr std::array kCredentialKeys = {keys::kAccessToken, keys::kChannelId, keys::kPrimarySessionId,
                                        keys::kApiBase, keys::kCredentialsUpdatedAt};

std::optional<StoredValue> storedFor(const json& member) {
  if (member.is_string()) return StoredValue::ofText(member.get<std::string>());
  if (member.is_number_integer()) return StoredValue::ofInteger(member.get<std::int64_t>());
  if (member.is_number()) return StoredValue::ofReal(member.get<double>());
  return StoredValue{};
}

// The text a reader takes from the member, if any.
std::optional<std::string> textOf(const json& input, const char* key) {
  const auto member = input.find(key);
  if (member == input.end() || !member->is_string() ||
      member->get_ref<const std::string&>().size() > shared::kMaxStringBytes)
    return std::nullopt;
  return member->get<std::string>();
}

std::optional<ScreenShareStore::Credentials> expectedFrom(const json& input) {
  const auto token = textOf(input, keys::kAccessToken), channel = textOf(input, keys::kChannelId),
             session = textOf(input, keys::kPrimarySessionId);
  if (!token || token->empty() || !channel || channel->empty() || !session || session->empty())
    return std::nullopt;
  const auto stored = storedFor(input.value(keys::kCredentialsUpdatedAt, json()));
  const double seconds = stored->asDouble().value_or(0.0);
  return ScreenShareStore::Credentials{*token, *channel, *session,
                                       textOf(input, keys::kApiBase).value_or(shared::kDefaultApiBase),
                                       ScreenShareStore::Date(std::chrono::duration<double>(seconds))};
}

// A private data folder for the whole run.
void useTemporaryDataFolder() {
  if (fuzzsupport::makeTemporaryDataFolder().empty()) std::abort();
  std::atexit([] { std::filesystem::remove_all(std::getenv("XDG_DATA_HOME")); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool prepared = (useTemporaryDataFolder(), true);
  (void)prepared;
  const json input = json::parse(data, data + size, nullptr, /*allow_exceptions=*/false);
  if (!input.is_object()) return 0;
  std::vector<platform::suite::SuiteChange> record;
  for (const char* key : kCredentialKeys) {
    const auto member = input.find(key);
    record.push_back({key, member != input.end() ? storedFor(*member) : std::nullopt});
  }
  const auto suite = platform::suite::Suite::open(shared::kSuiteName);
  if (!suite || !suite->write(record)) {
    std::fprintf(stderr, "the suite cannot be written\n");
    std::abort();
  }
  if (ScreenShareStore::load() != expectedFrom(input)) {
    std::fprintf(stderr, "the broadcast's credentials are not the ones stored\n");
    std::abort();
  }
  return 0;
}
