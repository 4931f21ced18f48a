#include "platform/http/CurlSession.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/dispatch/Guarded.h"
#include "platform/http/HostNames.h"

namespace platform::http {

namespace {

TransportError invalidRequest(std::string description) {
  return {TransportError::Kind::invalidRequest, std::move(description)};
}

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

std::optional<std::string> urlPart(CURLU* url, CURLUPart part) {
  char* value = nullptr;
  if (curl_url_get(url, part, &value, 0) != CURLUE_OK || value == nullptr) return std::nullopt;
  std::string result(value);
  curl_free(value);
  return result;
}

// Parses the URL text and applies the transport policy, before anything is sent.
struct CheckedUrl {
  UrlHandle handle;
  bool plainHttp = false;
};

std::variant<CheckedUrl, TransportError> checkUrl(const std::string& text) {
  UrlHandle url(curl_url());
  if (!url) return TransportError{TransportError::Kind::failed, "The request could not be prepared."};
  // No scheme guessing and no spaces: the text must be a complete URL as it stands.
  if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
    return invalidRequest("The address \"" + text + "\" is not a valid URL.");
  }
  auto scheme = urlPart(url.get(), CURLUPART_SCHEME);
  auto host = urlPart(url.get(), CURLUPART_HOST);
  if (!scheme || !host) return invalidRequest("The address \"" + text + "\" is not a valid URL.");
  if (equalsIgnoringCase(*scheme, "https")) return CheckedUrl{std::move(url), false};
  if (!equalsIgnoringCase(*scheme, "http")) {
    return invalidRequest("The address \"" + text + "\" is not an http or https URL.");
  }
  if (!isLoopbackHost(*host)) {
    return TransportError{TransportError::Kind::insecure, "Refusing to send credentials over plain http to " +
                                                              *host + "; the API address must use https."};
  }
  return CheckedUrl{std::move(url), true};
}

bool hasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The request's headers as libcurl takes them, plus "Expect:" so that large bodies are
// not held back waiting for a 100 Continue; an error for a header that cannot be sent as given.
std::variant<HeaderList, TransportError> headerList(const HttpRequest& request) {
  HeaderList list;
  auto append = [&list](const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) return false;
    static_cast<void>(list.release());
    list.reset(grown);
    return true;
  };
  for (const auto& [name, value] : request.headers) {
    // libcurl would drop a header with an empty value, or split one with a line break.
    if (name.empty() || value.empty() || hasLineBreakOrNul(name) || hasLineBreakOrNul(value) ||
        name.find(':') != std::string::npos) {
      return invalidRequest("The request has a header that cannot be sent.");
    }
    if (!append(std::string(name).append(": ").append(value))) {
      return TransportError{TransportError::Kind::failed, "The request could not be prepared."};
    }
  }
  if (!append("Expect:"))
    return TransportError{TransportError::Kind::failed, "The request could not be prepared."};
  return list;
}

// Collects the reply body up to the cap. Runs inside curl_easy_perform on the caller's thread.
struct ReplyBuffer {
  std::string body;
  bool overflowed = false;
};

std::size_t collectReply(char* data, std::size_t size, std::size_t count, void* userData) noexcept {
  auto* reply = static_cast<ReplyBuffer*>(userData);
  const std::size_t bytes = size * count;
  if (bytes > CurlSession::kMaxReplyBytes - reply->body.size()) {
    reply->overflowed = true;
    return 0;  // ends the transfer with CURLE_WRITE_ERROR
  }
  // Out of memory ends the transfer as a write error too.
  return platform::dispatch::runGuarded([&] { reply->body.append(data, bytes); }) ? bytes : 0;
}

// One lock per kind of shared data, as libcurl asks. Held only inside libcurl's short
// cache look-ups, never across I/O.
struct ShareLocks {
  std::array<std::mutex, CURL_LOCK_DATA_LAST> mutexes;
};

void lockShare(CURL* /*handle*/, curl_lock_data data, curl_lock_access /*access*/, void* userData) noexcept {
  static_cast<ShareLocks*>(userData)->mutexes.at(static_cast<std::size_t>(data)).lock();
}

