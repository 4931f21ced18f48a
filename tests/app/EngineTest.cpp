// The app's web view on the engine this program is built for (one build per engine, the
// same tests), loading pages from a loopback server.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <optional>

#include "platform/dispatch/MainLoopQueue.h"
#include "shared/SharedStore.h"
#include "shared/StoreChanges.h"
#include "shared/StoreKeys.h"
#include SORN_ENGINE_HARNESS
#include "tests/app/RecordingServices.h"
#include "tests/support/DemoService.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDataDir.h"

namespace {

namespace keys = shared::keys;
using testsupport::LoopbackHttpServer;
using testsupport::RecordedRequest;
using testsupport::spinUntil;
using Events = std::vector<std::string>;

// Half a second of silence, 16-bit mono PCM: an audio track, which autoplay rules are about.
std::string silentWav() {
  auto le = [](std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
    return out;
  };
  return "RIFF" + le(36 + 8000, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) +
         le(16000, 4) + le(2, 2) + le(16, 2) + "data" + le(8000, 4) + std::string(8000, '\0');
}

// Serves fixed pages by path; anything else is a 404.
LoopbackHttpServer serve(std::map<std::string, std::string> pages) {
  return LoopbackHttpServer([pages = std::move(pages)](const RecordedRequest& request) {
    const auto page = pages.find(request.target.substr(0, request.target.find('?')));
    if (page == pages.end()) return testsupport::HttpReply{404, "not here", "text/plain", {}};
    return testsupport::HttpReply{
        200, page->second, page->first.ends_with(".wav") ? "audio/wav" : "text/html", {}};
  });
}

// The JSON text of the expression's value in the page's main frame, "undefined", or
// "exception: ..." when it threw.
std::string evaluate(EngineHarness& harness, const std::string& expression) {
  const auto result =
      std::make_shared<std::optional<std::string>>();  // the answer may come after the wait gave up
  harness.run("(() => { try { const text = JSON.stringify((0, eval)(" + nlohmann::json(expression).dump() +
                  ")); return text === undefined ? 'undefined' : text; } catch (e) { return 'exception: ' + "
                  "e; } })()",
              [result](std::string text) { *result = std::move(text); });
  spinUntil([&] { return result->has_value(); });
  return result->value_or("exception: no answer");
}

// Evaluates `expression` until it gives `expected` (JSON text) or 30 s pass.
void expectSoon(EngineHarness& harness, const std::string& expression, const std::string& expected) {
  std::string last;
  spinUntil([&] { return (last = evaluate(harness, expression)) == expected; });
  EXPECT_EQ(last, expected) << expression;
}

bool waitForLoads(const EngineHarness& harness, int count) {
  return spinUntil([&] { return harness.loads() >= count; });
}

// A click on the middle of the element with that id, as the engine's user gives one.
void click(EngineHarness& harness, const std::string& id) {
  const auto middle = nlohmann::json::parse(
      evaluate(harness, "(() => { const e = document.getElementById('" + id +
                            "'); e.scrollIntoView({block: 'center'}); const r = e.getBoundingClientRect(); "
                            "return [r.x + r.width / 2, r.y + r.height / 2]; })()"));
  harness.clickAt(middle[0].get<double>(), middle[1].get<double>());
}

// What the display shows, one luminance (0-255) a pixel: the window over a black screen.
std::vector<std::uint8_t> shownLuminances() {
  const std::unique_ptr<FILE, int (*)(FILE*)> image(popen("import -silent -window root -depth 8 gray:-", "r"),
                                                    pclose);
  std::vector<std::uint8_t> luminances(1 << 16);
  std::size_t size = 0;
  while (std::size_t read = fread(luminances.data() + size, 1, luminances.size() - size, image.get())) {
    size += read;
    if (size == luminances.size()) luminances.resize(2 * size);
  }
  luminances.resize(size);
  return luminances;
}

std::vector<RecordedRequest> requestsFor(const LoopbackHttpServer& server, const std::string& path) {
  auto requests = server.requests();
  std::erase_if(requests, [&](const auto& r) { return r.target.substr(0, r.target.find('?')) != path; });
  return requests;
}

class EngineTest : public testing::Test {
 protected:
  app::CoordinatorServices services() {
    return recorder_.services(platform::dispatch::MainLoopQueue::shared());
  }

