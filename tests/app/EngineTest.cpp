// The app's web view on the engine this program is built for (one build per engine, the
// same tests), loading pages from a loopback server; the launcher on the engine's toolkit.
#include <gio/gio.h>  // before Qt, whose "signals" keyword GIO uses as a name
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <nlohmann/json.hpp>
#include <optional>
#include <tuple>

#include "app/launcher/BroadcastPickerHost.h"
#include "platform/dispatch/MainLoopQueue.h"
#include "platform/screencast/picker/BroadcastChoice.h"
#include "shared/Constants.h"
#include SORN_ENGINE_HARNESS
#include "tests/app/RecordingServices.h"
#include "tests/support/Command.h"
#include "tests/support/DemoService.h"
#include "tests/support/FakeExtension.h"
#include "tests/support/GermanLocale.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/RawSql.h"
#include "tests/support/TempDataDir.h"

namespace {

using namespace std::string_literals;
using testsupport::LoopbackHttpServer;
using testsupport::RecordedRequest;
using testsupport::spinUntil;
using Strings = std::vector<std::string>;

// Half a second of silence, 8 kHz 16-bit mono PCM: an audio track, which autoplay rules are about.
const std::string kSilentWav =
    "RIFF\x64\x1f\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data\x40\x1f\0\0"s +
    std::string(8000, '\0');

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

// Pixels on the display (the window over a black screen) whose luminance stands well apart
// from the most common one, the page's background: text.
std::size_t contrastingPixelsShown() {
  const std::unique_ptr<FILE, int (*)(FILE*)> image(popen("import -silent -window root -depth 8 gray:-", "r"),
                                                    pclose);
  std::array<std::size_t, 256> counts{};
  for (int luminance = 0; (luminance = fgetc(image.get())) != EOF;)
    ++counts[static_cast<std::size_t>(luminance)];
  const auto background = std::ranges::max_element(counts) - counts.begin();
  std::size_t contrasting = 0;
  for (std::size_t i = 0; i < counts.size(); ++i)
    contrasting += std::abs(static_cast<long>(i) - background) >= 96 ? counts[i] : 0;
  return contrasting;
}

// The header's value in each request for the path, in order.
Strings headersSent(const LoopbackHttpServer& server, const std::string& path, const std::string& header) {
  Strings values;
  for (const auto& request : server.requests())
    if (request.target.substr(0, request.target.find('?')) == path)
      values.push_back(request.get_header_value(header));
  return values;
}

class EngineTest : public testing::Test {
 protected:
  app::CoordinatorServices services() {
    return recorder_.services(platform::dispatch::MainLoopQueue::shared());
  }
  // What the store holds under the keys `where` picks, "key=value" by key; by default all
  // but the times of the writes.
  std::string stored(const std::string& where = "key NOT LIKE '%updatedAt'") const {
    return sql("SELECT group_concat(key || '=' || value, ' ') FROM (SELECT * FROM entries WHERE " + where +
               " ORDER BY key)");
  }
  std::string sql(const std::string& text) const {
    return testsupport::rawSql(dataDir_.suiteFile(shared::kSuiteName), text);
  }

