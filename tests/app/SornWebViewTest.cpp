// The real SornWebView in WebKitGTK, loading pages from a loopback server.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <cstdint>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/RequestLoader.h"
#include "platform/desktop/WidgetCenter.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/app/RecordingServices.h"
#include "tests/app/WebViewHarness.h"
#include "tests/platform/desktop/ReloadSignalListener.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDataDir.h"

namespace {

using apptest::RecordingServices;
using apptest::WebViewHarness;
using testsupport::HttpReply;
using testsupport::LoopbackHttpServer;
using testsupport::RecordedRequest;
using Events = std::vector<std::string>;
using namespace std::chrono_literals;

constexpr const char* kLoopback = "127.0.0.1";

HttpReply html(const std::string& body) { return HttpReply{200, body, "text/html; charset=utf-8", {}}; }

// One second of a quiet 440 Hz tone, 8 kHz mono 16-bit PCM.
std::string toneWav() {
  constexpr std::uint32_t kRate = 8000;
  std::string samples;
  for (std::uint32_t i = 0; i < kRate; ++i) {
    const auto value = static_cast<std::int16_t>(2000.0 * std::sin(2.0 * M_PI * 440.0 * i / kRate));
    samples.push_back(static_cast<char>(value & 0xff));
    samples.push_back(static_cast<char>((value >> 8) & 0xff));
  }
  auto le32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff),
                       static_cast<char>((v >> 16) & 0xff), static_cast<char>((v >> 24) & 0xff)};
  };
  auto le16 = [](std::uint16_t v) { return std::string{static_cast<char>(v & 0xff), static_cast<char>(v >> 8)}; };
  const auto size = static_cast<std::uint32_t>(samples.size());
  return "RIFF" + le32(36 + size) + "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(kRate) + le32(kRate * 2) +
         le16(2) + le16(16) + "data" + le32(size) + samples;
}

// Serves fixed pages by path; anything else is a 404.
class PageServer {
 public:
  explicit PageServer(std::map<std::string, HttpReply> pages)
      : pages_(std::move(pages)), server_([this](const RecordedRequest& request) {
          const std::string path = request.target.substr(0, request.target.find('?'));
          auto it = pages_.find(path);
          return it != pages_.end() ? it->second : HttpReply{404, "not here", "text/plain", {}};
        }) {}

  std::string url(const std::string& path) const { return server_.url(path); }
  std::vector<RecordedRequest> requestsFor(const std::string& path) const {
    std::vector<RecordedRequest> matching;
    for (auto& request : server_.requests()) {
      if (request.target.substr(0, request.target.find('?')) == path) matching.push_back(request);
    }
    return matching;
  }

 private:
  const std::map<std::string, HttpReply> pages_;
  LoopbackHttpServer server_;
};

bool contains(const Events& log, const std::string& event) {
  return std::find(log.begin(), log.end(), event) != log.end();
}

class SornWebViewTest : public testing::Test {
 protected:
  testsupport::TempDataDir dataDir_;
  RecordingServices recorder_;
};

TEST_F(SornWebViewTest, TheMainFrameSeesTheMarkerBeforeItsOwnScriptsFramesDoNotAndTheAgentEndsWithTheAppName) {
  PageServer server({
      {"/marker", html(R"(<!doctype html><html><head><script>
         window.seenAtStart = window.__sornNative__ === undefined ? null : window.__sornNative__;
       </script></head><body><iframe id="frame" src="/frame"></iframe></body></html>)")},
      {"/frame", html(R"(<!doctype html><script>window.seenInFrame = typeof window.__sornNative__;</script>)")},
  });
  WebViewHarness harness(server.url("/marker"), recorder_.services(), kLoopback);
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return harness.finishedLoads() >= 1; }));

  EXPECT_EQ(nlohmann::json::parse(harness.evaluate("window.seenAtStart")),
            (nlohmann::json{{"platform", "ios"}, {"version", 1}}));
  EXPECT_EQ(harness.waitFor("document.getElementById('frame').contentWindow.seenInFrame", R"("undefined")"),
            R"("undefined")");

  const auto userAgent = nlohmann::json::parse(harness.evaluate("navigator.userAgent")).get<std::string>();
  EXPECT_TRUE(userAgent.ends_with(" SorniOS/1.0")) << userAgent;
  const auto pageRequests = server.requestsFor("/marker");
  ASSERT_EQ(pageRequests.size(), 1U);  // loaded exactly once
  EXPECT_EQ(pageRequests[0].header("User-Agent"), userAgent);
  ASSERT_EQ(server.requestsFor("/frame").size(), 1U);
  EXPECT_EQ(server.requestsFor("/frame")[0].header("User-Agent"), userAgent);

  GdkRGBA background{};
  webkit_web_view_get_background_color(harness.webView(), &background);
  EXPECT_EQ(background.alpha, 0.0F);
  // Whether this engine build has WebRTC at all (Debian 12's has not).
  RecordProperty("RTCPeerConnection", harness.evaluate("typeof RTCPeerConnection"));
  EXPECT_TRUE(recorder_.log.empty());
}