void unlockShare(CURL* /*handle*/, curl_lock_data data, void* userData) noexcept {
  static_cast<ShareLocks*>(userData)->mutexes.at(static_cast<std::size_t>(data)).unlock();
}

TransportError failureOf(CURLcode code, const ReplyBuffer& reply, const char* errorText) {
  if (code == CURLE_OPERATION_TIMEDOUT) return {TransportError::Kind::timedOut, "The request timed out."};
  if ((code == CURLE_WRITE_ERROR && reply.overflowed) || code == CURLE_FILESIZE_EXCEEDED) {
    return {TransportError::Kind::replyTooLarge, "The server's reply is larger than 1 MiB."};
  }
  std::string detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
  return {TransportError::Kind::failed, "The request failed: " + detail};
}

}  // namespace

struct CurlSession::Handles {
  ShareLocks locks;
  CURLSH* share = nullptr;
  std::mutex idleMutex;
  std::vector<CURL*> idle;  // newest last; guarded by idleMutex

  // A handle with the options every request shares, or nullptr when libcurl has no memory.
  CURL* acquire() {
    {
      std::lock_guard lock(idleMutex);
      if (!idle.empty()) {
        CURL* handle = idle.back();
        idle.pop_back();
        return handle;
      }
    }
    CURL* handle = curl_easy_init();
    if (handle == nullptr) return nullptr;
    curl_easy_setopt(handle, CURLOPT_SHARE, share);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);  // several threads; no SIGALRM for time-outs
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collectReply);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxReplyBytes));
    return handle;
  }

  void release(CURL* handle) {
    std::lock_guard lock(idleMutex);
    idle.push_back(handle);
  }
};

CurlSession::CurlSession() : handles_(std::make_unique<Handles>()) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  handles_->share = curl_share_init();
  curl_share_setopt(handles_->share, CURLSHOPT_LOCKFUNC, lockShare);
  curl_share_setopt(handles_->share, CURLSHOPT_UNLOCKFUNC, unlockShare);
  curl_share_setopt(handles_->share, CURLSHOPT_USERDATA, &handles_->locks);
  // Connections stay with their easy handle: libcurl does not support one connection
  // pool used by several threads at once. Name lookups and TLS sessions are shared.
  curl_share_setopt(handles_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  curl_share_setopt(handles_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

CurlSession::~CurlSession() = default;

CurlSession& CurlSession::shared() {
  // Never destroyed: a worker task may still be sending while the process exits.
  static auto* const session = new CurlSession();
  return *session;
}

HttpResult CurlSession::post(const HttpRequest& request) {
  auto url = checkUrl(request.url);
  if (auto* error = std::get_if<TransportError>(&url)) return *error;
  auto headers = headerList(request);
  if (auto* error = std::get_if<TransportError>(&headers)) return *error;
  auto& checked = std::get<CheckedUrl>(url);

  CURL* handle = handles_->acquire();
  if (handle == nullptr)
    return TransportError{TransportError::Kind::failed, "The request could not be prepared."};

  ReplyBuffer reply;
  std::array<char, CURL_ERROR_SIZE> errorText{};
  curl_easy_setopt(handle, CURLOPT_CURLU, checked.handle.get());
  // A proxy would carry plain http off this machine; https goes through one only as a tunnel.
  curl_easy_setopt(handle, CURLOPT_PROXY, checked.plainHttp ? "" : nullptr);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, std::get<HeaderList>(headers).get());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText.data());

  const CURLcode code = curl_easy_perform(handle);
  long status = 0;
  if (code == CURLE_OK) curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);

  // Nothing of this request may outlive it in the kept handle.
  curl_easy_setopt(handle, CURLOPT_CURLU, nullptr);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, nullptr);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, nullptr);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);
  handles_->release(handle);

  if (code != CURLE_OK) return failureOf(code, reply, errorText.data());
  return HttpResponse{status, std::move(reply.body)};
}

}  // namespace platform::http