  testsupport::TempDataDir dataDir_;
  apptest::RecordingServices recorder_;
};

TEST_F(EngineTest,
       OnlyTheMainFramePostsMessagesTheirValuesReachTheStoreAlikeOnEveryEngineMediaNeedNoGesture) {
  // Every kind of frame tries to post as the service; none may reach the app.
  const std::string forged =
      "try { window.webkit.messageHandlers.sorn.postMessage({type: 'voiceJoined', token: 'evil', channel_id: "
      "'c', session_id: 's', api_base: 'https://evil.example/api'}); } catch (e) {}"
      "try { window.webkit.messageHandlers.sorn.postMessage({type: 'startScreenShare'}); } catch (e) {}";
  const std::string frameScript =
      "<script>window.seenInFrame = typeof window.__sornNative__;" + forged + "</script>";
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
       <iframe src="data:text/html,)" + frameScript +
                                           R"("></iframe>
       <audio autoplay src="/silence.wav" onplaying="window.audio = 'playing'" onended="window.audio = 'ended'">)"},
                             {"/frame", "<!doctype html>" + frameScript},
                             {"/silence.wav", kSilentWav}});
  EngineHarness harness(server.url("/main"), services());
  ASSERT_TRUE(waitForLoads(harness, 1));
  ASSERT_TRUE(spinUntil([&] { return !recorder_.log.empty(); }));
  expectSoon(harness, "document.getElementById('frame').contentWindow.seenInFrame", R"("undefined")");
  spinUntil([] { return false; }, std::chrono::milliseconds(300));  // anything late from the frames
  EXPECT_EQ(recorder_.log, Strings{"reload"});  // one write of the burst's last figures, nothing from frames
  EXPECT_EQ(evaluate(harness, "window.seenAtStart"), R"({"platform":"ios","version":1})");
  const auto userAgent = nlohmann::json::parse(evaluate(harness, "navigator.userAgent")).get<std::string>();
  EXPECT_TRUE(userAgent.ends_with(" SorniOS/1.0")) << userAgent;
  EXPECT_EQ(headersSent(server, "/main", "User-Agent"), Strings{userAgent});  // loaded exactly once
  EXPECT_TRUE(harness.backgroundMatchesTheBackdrop());
  // The page's 3600.0 is whole, its 12.5 is not.
  EXPECT_EQ(stored(), "screen.accessToken=tok screen.apiBase="s + shared::kDefaultApiBase +
                          " screen.channelId=chan screen.primarySessionId=sess stats.bestStreak=0 "
                          "stats.streakDays=0 stats.username=ünï 🎧 \"q\" stats.voiceSeconds=3600");

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

  // Values JavaScript has and JSON has not give the same outcome on every engine. A body; the
  // username and voice seconds stored. A body JSON cannot hold is dropped whole: what was
  // stored ahead of it stays. Keys of the store, or of the message's own, in a body change
  // nothing but its fields.
  const std::pair<std::string, std::string> rows[] = {
      {"{type: 'stats', voice_seconds: undefined, username: 'u'}", "stats.username=u stats.voiceSeconds=0"},
      {"{type: 'stats', voice_seconds: NaN, username: 'nan'}", "stats.username=nan stats.voiceSeconds=0"},
      {"{type: 'stats', voice_seconds: -0, username: 'zero'}", "stats.username=zero stats.voiceSeconds=0"},
      {"{type: 'stats', voice_seconds: 7, username: new Date(0)}",
       "stats.username=1970-01-01T00:00:00.000Z stats.voiceSeconds=7"},
      {"{type: 'stats', voice_seconds: Infinity, username: 'inf'}",
       "stats.username=inf stats.voiceSeconds=0"},
      {"(() => { const body = {type: 'stats', voice_seconds: 9}; body.self = body; return body; })()",
       "stats.username=before stats.voiceSeconds=-1"},
      {"{type: 'stats', voice_seconds: 10n}", "stats.username=before stats.voiceSeconds=-1"},
      {"undefined", "stats.username=before stats.voiceSeconds=-1"},
      {"{type: 'stats', voice_seconds: 3, username: 'own', 'stats.voiceSeconds': 5, 'screen.active': true, "
       "key: 'evil.key', value: 1, __proto__: {type: 'voiceLeft'}}",
       "stats.username=own stats.voiceSeconds=3"}};
  for (const auto& [body, expected] : rows) {
    ASSERT_EQ(sql("REPLACE INTO entries VALUES ('stats.voiceSeconds', -1), ('stats.username', 'before'), "
                  "('screen.accessToken', 'before')"),
              "<none>");
    // The join behind it crosses after the body and is stored at once; the body's statistics, if
    // any, are written one main-loop turn after they arrive.
    evaluate(harness,
             "window.webkit.messageHandlers.sorn.postMessage(" + body +
                 "); window.webkit.messageHandlers.sorn.postMessage({type: 'voiceJoined', token: 'after'})");
    ASSERT_TRUE(
        spinUntil([&] { return stored("key = 'screen.accessToken'") == "screen.accessToken=after"; }));
    spinUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(stored("key IN ('stats.voiceSeconds', 'stats.username')"), expected) << body;
  }
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
  EngineHarness harness(server.url("/links"), services());
  ASSERT_TRUE(waitForLoads(harness, 1));
  for (const char* id : {"foreign", "mail", "outside"}) click(harness, id);
  ASSERT_TRUE(spinUntil([&] { return recorder_.log.size() >= 4; }));
  std::sort(recorder_.log.begin(), recorder_.log.end());
  EXPECT_EQ(recorder_.log,
            (Strings{"open https://foreign.example/frame", "open https://foreign.example/new",
                     "open https://foreign.example/path?q=1", "open mailto:help@foreign.example"}));
  EXPECT_EQ(evaluate(harness, "location.href"), nlohmann::json(server.url("/links")).dump());
  click(harness, "inside");
  expectSoon(harness, "location.href", nlohmann::json(server.url("/second")).dump());
  EXPECT_EQ(recorder_.log.size(), 4U);
}