TEST_F(SornWebViewTest, AudioStartsPlayingWithoutAnyUserGesture) {
  PageServer server({
      {"/autoplay", html(R"(<!doctype html><audio id="a" autoplay src="/tone.wav"></audio><script>
         window.audioState = 'waiting';
         const a = document.getElementById('a');
         a.addEventListener('playing', () => { window.audioState = 'playing'; });
         a.addEventListener('ended', () => { window.audioState = 'ended'; });
         a.addEventListener('error', () => { window.audioState = 'error ' + (a.error && a.error.code); });
       </script>)")},
      {"/tone.wav", HttpReply{200, toneWav(), "audio/wav", {}}},
  });
  WebViewHarness harness(server.url("/autoplay"), recorder_.services(), kLoopback);
  EXPECT_EQ(harness.waitFor("window.audioState", R"("playing")"), R"("playing")");
  EXPECT_EQ(harness.evaluate("document.getElementById('a').paused"), "false");
  // Played to its end, so no media work is still winding down when the test ends.
  EXPECT_EQ(harness.waitFor("window.audioState", R"("ended")"), R"("ended")");
}

// Forwards the reload to the real widget centre and notes it in the test's log.
class LoggingWidgetCenter final : public platform::desktop::TimelineReloader {
 public:
  explicit LoggingWidgetCenter(Events& log) : log_(log) {}
  void reloadAllTimelines() override {
    log_.push_back("reload");
    platform::desktop::WidgetCenter::shared().reloadAllTimelines();
  }

 private:
  Events& log_;
};

TEST_F(SornWebViewTest, PageMessagesFromAnyFrameReachTheStoreAndTheReloadSignalReachesTheBus) {
  PageServer server({
      {"/messages", html(R"(<!doctype html><script>
         const sorn = window.webkit.messageHandlers.sorn;
         sorn.postMessage({type: 'voiceJoined', token: 'tok', channel_id: 'chan', session_id: 'sess'});
         sorn.postMessage({type: 'stats', voice_seconds: 3600.0, streak_days: -2, best_streak: 12.5,
                           username: 'ünï 🎧 "q"'});
         sorn.postMessage('stats');
         sorn.postMessage(['stats']);
         sorn.postMessage({type: 'Stats'});
       </script><iframe src="/frame"></iframe>)")},
      {"/frame", html(R"(<!doctype html><script>
         window.webkit.messageHandlers.sorn.postMessage({type: 'startScreenShare', from: 'frame'});
       </script>)")},
  });
  desktoptest::ReloadSignalListener listener;
  LoggingWidgetCenter widgetCenter(recorder_.log);
  WebViewHarness harness(server.url("/messages"),
                         app::CoordinatorServices{[] { return RecordingServices::kNow; }, widgetCenter, recorder_,
                                                  recorder_},
                         kLoopback);
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return contains(recorder_.log, "startBroadcast"); }));
  // The one stats message of the right kind, then the frame's message.
  EXPECT_EQ(recorder_.log, (Events{"reload", "startBroadcast"}));
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return listener.count() >= 1; })) << listener.count();
  EXPECT_EQ(listener.withArguments(), 0);

  const auto store = *shared::SharedStore::open();
  namespace keys = shared::keys;
  EXPECT_EQ(store.string(keys::kAccessToken), "tok");
  EXPECT_EQ(store.string(keys::kChannelId), "chan");
  EXPECT_EQ(store.string(keys::kPrimarySessionId), "sess");
  EXPECT_EQ(store.string(keys::kApiBase), shared::kDefaultApiBase);
  EXPECT_EQ(store.doubleValue(keys::kCredentialsUpdatedAt), RecordingServices::kNow);
  // The page's 3600.0 is a whole number, its 12.5 is not.
  EXPECT_EQ(store.integer(keys::kVoiceSeconds), 3600);
  EXPECT_EQ(store.integer(keys::kStreakDays), -2);
  EXPECT_EQ(store.integer(keys::kBestStreak), 0);
  EXPECT_EQ(store.string(keys::kUsername), "ünï 🎧 \"q\"");
  EXPECT_EQ(store.doubleValue(keys::kStatsUpdatedAt), RecordingServices::kNow);
}

