// Navigation, new-window and media decisions over URLs taken apart as the adapter does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Coordinator.h"
#include "app/WebUrlParser.h"
#include "tests/app/RecordingServices.h"

namespace {

using apptest::RecordingServices;
using Events = std::vector<std::string>;

enum class Navigation { allow, cancelAndOpen };
enum class NewWindow { loadHere, open, nothing };

struct Row {
  const char* url;
  Navigation navigation;
  NewWindow newWindow;
  bool microphone;  // granted when this is the page asking
  const char* domain = "sorn.chat";
};

constexpr auto kAllow = Navigation::allow;
constexpr auto kCancel = Navigation::cancelAndOpen;

const Row kRows[] = {
    // The service: the bare domain, subdomains, any case, any port, any scheme.
    {"https://sorn.chat/sorn/dashboard", kAllow, NewWindow::loadHere, true},
    {"https://app.sorn.chat/sorn/dashboard?tab=1#top", kAllow, NewWindow::loadHere, true},
    {"https://a.b.sorn.chat/", kAllow, NewWindow::loadHere, true},
    {"https://SORN.CHAT/", kAllow, NewWindow::loadHere, true},
    {"https://App.Sorn.Chat:8443/x", kAllow, NewWindow::loadHere, true},
    {"http://sorn.chat:80/", kAllow, NewWindow::loadHere, true},
    {"https://user:pw@app.sorn.chat/", kAllow, NewWindow::loadHere, true},
    {"https://evil.example%2Esorn.chat/", kAllow, NewWindow::loadHere, true},  // the host is a subdomain
    // Look-alikes and tricks: hosts that only end with the same characters, the domain
    // in user info, path, query or fragment, an empty label, a trailing dot.
    {"https://evilsorn.chat/", kCancel, NewWindow::open, false},
    {"https://EVILSORN.CHAT/", kCancel, NewWindow::open, false},
    {"https://xsorn.chat:443/", kCancel, NewWindow::open, false},
    {"https://sorn.chat.evil.example/", kCancel, NewWindow::open, false},
    {"https://sorn.chat@evil.example/", kCancel, NewWindow::open, false},
    {"https://evil.example/@sorn.chat", kCancel, NewWindow::open, false},
    {"https://evil.example/?next=.sorn.chat", kCancel, NewWindow::open, false},
    {"https://evil.example/#.sorn.chat", kCancel, NewWindow::open, false},
    {"https://.sorn.chat/", kCancel, NewWindow::open, false},
    {"https://sorn.chat./", kCancel, NewWindow::open, false},
    {"https://chat/", kCancel, NewWindow::open, false},
    {"https://127.0.0.1/", kCancel, NewWindow::open, false},
    {"https://[::1]:8080/", kCancel, NewWindow::open, false},
    {"https://example.org/page", kCancel, NewWindow::open, false},
    // No host: mail, telephone, text, local files, scripts, text that is no URL.
    {"mailto:help@sorn.chat", kCancel, NewWindow::open, false},
    {"tel:+15550100", kCancel, NewWindow::open, false},
    {"sms:+15550100", kCancel, NewWindow::open, false},
    {"file:///etc/passwd", kCancel, NewWindow::open, false},
    {"javascript:alert(1)", kCancel, NewWindow::open, false},
    {"sorn.chat", kCancel, NewWindow::open, false},
    // Page-internal schemes stay in place, but a new window for them goes outside.
    {"about:blank", kAllow, NewWindow::open, false},
    {"about:srcdoc", kAllow, NewWindow::open, false},
    {"blob:https://app.sorn.chat/5c1d0a52-6d3e-4ad7-9a8e-0b6f4a1f2f3c", kAllow, NewWindow::open, false},
    {"data:text/html,<p>hi</p>", kAllow, NewWindow::open, false},
    // No URL at all.
    {"", kAllow, NewWindow::nothing, false},
    // The loopback service the engine tests use.
    {"http://127.0.0.1:41234/sorn/dashboard", kAllow, NewWindow::loadHere, true, "127.0.0.1"},
    {"http://localhost:41234/", kCancel, NewWindow::open, false, "127.0.0.1"},
    {"http://127.0.0.10/", kCancel, NewWindow::open, false, "127.0.0.1"},
    {"http://localhost:8765/sorn/dashboard", kAllow, NewWindow::loadHere, true, "localhost"},
    {"http://notlocalhost:8765/", kCancel, NewWindow::open, false, "localhost"},
};

std::string name(app::NavigationActionPolicy policy) {
  return policy == app::NavigationActionPolicy::allow ? "allow" : "cancel";
}

TEST(CoordinatorPolicy, EachUrlIsDecidedOnceForNavigationNewWindowAndMicrophone) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string(row.url) + " for " + row.domain);
    RecordingServices recorder;
    const app::Coordinator coordinator(recorder.services(), row.domain);
    const auto url = app::parseWebUrl(row.url);

    coordinator.decidePolicyFor(url, [&](app::NavigationActionPolicy policy) { recorder.log.push_back(name(policy)); });
    const Events navigation = row.navigation == kAllow ? Events{"allow"} : Events{"cancel", std::string("open ") + row.url};
    EXPECT_EQ(recorder.log, navigation);

    recorder.log.clear();
    coordinator.createWebViewWith(url, [&](const std::string& load) { recorder.log.push_back("load " + load); });
    const Events newWindow = row.newWindow == NewWindow::loadHere ? Events{std::string("load ") + row.url}
                             : row.newWindow == NewWindow::open  ? Events{std::string("open ") + row.url}
                                                                 : Events{};
    EXPECT_EQ(recorder.log, newWindow);

    int answers = 0;
    app::PermissionDecision decision{};
    coordinator.requestMediaCapturePermissionFor(url, [&](app::PermissionDecision d) {
      ++answers;
      decision = d;
    });
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(decision, row.microphone ? app::PermissionDecision::grant : app::PermissionDecision::deny);
  }
}

TEST(CoordinatorPolicy, AnEmptyServiceDomainMakesNoHostAServiceHost) {
  RecordingServices recorder;
  const app::Coordinator coordinator(recorder.services(), "");
  for (const char* text : {"https://sorn.chat/", "https://x./", "http://127.0.0.1/"}) {
    SCOPED_TRACE(text);
    app::PermissionDecision decision = app::PermissionDecision::grant;
    coordinator.requestMediaCapturePermissionFor(app::parseWebUrl(text),
                                                 [&](app::PermissionDecision d) { decision = d; });
    EXPECT_EQ(decision, app::PermissionDecision::deny);
  }
}

}  // namespace