TEST_F(EngineTest,
       TheErrorPageIsReadableOnTheDarkBackdropALoadWithoutAnswerStopsAtItsTimeoutAPageIsBlackAgain) {
  const std::string unreachable = serve({}).url("/sorn/dashboard");  // nothing listens there any more
  std::promise<void> release;
  LoopbackHttpServer server([released = release.get_future().share()](const RecordedRequest& request) {
    if (request.target == "/slow") released.wait();
    return testsupport::HttpReply{200, "<!doctype html><p style='color:#222'>dark text</p>", "text/html", {}};
  });
  EngineHarness harness(unreachable, services());
  ASSERT_TRUE(waitForLoads(harness, 1));
  std::size_t contrasting = 0;
  EXPECT_TRUE(spinUntil([&] { return (contrasting = contrastingPixelsShown()) > 200; }))
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
    return harness.backgroundMatchesTheBackdrop() && (contrasting = contrastingPixelsShown()) < 50;
  })) << contrasting
      << " pixels stand out on the service's page";
}

TEST(EngineRestartTest,
     ACookieThePageSetIsSentAgainAfterTheAppStartsAgainAndAnUnusableDataFolderKeepsItInMemory) {
  // Started again by itself: "the app", on the first run's data folder, until the page is done.
  if (const char* page = std::getenv("SORN_TEST_PAGE")) {
    apptest::RecordingServices recorder;
    EngineHarness harness(page, recorder.services(platform::dispatch::MainLoopQueue::shared()));
    ASSERT_TRUE(spinUntil([&] { return evaluate(harness, "document.title") == R"("done")"; }));
    return;
  }
  const testsupport::TempDataDir dataDir;
  const auto server = serve({{"/cookie", R"(<!doctype html><script>
         document.cookie = 'sorn_probe=kept; max-age=86400; path=/';
         // Once the server saw the cookie, the network side has it too.
         fetch('/cookie-ack', {cache: 'no-store'}).then(() => { document.title = 'done'; });
       </script>)"},
                             {"/cookie-ack", "ok"}});
  const auto* test = testing::UnitTest::GetInstance()->current_test_info();
  const std::string start = "SORN_TEST_PAGE='" + server.url("/cookie") + "' " +
                            std::filesystem::read_symlink("/proc/self/exe").string() +
                            " --gtest_filter=" + test->test_suite_name() + "." + test->name();
  ASSERT_EQ(std::system(start.c_str()), 0);
  ASSERT_EQ(std::system(start.c_str()), 0);

  // A data folder that is no folder: the app runs with cookies in memory instead of aborting.
  std::filesystem::remove_all(dataDir.dataHome() / "sorn");
  std::ofstream(dataDir.dataHome() / "sorn") << "not a folder";
  ASSERT_EQ(std::system(start.c_str()), 0);
  // The first request of the second start has the cookie.
  EXPECT_EQ(headersSent(server, "/cookie", "Cookie"), (Strings{"", "sorn_probe=kept", ""}));
}

TEST_F(EngineTest, JoinVoiceHoldsACallWithTheDemoServiceWhereTheEngineHasWebRtc) {
  const testsupport::DemoService demo(SORN_DEMO_SERVICE);
  ASSERT_GT(demo.port(), 0);
  EngineHarness harness("http://127.0.0.1:" + std::to_string(demo.port()) + "/sorn/dashboard", services());
  ASSERT_TRUE(waitForLoads(harness, 1));
  click(harness, "joinVoice");
  if (!EngineHarness::kHoldsVoiceCalls) {
    expectSoon(harness, "document.getElementById('voiceNote').textContent",
               R"("This engine build has no voice (no WebRTC).")");
    EXPECT_TRUE(demo.peers()["peers"].empty());
    return;
  }
  expectSoon(harness, "document.getElementById('voiceState').textContent", R"("connected")");
  // The peer echoes the fake microphone: audio comes back (the first figures may still be 0).
  expectSoon(harness, "/^[1-9]\\d* bytes$/.test(document.getElementById('voiceBytes').textContent)", "true");
  EXPECT_EQ(demo.peers()["peers"].size(), 1U);
}