TEST_F(SornWebViewTest, ForeignLinksAndFramesAreCancelledAndHandedOutWhileServiceLinksStay) {
  PageServer server({
      {"/links", html(R"(<!doctype html>
         <a id="foreign" href="https://foreign.example/path?q=1">foreign</a>
         <a id="mail" href="mailto:help@foreign.example">mail</a>
         <a id="inside" href="/inside">inside</a>)")},
      {"/inside", html("<!doctype html><p>inside</p>")},
  });
  WebViewHarness harness(server.url("/links"), recorder_.services(), kLoopback);
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return harness.finishedLoads() >= 1; }));

  harness.evaluate("document.getElementById('foreign').click(); true");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return recorder_.log.size() >= 1; }));
  harness.evaluate("document.getElementById('mail').click(); true");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return recorder_.log.size() >= 2; }));
  harness.evaluate(
      "document.body.insertAdjacentHTML('beforeend', '<iframe src=\"https://foreign.example/frame\"></iframe>'); "
      "true");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return recorder_.log.size() >= 3; }));
  EXPECT_EQ(recorder_.log, (Events{"open https://foreign.example/path?q=1", "open mailto:help@foreign.example",
                                   "open https://foreign.example/frame"}));
  EXPECT_EQ(harness.uri(), server.url("/links"));

  harness.evaluate("document.getElementById('inside').click(); true");
  EXPECT_TRUE(WebViewHarness::spinUntil([&] { return harness.uri() == server.url("/inside"); })) << harness.uri();
  EXPECT_EQ(recorder_.log.size(), 3U);
}

TEST_F(SornWebViewTest, NewWindowLinksClickedByTheUserOpenInTheSameViewOrOutsideNeverInASecondView) {
  PageServer server({
      {"/windows", html(R"(<!doctype html>
         <a id="outside" target="_blank" href="https://foreign.example/new">outside</a>
         <a id="inside" target="_blank" href="/second">inside</a>
         <a id="unasked" target="_blank" href="/unasked-link">unasked</a>
         <script>
           // Without a user gesture the engine opens no window at all.
           window.open('/unasked-open');
           document.getElementById('unasked').click();
         </script>)")},
      {"/second", html(R"(<!doctype html>
         <form id="form" method="post" target="_blank" action="/posted">
           <input name="secret" value="s3cret"></form>)")},
      {"/posted", html("<!doctype html><p>posted</p>")},
  });
  WebViewHarness harness(server.url("/windows"), recorder_.services(), kLoopback);
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return harness.finishedLoads() >= 1; }));

  // Clicks run through the engine's script evaluation, which counts as a user gesture.
  harness.evaluate("document.getElementById('outside').click(); true");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return !recorder_.log.empty(); }));
  EXPECT_EQ(recorder_.log, Events{"open https://foreign.example/new"});
  EXPECT_EQ(harness.uri(), server.url("/windows"));

  harness.evaluate("document.getElementById('inside').click(); true");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return harness.uri() == server.url("/second"); })) << harness.uri();
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return harness.finishedLoads() >= 2; }));

  // A form posted into a new window arrives as a plain load of its URL.
  harness.evaluate("document.getElementById('form').submit(); true");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return harness.finishedLoads() >= 3; }));
  EXPECT_EQ(harness.uri(), server.url("/posted"));
  const auto posted = server.requestsFor("/posted");
  ASSERT_EQ(posted.size(), 1U);
  EXPECT_EQ(posted[0].method, "GET");
  EXPECT_EQ(posted[0].body, "");

  EXPECT_EQ(recorder_.log, Events{"open https://foreign.example/new"});
  EXPECT_TRUE(server.requestsFor("/unasked-open").empty());
  EXPECT_TRUE(server.requestsFor("/unasked-link").empty());
}