  testsupport::TempDataDir dataDir_;
  apptest::RecordingServices recorder_;
};

TEST_F(EngineTest, OnlyTheMainFrameSeesTheMarkerAndPostsItsMessagesReachTheStoreMediaNeedNoGesture) {
  // Every kind of frame tries to post as the service; none may reach the app.
  const std::string forged =
      "try { window.webkit.messageHandlers.sorn.postMessage({type: 'voiceJoined', token: 'evil', channel_id: "
      "'c', session_id: 's', api_base: 'https://evil.example/api'}); } catch (e) {}"
      "try { window.webkit.messageHandlers.sorn.postMessage({type: 'startScreenShare'}); } catch (e) {}";
  const std::string frameScript =
      "<script>window.seenInFrame = typeof window.__sornNative__;" + forged + "</script>";
  const std::string dataFrame = "data:text/html," + frameScript;
  const auto server = serve({{"/main", R"(<!doctype html><meta charset="utf-8"><script>
         window.seenAtStart = window.__sornNative__ === undefined ? null : window.__sornNative__;
         const sorn = window.webkit.messageHandlers.sorn;
         sorn.postMessage({type: 'voiceJoined', token: 'tok', channel_id: 'chan', session_id: 'sess'});
         // A burst of one task crosses to the app once: its last.
         for (let i = 0; i < 1000; ++i) sorn.postMessage({type: 'stats', voice_seconds: i});
         sorn.postMessage({type: 'stats', voice_seconds: 3600.0, best_streak: 12.5, username: 'ünï 🎧 "q"'});
         sorn.postMessage('stats');
         sorn.postMessage({type: 'Stats'});
         const cycle = {type: 'voiceLeft'}; cycle.self = cycle;
         sorn.postMessage(cycle);
         sorn.postMessage(undefined);
       </script><iframe id="frame" src="/frame"></iframe>
       <iframe srcdoc=")" + frameScript + R"("></iframe>
       <iframe sandbox="allow-scripts" src="/frame"></iframe>
       <iframe src=")" + dataFrame + R"("></iframe>
       <audio autoplay src="/silence.wav" onplaying="window.audio = 'playing'" onended="window.audio = 'ended'">)"},
                             {"/frame", "<!doctype html>" + frameScript},
                             {"/silence.wav", silentWav()}});
  EngineHarness harness(server.url("/main"), services(), "127.0.0.1");
  ASSERT_TRUE(waitForLoads(harness, 1));
  ASSERT_TRUE(spinUntil([&] { return !recorder_.log.empty(); }));
  expectSoon(harness, "document.getElementById('frame').contentWindow.seenInFrame", R"("undefined")");
  spinUntil([] { return false; }, std::chrono::milliseconds(300));  // anything late from the frames
  EXPECT_EQ(recorder_.log, Events{"reload"});  // one write of the burst's last figures, nothing from frames
  EXPECT_EQ(nlohmann::json::parse(evaluate(harness, "window.seenAtStart")),
            (nlohmann::json{{"platform", "ios"}, {"version", 1}}));
  const auto userAgent = nlohmann::json::parse(evaluate(harness, "navigator.userAgent")).get<std::string>();
  EXPECT_TRUE(userAgent.ends_with(" SorniOS/1.0")) << userAgent;
  ASSERT_EQ(requestsFor(server, "/main").size(), 1U);  // loaded exactly once
  EXPECT_EQ(requestsFor(server, "/main")[0].header("User-Agent"), userAgent);
  EXPECT_TRUE(harness.backgroundMatchesTheBackdrop());
  const auto store = *shared::SharedStore::open();
  EXPECT_EQ(store.string(keys::kAccessToken), "tok");
  EXPECT_EQ(store.string(keys::kApiBase), shared::kDefaultApiBase);
  EXPECT_EQ(store.integer(keys::kVoiceSeconds), 3600);  // the page's 3600.0 is whole, its 12.5 is not
  EXPECT_EQ(store.integer(keys::kBestStreak), 0);
  EXPECT_EQ(store.string(keys::kUsername), "ünï 🎧 \"q\"");

  // Played to its end, so no media work is still winding down when the test ends.
  expectSoon(harness, "window.audio", R"("playing")");
  expectSoon(harness, "window.audio", R"("ended")");
  // The service's page gets the microphone without a prompt: no later handler sees the
  // request. (Other pages never get this far: the navigation policy lets none in.)
  evaluate(harness,
           "navigator.mediaDevices.getUserMedia({audio: true}).then(s => { window.mic = "
           "s.getAudioTracks().length; }, e => { window.mic = e.name; }); true");
  expectSoon(harness, "window.mic", "1");
  EXPECT_EQ(harness.permissionPrompts(), 0);
}

TEST_F(EngineTest, ForeignLinksFramesAndNewWindowsGoOutsideServiceNewWindowsReplaceThePage) {
  const auto server = serve({{"/links", R"(<!doctype html>
         <a id="foreign" href="https://foreign.example/path?q=1">foreign</a>
         <a id="mail" href="mailto:help@foreign.example">mail</a>
         <a id="outside" target="_blank" href="https://foreign.example/new">outside</a>
         <a id="inside" target="_blank" href="/second">inside</a>
         <script>
           // Frames the page adds navigate without a gesture: of a burst of them, one goes out.
           for (let i = 0; i < 20; ++i)
             document.body.insertAdjacentHTML('beforeend', '<iframe src="https://foreign.example/frame"></iframe>');
         </script>)"},
                             {"/second", "<!doctype html><p>second</p>"}});
  EngineHarness harness(server.url("/links"), services(), "127.0.0.1");
  ASSERT_TRUE(waitForLoads(harness, 1));
  for (const char* id : {"foreign", "mail", "outside"}) click(harness, id);
  ASSERT_TRUE(spinUntil([&] { return recorder_.log.size() >= 4; }));
  std::sort(recorder_.log.begin(), recorder_.log.end());
  EXPECT_EQ(recorder_.log,
            (Events{"open https://foreign.example/frame", "open https://foreign.example/new",
                    "open https://foreign.example/path?q=1", "open mailto:help@foreign.example"}));
  EXPECT_EQ(evaluate(harness, "location.href"), nlohmann::json(server.url("/links")).dump());
  click(harness, "inside");
  EXPECT_TRUE(spinUntil([&] {
    return evaluate(harness, "location.href") == nlohmann::json(server.url("/second")).dump();
  })) << evaluate(harness, "location.href");
  EXPECT_EQ(recorder_.log.size(), 4U);
}

// Pixels that stand well apart from the most common one (the page's background): text.
std::size_t contrastingPixels(const std::vector<std::uint8_t>& luminances) {
  std::array<std::size_t, 256> counts{};
  for (const auto luminance : luminances) ++counts[luminance];
  const auto background = static_cast<int>(std::ranges::max_element(counts) - counts.begin());
  return static_cast<std::size_t>(std::ranges::count_if(
      luminances, [&](std::uint8_t luminance) { return std::abs(luminance - background) >= 96; }));
}

TEST_F(EngineTest,
       TheErrorPageIsReadableOnTheDarkBackdropALoadWithoutAnswerStopsAtItsTimeoutAPageIsBlackAgain) {
  std::string unreachable;
  {
    const auto closed = serve({});
    unreachable = closed.url("/sorn/dashboard");
  }  // nothing listens there any more
  std::promise<void> release;
  LoopbackHttpServer server([released = release.get_future().share()](const RecordedRequest& request) {
    if (request.target == "/slow") released.wait();
    return testsupport::HttpReply{200, "<!doctype html><p style='color:#222'>dark text</p>", "text/html", {}};
  });
  EngineHarness harness(unreachable, services(), "127.0.0.1");
  ASSERT_TRUE(waitForLoads(harness, 1));
  std::size_t contrasting = 0;
  EXPECT_TRUE(spinUntil([&] { return (contrasting = contrastingPixels(shownLuminances())) > 200; }))
      << contrasting << " pixels stand out";
  harness.loadWithTimeout(server.url("/slow"), std::chrono::milliseconds(300));
  const bool stopped =
      waitForLoads(harness, harness.loads() + 1);  // the slow page cannot answer before it is let go
  release.set_value();
  EXPECT_TRUE(stopped);
  // The service's own page gets the black backdrop again: its dark text stays dark on it.
  harness.loadWithTimeout(server.url("/dark"), std::chrono::seconds(30));
  ASSERT_TRUE(waitForLoads(harness, harness.loads() + 1));
  // The new page shows a few frames after its load ends; slower builds take longer.
  EXPECT_TRUE(spinUntil([&] {
    return harness.backgroundMatchesTheBackdrop() &&
           (contrasting = contrastingPixels(shownLuminances())) < 50;
  })) << contrasting
      << " pixels stand out on the service's page";
}

TEST_F(EngineTest, ACookieThePageSetIsSentAgainAfterTheAppStartsAgainAndAnUnusableDataFolderKeepsItInMemory) {
  const auto server = serve({{"/cookie", R"(<!doctype html><script>
         document.cookie = 'sorn_probe=kept; max-age=86400; path=/';
         // Once the server saw the cookie, the network side has it too.
         fetch('/cookie-ack', {cache: 'no-store'}).then(() => { document.title = 'done'; });
       </script>)"},
                             {"/cookie-ack", "ok"}});
  // The probe is the real web view in a process of its own, on the same data folder.
  const std::string probe = std::string(SORN_WEBVIEW_PROBE) + " '" + server.url("/cookie") + "'";
  ASSERT_EQ(std::system(probe.c_str()), 0);
  ASSERT_EQ(std::system(probe.c_str()), 0);
  const auto pages = requestsFor(server, "/cookie");
  ASSERT_EQ(pages.size(), 2U);
  EXPECT_EQ(pages[0].header("Cookie"), "");
  EXPECT_EQ(pages[1].header("Cookie"), "sorn_probe=kept");  // the first request of the second start

  // A data folder that is no folder: the app runs with cookies in memory instead of aborting.
  std::filesystem::remove_all(dataDir_.dataHome() / "sorn");
  std::ofstream(dataDir_.dataHome() / "sorn") << "not a folder";
  ASSERT_EQ(std::system(probe.c_str()), 0);
  EXPECT_EQ(requestsFor(server, "/cookie").back().header("Cookie"), "");
}

TEST_F(EngineTest, ValuesJavaScriptHasAndJsonHasNotGiveTheSameStoreOutcomeOnEveryEngine) {
  const auto server = serve({{"/values", "<!doctype html><p>values</p>"}});
  EngineHarness harness(server.url("/values"), services(), "127.0.0.1");
  ASSERT_TRUE(waitForLoads(harness, 1));
  // A body; the voice seconds and username stored. A body JSON cannot hold is dropped whole:
  // "-1 before", stored ahead of it, stays. Keys of the store, or of the message's own, in a
  // body change nothing but its fields.
  const std::pair<std::string, std::string> rows[] = {
      {"{type: 'stats', voice_seconds: undefined, username: 'u'}", "0 u"},
      {"{type: 'stats', voice_seconds: NaN, username: 'nan'}", "0 nan"},
      {"{type: 'stats', voice_seconds: -0, username: 'zero'}", "0 zero"},
      {"{type: 'stats', voice_seconds: 7, username: new Date(0)}", "7 1970-01-01T00:00:00.000Z"},
      {"{type: 'stats', voice_seconds: Infinity, username: 'inf'}", "0 inf"},
      {"(() => { const body = {type: 'stats', voice_seconds: 9}; body.self = body; return body; })()",
       "-1 before"},
      {"{type: 'stats', voice_seconds: 10n}", "-1 before"},
      {"undefined", "-1 before"},
      {"{type: 'stats', voice_seconds: 3, username: 'own', 'stats.voiceSeconds': 5, 'screen.active': true, "
       "key: 'evil.key', value: 1, __proto__: {type: 'voiceLeft'}}",
       "3 own"}};
  for (const auto& [body, stored] : rows) {
    ASSERT_TRUE(shared::SharedStore::open()->write(
        shared::StoreChanges().setInteger(keys::kVoiceSeconds, -1).setString(keys::kUsername, "before")));
    // The join behind it crosses after the body and is stored at once; the body's statistics, if
    // any, are written one main-loop turn after they arrive.
    const std::string marker = "after " + body;
    evaluate(harness, "window.webkit.messageHandlers.sorn.postMessage(" + body +
                          "); window.webkit.messageHandlers.sorn.postMessage({type: 'voiceJoined', token: " +
                          nlohmann::json(marker).dump() + "}); true");
    ASSERT_TRUE(spinUntil([&] { return shared::SharedStore::open()->string(keys::kAccessToken) == marker; }));
    spinUntil([] { return false; }, std::chrono::milliseconds(200));
    const auto store = *shared::SharedStore::open();
    EXPECT_EQ(
        std::to_string(store.integer(keys::kVoiceSeconds)) + " " + store.string(keys::kUsername).value_or(""),
        stored)
        << body;
  }
}

TEST_F(EngineTest, JoinVoiceHoldsACallWithTheDemoServiceWhereTheEngineHasWebRtc) {
  const testsupport::DemoService demo(SORN_DEMO_SERVICE);
  ASSERT_GT(demo.port(), 0);
  EngineHarness harness("http://127.0.0.1:" + std::to_string(demo.port()) + "/sorn/dashboard", services(),
                        "127.0.0.1");
  ASSERT_TRUE(waitForLoads(harness, 1));
  click(harness, "joinVoice");
  auto text = [&](const char* id) {
    return evaluate(harness, std::string("document.getElementById('") + id + "').textContent");
  };
  if (!EngineHarness::kHoldsVoiceCalls) {
    expectSoon(harness, "document.getElementById('voiceNote').textContent",
               R"("This engine build has no voice (no WebRTC).")");
    EXPECT_TRUE(demo.peers()["peers"].empty());
    return;
  }
  expectSoon(harness, "document.getElementById('voiceState').textContent", R"("connected")");
  // The peer echoes the fake microphone: audio comes back (the first figures may still be 0).
  EXPECT_TRUE(spinUntil([&] {
    const auto bytes = text("voiceBytes");
    return bytes.ends_with(R"( bytes")") && bytes != R"("0 bytes")";
  })) << text("voiceBytes");
  EXPECT_EQ(demo.peers()["peers"].size(), 1U);
}

}  // namespace