// The app's own program for this engine, as a process.
TEST(AppProcessTest, TheAppEndsWithStatusZeroOnSigtermAndSigint) {
  // Its single-instance name on a bus of the test's own, where no other app has it. Only
  // here: under a bus without the desktop's services the engines start slowly.
  testsupport::PrivateBus bus;
  bus.SetUp();
  const testsupport::TempDataDir dir;
  g_setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", TRUE);  // tests may run as root
  // Its exit status is what counts here, under AddressSanitizer too: the engines' leaks and
  // Chromium's mismatched deletes are allowed as in the QtWebEngine engine tests.
  g_setenv("ASAN_OPTIONS", "new_delete_type_mismatch=0:detect_leaks=0", TRUE);
  for (const int stopSignal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(stopSignal);
    testsupport::Process app({SORN_APP});
    // Registered, then a moment for the engine to come up and start loading the dashboard.
    EXPECT_TRUE(spinUntil([] { return testsupport::busNameHasOwner("com.tarnwell.sorn"); }));
    spinUntil([] { return false; }, std::chrono::seconds(2));
    ASSERT_EQ(waitpid(app.pid(), nullptr, WNOHANG), 0) << "the app ended on its own";
    EXPECT_EQ(app.end(stopSignal), "exit 0");
  }
  bus.TearDown();
}

using platform::screencast::BroadcastChoice;
using Sheet = EngineHarness::Sheet;

constexpr const char* kId = "com.tarnwell.sorn.test-broadcast";
constexpr const char* kWarning = "Everything on your screen will be shared while the broadcast runs.";

// The launcher, its picker and the chooser sheet in the app's window on the engine's toolkit.
class LauncherTest : public EngineTest {
 protected:
  void SetUp() override {
    // Only the extensions a test writes are found, none installed on the system.
    setenv("XDG_DATA_DIRS", (dataDir_.root() / "system").c_str(), 1);
  }
  void speakGerman() {
    german_.emplace();
    ASSERT_TRUE(german_->usable()) << "de_DE.UTF-8 needs the locales package (scripts/deps)";
  }
  void install(const std::string& id, const std::string& exec) {
    auto keys = extension_.metadataKeys(id, "Test Broadcast");
    keys["Exec"] = exec;
    keys["Name[de]"] = "Testübertragung";
    testsupport::FakeExtension::writeMetadata(dataDir_.dataHome(), id, keys);
  }
  // Attaches a new picker with these settings to the key window and presses its button,
  // as the launcher does; the sheet it opened.
  Sheet press(const std::string& extensionId, bool showsMicrophone) {
    const auto platform = EngineHarness::launcherPlatform();
    const auto picker =
        platform->makePicker({.preferredExtension = extensionId, .showsMicrophoneButton = showsMicrophone});
    for (const auto& window : platform->windows())
      if (window->isApplicationActiveWindow()) window->addSubview(*picker);
    for (const auto& child : picker->subviews())
      if (child->isButton()) child->sendActions();
    const auto sheets = window_->sheets();
    return sheets.size() == 1 ? sheets.front() : nullptr;
  }
  // A key of the user's through the display server (no window manager runs, so the sheet
  // is given the focus directly), "close", or a click on the button of that name.
  void answer(Sheet sheet, const std::string& how) {
    if (how == "close") return EngineHarness::closeWindow(sheet);
    if (how != "Return" && how != "Escape") return EngineHarness::click(sheet, how);
    const std::string xdotool = "xdotool search --onlyvisible --name '^" +
                                std::string(BroadcastChoice::kTitle) + "$' windowfocus --sync key " + how;
    ASSERT_EQ(std::system(xdotool.c_str()), 0);
  }
  // No sheet is open, and the app's window is the only one left.
  bool sheetClosed() {
    return testsupport::spinUntil([&] {
      return window_->sheets().empty() && EngineHarness::launcherPlatform()->windows().size() == 1;
    });
  }

  testsupport::FakeExtension extension_{dataDir_.root() / "bin"};
  std::optional<testsupport::GermanLocale> german_;
  std::optional<EngineHarness> window_;
};

TEST_F(LauncherTest, ThePickerSitsHiddenInTheKeyWindowAndEachPressOfItsButtonShowsOneSheet) {
  install("com.tarnwell.sorn.broadcast", extension_.program().string());
  app::BroadcastPickerHost host(EngineHarness::launcherPlatform());
  host.startBroadcast();
  EXPECT_EQ(EngineHarness::launcherPlatform()->windows().size(), 0U) << "without a window nothing happens";

  window_.emplace("about:blank", services());
  for (int press = 0; press < 2; ++press) {
    host.startBroadcast();
    EXPECT_EQ(window_->pickers(), (std::vector<long>{1, 1, 0, 0, 1, 1, false}))
        << "one picker, 1 % opaque, 1 x 1 in the top-left corner, above the page as it was, out of reach";
    const auto sheets = window_->sheets();
    ASSERT_EQ(sheets.size(), 1U);
    EXPECT_EQ(window_->describe(sheets[0]),
              (Strings{"Test Broadcast", kWarning, "Cancel", ">*Start Broadcast"}));
    // A press while the sheet is open brings that sheet forward.
    host.startBroadcast();
    EXPECT_EQ(window_->sheets(), sheets);
    window_->closeWindow(sheets[0]);
    ASSERT_TRUE(sheetClosed());
  }
}