// The refusal for pages that are not the service's is covered by the decision table: the
// navigation policy never lets such a page into the view, and the page-internal ones
// (about, data, blob) never get as far as asking the app.
TEST_F(SornWebViewTest, TheMicrophoneIsGrantedToTheServicePageWithoutAPrompt) {
  PageServer server({{"/mic", html("<!doctype html><p>mic</p>")}});
  WebViewHarness harness(server.url("/mic"), recorder_.services(), kLoopback);
  // No sound card here: the engine's stand-in devices take their place.
  webkit_settings_set_enable_mock_capture_devices(webkit_web_view_get_settings(harness.webView()), TRUE);
  int requests = 0;
  g_signal_connect(harness.webView(), "permission-request",
                   G_CALLBACK(+[](WebKitWebView*, WebKitPermissionRequest*, gpointer data) {
                     ++*static_cast<int*>(data);
                     return FALSE;
                   }),
                   &requests);
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return harness.finishedLoads() >= 1; }));
  harness.evaluate(
      "window.mic = 'waiting'; navigator.mediaDevices.getUserMedia({audio: true}).then("
      "s => { window.mic = 'granted ' + s.getAudioTracks().length; }, e => { window.mic = e.name; }); true");
  EXPECT_EQ(harness.waitFor("window.mic", R"("granted 1")"), R"("granted 1")");
  g_signal_handlers_disconnect_by_data(harness.webView(), &requests);
  // The app answered the request itself; it never went on to a later handler.
  EXPECT_EQ(requests, 0);
  EXPECT_TRUE(recorder_.log.empty());
}

TEST_F(SornWebViewTest, ALoadWithoutAResponseIsStoppedWhenItsTimeoutPasses) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  LoopbackHttpServer server([released](const RecordedRequest& request) {
    if (request.target == "/slow") released.wait();
    return html("<!doctype html><p>hello</p>");
  });
  WebViewHarness harness(server.url("/start"), recorder_.services(), kLoopback);
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return harness.finishedLoads() >= 1; }));

  std::optional<int> failure;
  g_signal_connect(harness.webView(), "load-failed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char*, GError* error, gpointer data) {
                     *static_cast<std::optional<int>*>(data) = error->code;
                     return FALSE;
                   }),
                   &failure);
  app::RequestLoader::load(harness.webView(), server.url("/slow"), 300ms);
  const bool stopped = WebViewHarness::spinUntil([&] { return failure.has_value(); }, 20s);
  release.set_value();
  g_signal_handlers_disconnect_by_data(harness.webView(), &failure);
  ASSERT_TRUE(stopped);
  EXPECT_EQ(*failure, WEBKIT_NETWORK_ERROR_CANCELLED);
}

// Runs the probe (the real SornWebView in a process of its own) on one page to its end.
int runProbe(const std::string& url) {
  const std::string command = std::string(SORN_WEBVIEW_PROBE) + " '" + url + "' 127.0.0.1";
  return std::system(command.c_str());
}

TEST_F(SornWebViewTest, ACookieThePageSetIsSentAgainAfterTheAppStartsAgain) {
  PageServer server({
      {"/cookie", html(R"(<!doctype html><script>
         document.cookie = 'sorn_probe=kept; max-age=86400; path=/';
         // Once the server saw the cookie, the network side has it too.
         fetch('/cookie-ack', {cache: 'no-store'}).then(() => { document.title = 'done'; });
       </script>)")},
      {"/cookie-ack", html("ok")},
  });
  ASSERT_EQ(runProbe(server.url("/cookie")), 0);
  ASSERT_EQ(server.requestsFor("/cookie").size(), 1U);
  EXPECT_EQ(server.requestsFor("/cookie")[0].header("Cookie"), "");
  ASSERT_EQ(server.requestsFor("/cookie-ack").size(), 1U);
  EXPECT_EQ(server.requestsFor("/cookie-ack")[0].header("Cookie"), "sorn_probe=kept");

  // A new process on the same data folder: the first request already carries it.
  ASSERT_EQ(runProbe(server.url("/cookie")), 0);
  ASSERT_EQ(server.requestsFor("/cookie").size(), 2U);
  EXPECT_EQ(server.requestsFor("/cookie")[1].header("Cookie"), "sorn_probe=kept");
  EXPECT_TRUE(std::filesystem::exists(dataDir_.dataHome() / "sorn" / "cookies.sqlite"));
}

}  // namespace
