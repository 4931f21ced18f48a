// URLs, taken apart with GUri as the web view adapter does, through the navigation,
// new-window and camera/microphone decisions of Coordinators for the production service
// domain, the loopback ones of the demo service and the engine tests, and none; and
// whatever is handed outside the app through the desktop opener's scheme allow-list.
// Checks, against rules read independently from the URL text: a host is judged the
// service's only when the domain is set and the host is it or a subdomain of it (ASCII
// case aside); only service
// pages (https, or plain http to a loopback service host) and about/blob/data stay in
// the app; every decision is answered exactly once,
// before anything is opened; and no scheme but http, https, mailto, tel and sms ever
// reaches the desktop's URL handler.
#include <arpa/inet.h>
#include <gio/gio.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Coordinator.h"
#include "app/WebUrlParser.h"
#include "platform/desktop/SystemOpener.h"
#include "shared/Endpoints.h"

namespace {

// What happened, in order: "allow", "cancel", "grant", "deny", "load <url>", "open
// <url>" (handed to the opener) and "launch <url>" (reached the desktop's handler).
std::vector<std::string> events;

[[noreturn]] void fail(const std::string& what, const std::string& url) {
  std::fprintf(stderr, "URL decision invariant broken for \"%s\": %s\nevents:", url.c_str(), what.c_str());
  for (const auto& event : events) std::fprintf(stderr, " [%s]", event.c_str());
  std::fprintf(stderr, "\n");
  std::abort();
}

// Hands URLs on to the real desktop opener, noting each one.
class NotingOpener final : public platform::desktop::ExternalOpener {
 public:
  void openExternally(const std::string& url) override {
    events.push_back("open " + url);
    platform::desktop::SystemOpener::shared().openExternally(url);
  }
};

// Answers nobody calls: the Coordinator never reloads widgets or starts a broadcast here.
class Unused final : public platform::desktop::TimelineReloader,
                     public app::BroadcastLauncher,
                     public platform::dispatch::MainQueue {
 public:
  void reloadAllTimelines() override { events.emplace_back("reload"); }
  void startBroadcast() override { events.emplace_back("startBroadcast"); }
  void post(std::function<void()> /*work*/) override { events.emplace_back("post"); }
};

std::string asciiLower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return lower;
}

bool isAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The scheme of URL text by RFC 3986 (a letter, then letters, digits, '+', '-' or '.',
// up to the first ':'), in lower case; empty when the text starts with none.
std::string schemeOf(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || !isAsciiAlpha(text[0])) return {};
  for (char c : text.substr(0, colon)) {
    if (!isAsciiAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return {};
  }
  return asciiLower(text.substr(0, colon));
}

// The service domain itself, or a name with at least one label in front of it.
bool isServiceHostByRule(const std::optional<std::string>& host, std::string_view serviceDomain) {
  if (!host || serviceDomain.empty()) return false;
  const std::string name = asciiLower(*host);
  const std::string domain = asciiLower(serviceDomain);
  const std::string dotted = "." + domain;
  return name == domain || (name.size() > dotted.size() &&
                            name.compare(name.size() - dotted.size(), dotted.size(), dotted) == 0);
}

// A host naming this machine: "localhost" in any case, an IPv4 address in 127.0.0.0/8 or
// the IPv6 loopback address in brackets.
bool isLoopbackByRule(const std::string& host) {
  if (asciiLower(host) == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) & 0xff000000U) == 0x7f000000U;
  in6_addr v6{};
  return host.size() > 2 && host.front() == '[' && host.back() == ']' &&
         inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool leavesTheAppByRule(std::string_view scheme) {
  constexpr std::array<std::string_view, 5> kAllowed = {"http", "https", "mailto", "tel", "sms"};
  return std::find(kAllowed.begin(), kAllowed.end(), scheme) != kAllowed.end();
}

// What handing `url` outside the app must lead to: the opener gets it, and the desktop
// only when its scheme is allowed.
std::vector<std::string> handedOutside(const std::string& url) {
  std::vector<std::string> expected = {"open " + url};
  if (leavesTheAppByRule(schemeOf(url))) expected.push_back("launch " + url);
  return expected;
}

void expectEvents(const std::vector<std::string>& expected, const std::string& what, const std::string& url) {
  if (events != expected) fail(what + " did not do what the rules ask", url);
  events.clear();
}

// One URL through the decisions of a Coordinator for `serviceDomain`.
void checkDecisions(app::Coordinator& coordinator, std::string_view serviceDomain, const std::string& text,
                    const std::optional<app::WebUrl>& url) {
  const bool servicePage =
      url && isServiceHostByRule(url->host, serviceDomain) &&
      (url->scheme == "https" || (url->scheme == "http" && isLoopbackByRule(*url->host)));

  // Every URL as if a user's gesture started it, so none is held back by the pacing of
  // unasked ones.
  coordinator.decidePolicyFor(url, true, [](app::NavigationActionPolicy policy) {
    events.emplace_back(policy == app::NavigationActionPolicy::allow ? "allow" : "cancel");
  });
  const bool staysInApp =
      !url || servicePage || url->scheme == "about" || url->scheme == "blob" || url->scheme == "data";
  std::vector<std::string> expected = {staysInApp ? "allow" : "cancel"};
  if (!staysInApp) {
    const auto outside = handedOutside(text);
    expected.insert(expected.end(), outside.begin(), outside.end());
  }
  expectEvents(expected, "navigation", text);

  coordinator.createWebViewWith(url, true, [](const std::string& load) { events.push_back("load " + load); });
  if (!url) {
    expected = {};
  } else if (servicePage) {
    expected = {"load " + text};
  } else {
    expected = handedOutside(text);
  }
  expectEvents(expected, "new window", text);

  coordinator.requestMediaCapturePermissionFor(url, [](app::PermissionDecision decision) {
    events.emplace_back(decision == app::PermissionDecision::grant ? "grant" : "deny");
  });
  expectEvents({servicePage ? "grant" : "deny"}, "media permission", text);
}

}  // namespace

// Replaces GIO's launcher, which the desktop opener calls: nothing is started,
// and what would have been opened is noted.
extern "C" gboolean g_app_info_launch_default_for_uri(const char* uri, GAppLaunchContext* /*context*/,
                                                      GError** /*error*/) {
  events.push_back(std::string("launch ") + uri);
  return TRUE;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static NotingOpener opener;
  static Unused unused;
  static const std::array<std::string, 4> kDomains = {shared::kServiceDomain, "127.0.0.1", "localhost", ""};
  static std::deque<app::Coordinator> coordinators;
  if (coordinators.empty()) {
    for (const auto& domain : kDomains) {
      coordinators.emplace_back(app::CoordinatorServices{[] { return 0.0; }, unused, unused, opener, unused,
                                                         [] { return std::chrono::steady_clock::now(); }},
                                domain);
    }
  }

  // The engine hands URLs over as C strings: the text ends at the first NUL.
  const std::string text(reinterpret_cast<const char*>(data),
                         strnlen(reinterpret_cast<const char*>(data), size));
  events.clear();
  const std::optional<app::WebUrl> url = app::parseWebUrl(text.c_str());
  if (url && (url->text != text || url->scheme != schemeOf(text)))
    fail("taken apart wrongly: " + url->scheme, text);
  if (!url && !text.empty()) fail("a URL went missing", text);
  for (std::size_t i = 0; i < kDomains.size(); ++i) checkDecisions(coordinators[i], kDomains[i], text, url);
  return 0;
}