TEST_F(LauncherTest, TheSheetStartsTheExtensionOnStartOrEnterButNeverOtherwiseInTheUsersLanguage) {
  install(kId, extension_.program().string());
  window_.emplace("about:blank", services());
  const Strings plain{"Test Broadcast", kWarning, "Cancel", ">*Start Broadcast"};
  const Strings microphone{"Test Broadcast", kWarning, "Microphone", "[off]", "Cancel", ">*Start Broadcast"};
  const Strings german{
      "Testübertragung", "Solange die Übertragung läuft, wird alles auf Ihrem Bildschirm geteilt.",
      "Mikrofon",        "[off]",
      "Abbrechen",       ">*Übertragung starten"};
  // The sheet shown (with the microphone switch unless plain), whether the switch is turned on,
  // the answer (a key, "close", or the button clicked), the arguments of the start or none.
  const std::tuple<const Strings*, bool, std::string, Strings> cases[] = {
      {&plain, false, BroadcastChoice::kStartWidget, {"--capture=auto"}},
      {&microphone, true, BroadcastChoice::kStartWidget, {"--capture=auto", "--microphone"}},
      {&microphone, false, "Return", {"--capture=auto"}},
      {&plain, false, BroadcastChoice::kCancelWidget, {}},
      {&plain, false, "Escape", {}},
      {&plain, false, "close", {}},
      {&german, true, BroadcastChoice::kStartWidget, {"--capture=auto", "--microphone"}}};
  int index = 0;
  for (const auto& [shown, microphoneOn, how, arguments] : cases) {
    SCOPED_TRACE(index++);
    if (shown == &german) speakGerman();
    const auto children = testsupport::childProcesses();
    const auto launches = extension_.launches();
    const Sheet sheet = press(kId, shown != &plain);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(window_->describe(sheet), *shown);
    if (microphoneOn) window_->click(sheet, BroadcastChoice::kMicrophoneSwitchWidget);
    answer(sheet, how);
    EXPECT_TRUE(sheetClosed());
    if (arguments.empty()) {
      // The launch is synchronous: a start would have left a child behind by now.
      EXPECT_EQ(testsupport::childProcesses(), children);
      EXPECT_EQ(extension_.launches(), launches);
      continue;
    }
    ASSERT_TRUE(extension_.waitForLaunches(launches.size() + 1));
    auto started = extension_.launches();
    std::erase_if(started, [&](const auto& launch) { return launches.contains(launch.first); });
    ASSERT_EQ(started.size(), 1U);
    EXPECT_EQ(started.begin()->second, arguments);
    EXPECT_TRUE(testsupport::isRunning(started.begin()->first)) << "the extension outlives the sheet";
  }
}

TEST_F(LauncherTest, WithoutAUsableExtensionOnlyCancelIsOffered) {
  window_.emplace("about:blank", services());
  const auto children = testsupport::childProcesses();
  std::string preferred = kId;
  const std::function<void()> cases[] = {
      [] {},                                                             // no metadata file
      [this] { install(kId, (dataDir_.root() / "missing").string()); },  // its program is missing
      [this] { install(kId, extension_.program().string()); },  // ... removed while the sheet is open
      [&] { preferred.clear(); },                               // none preferred
      [this] { speakGerman(); }};                               // ... in German
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    cases[i]();
    const Sheet sheet = press(preferred, true);
    ASSERT_NE(sheet, nullptr);
    if (i == 2) {
      // Start then says so instead of closing as if the broadcast had started.
      std::filesystem::remove(extension_.program());
      window_->click(sheet, BroadcastChoice::kStartWidget);
      EXPECT_EQ(window_->sheets(), (std::vector<Sheet>{sheet}));
    }
    EXPECT_EQ(
        window_->describe(sheet),
        (german_ ? Strings{"Bildschirmübertragung", "Keine Übertragungserweiterung verfügbar.", ">*Abbrechen"}
                 : Strings{"Screen Broadcast", "No broadcast extension is available.", ">*Cancel"}));
    answer(sheet, german_ ? "close" : "Return");  // keys find the sheet by its untranslated title
    EXPECT_TRUE(sheetClosed());
  }
  EXPECT_EQ(testsupport::childProcesses(), children);
}

}  // namespace
