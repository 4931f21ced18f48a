// The portal rig end to end: a client asks the real desktop portal for a screen cast by
// hand, the mock backend "picks" its test pattern, and frames arrive over PipeWire.

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "tests/platform/screencast/portal/PortalRig.h"
#include "tests/support/MainLoopSpin.h"

namespace {

using testsupport::PortalRig;

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr guint32 kSourceMonitor = 1;
constexpr guint32 kPersistUntilRevoked = 2;

struct PortalResponse {
  guint32 code = 2;
  GVariant* results = nullptr;  // owned; a{sv}
  PortalResponse() = default;
  PortalResponse(const PortalResponse&) = delete;
  PortalResponse& operator=(const PortalResponse&) = delete;
  ~PortalResponse() { g_clear_pointer(&results, g_variant_unref); }

  std::string text(const char* key) const {
    const gchar* value = nullptr;
    return results != nullptr && g_variant_lookup(results, key, "&s", &value) ? value : "";
  }
};

// Waits on the main context for one signal of `interfaceName` from `path`.
class SignalWait {
 public:
  SignalWait(GDBusConnection* bus, const std::string& interfaceName, const std::string& member,
             const std::string& path)
      : bus_(bus) {
    subscription_ = g_dbus_connection_signal_subscribe(bus, nullptr, interfaceName.c_str(), member.c_str(),
                                                       path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                       &SignalWait::onSignal, this, nullptr);
  }
  ~SignalWait() { g_dbus_connection_signal_unsubscribe(bus_, subscription_); }
  SignalWait(const SignalWait&) = delete;
  SignalWait& operator=(const SignalWait&) = delete;

  // The signal's parameters (owned by the caller), or null when it did not come in time.
  GVariant* wait(std::chrono::seconds limit = std::chrono::seconds(30)) {
    testsupport::spinUntil([this] { return parameters_ != nullptr; }, limit);
    return std::exchange(parameters_, nullptr);
  }

 private:
  static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant* parameters, gpointer self) {
    auto* wait = static_cast<SignalWait*>(self);
    if (wait->parameters_ == nullptr) wait->parameters_ = g_variant_ref(parameters);
  }

  GDBusConnection* bus_;
  guint subscription_ = 0;
  GVariant* parameters_ = nullptr;
};

class PortalScreenCastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto missing = PortalRig::missingPrograms();
    if (!missing.empty()) GTEST_SKIP() << "not installed: " << missing.front();
    gst_init(nullptr, nullptr);
    rig_.emplace();
  }

  // Calls a ScreenCast method whose answer comes as a Request's Response signal: with
  // `options` alone when `session` is empty, else the session (and for Start an empty parent
  // window) before them. The options gain a handle token.
  void request(const char* method, const std::string& session, GVariantBuilder* options,
               PortalResponse& response, bool withParentWindow = false) {
    const std::string token = "sorn" + std::to_string(++requests_);
    g_variant_builder_add(options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    std::string sender = g_dbus_connection_get_unique_name(rig_->bus()) + 1;
    for (auto& c : sender) c = c == '.' ? '_' : c;
    SignalWait answer(rig_->bus(), "org.freedesktop.portal.Request", "Response",
                      std::string(kPortalPath) + "/request/" + sender + "/" + token);
    GVariant* arguments = session.empty()    ? g_variant_new("(a{sv})", options)
                          : withParentWindow ? g_variant_new("(osa{sv})", session.c_str(), "", options)
                                             : g_variant_new("(oa{sv})", session.c_str(), options);
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) handle =
        g_dbus_connection_call_sync(rig_->bus(), kPortalName, kPortalPath, kScreenCast, method, arguments,
                                    G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    ASSERT_NE(handle, nullptr) << method << ": " << error->message;
    g_autoptr(GVariant) parameters = answer.wait();
    ASSERT_NE(parameters, nullptr) << method << " got no response";
    g_variant_get(parameters, "(u@a{sv})", &response.code, &response.results);
  }

  std::string createSession() {
    GVariantBuilder options = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(("session" + std::to_string(requests_)).c_str()));
    PortalResponse response;
    request("CreateSession", "", &options, response);
    EXPECT_EQ(response.code, 0u);
    return response.text("session_handle");
  }

  void selectSources(const std::string& session, const std::string& restoreToken, PortalResponse& response) {
    GVariantBuilder options = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kSourceMonitor));
    g_variant_builder_add(&options, "{sv}", "persist_mode", g_variant_new_uint32(kPersistUntilRevoked));
    if (!restoreToken.empty()) {
      g_variant_builder_add(&options, "{sv}", "restore_token", g_variant_new_string(restoreToken.c_str()));
    }
    request("SelectSources", session, &options, response);
  }

  // CreateSession, SelectSources and Start; Start's answer.
  std::string startCast(PortalResponse& started, const std::string& restoreToken = "") {
    const std::string session = createSession();
    EXPECT_FALSE(session.empty());
    PortalResponse selected;
    selectSources(session, restoreToken, selected);
    EXPECT_EQ(selected.code, 0u);
    GVariantBuilder options = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE_VARDICT);
    request("Start", session, &options, started, true);
    return session;
  }

  // The fd OpenPipeWireRemote hands out for the session; -1 on failure.
  int openPipeWireRemote(const std::string& session) {
    g_autoptr(GUnixFDList) fds = nullptr;
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_with_unix_fd_list_sync(
        rig_->bus(), kPortalName, kPortalPath, kScreenCast, "OpenPipeWireRemote",
        g_variant_new("(oa{sv})", session.c_str(), nullptr), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr, &fds, nullptr, &error);
    if (reply == nullptr) {
      ADD_FAILURE() << "OpenPipeWireRemote: " << error->message;
      return -1;
    }
    gint32 index = 0;
    g_variant_get(reply, "(h)", &index);
    return g_unix_fd_list_get(fds, index, nullptr);
  }

  std::optional<PortalRig> rig_;
  unsigned requests_ = 0;
};

guint32 onlyStreamNode(const PortalResponse& started) {
  g_autoptr(GVariant) streams =
      g_variant_lookup_value(started.results, "streams", G_VARIANT_TYPE("a(ua{sv})"));
  if (streams == nullptr || g_variant_n_children(streams) != 1) return 0;
  guint32 node = 0;
  g_variant_get_child(streams, 0, "(u@a{sv})", &node, nullptr);
  return node;
}

TEST_F(PortalScreenCastTest, PickedScreenStreamsFramesOverPipeWire) {
  PortalResponse started;
  const std::string session = startCast(started);
  ASSERT_EQ(started.code, 0u);
  const guint32 node = onlyStreamNode(started);
  ASSERT_NE(node, 0u);
  EXPECT_FALSE(started.text("restore_token").empty());
  EXPECT_EQ(rig_->stats().prompts, 1u);

  const int fd = openPipeWireRemote(session);
  ASSERT_GE(fd, 0);
  g_autoptr(GError) error = nullptr;
  g_autoptr(GstElement) pipeline = gst_parse_launch(
      "pipewiresrc name=source ! videoconvert ! video/x-raw,format=BGRx ! "
      "appsink name=sink sync=false max-buffers=4 drop=true",
      &error);
  ASSERT_NE(pipeline, nullptr) << error->message;
  g_autoptr(GstElement) source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
  g_object_set(source, "fd", fd, "path", std::to_string(node).c_str(), nullptr);
  g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

  int frames = 0;
  int width = 0;
  int height = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (frames <= 10 && std::chrono::steady_clock::now() < deadline) {
    g_autoptr(GstSample) sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), GST_SECOND / 2);
    if (sample == nullptr) continue;
    ++frames;
    const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    gst_structure_get_int(caps, "width", &width);
    gst_structure_get_int(caps, "height", &height);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  EXPECT_GT(frames, 10);
  EXPECT_EQ(width, 1280);
  EXPECT_EQ(height, 720);
}

TEST_F(PortalScreenCastTest, DismissedDialogAnswersCancelled) {
  PortalRig::Behaviour dismissing;
  dismissing.cancelStart = true;
  rig_->setBehaviour(dismissing);
  PortalResponse started;
  startCast(started);
  EXPECT_EQ(started.code, 1u);
  EXPECT_EQ(onlyStreamNode(started), 0u);
  EXPECT_EQ(rig_->stats().prompts, 1u);
}

TEST_F(PortalScreenCastTest, RestoreTokenSkipsThePromptUntilItsGrantIsRejected) {
  PortalResponse first;
  startCast(first);
  ASSERT_EQ(first.code, 0u);
  const std::string token = first.text("restore_token");
  ASSERT_FALSE(token.empty());

  PortalResponse restored;
  startCast(restored, token);
  ASSERT_EQ(restored.code, 0u);
  EXPECT_NE(onlyStreamNode(restored), 0u);
  const auto afterRestore = rig_->stats();
  EXPECT_EQ(afterRestore.prompts, 1u);

  PortalRig::Behaviour rejecting;
  rejecting.rejectedGrant = afterRestore.lastGrant;
  rig_->setBehaviour(rejecting);
  PortalResponse rejected;
  startCast(rejected, restored.text("restore_token"));
  EXPECT_EQ(rejected.code, 0u);
  EXPECT_EQ(rig_->stats().prompts, 2u);
}

TEST_F(PortalScreenCastTest, BackendEndsTheSessionWhenAsked) {
  PortalRig::Behaviour closing;
  closing.closeAfterSeconds = 1;
  rig_->setBehaviour(closing);
  PortalResponse started;
  const std::string session = startCast(started);
  ASSERT_EQ(started.code, 0u);
  SignalWait closed(rig_->bus(), "org.freedesktop.portal.Session", "Closed", session);
  g_autoptr(GVariant) parameters = closed.wait();
  EXPECT_NE(parameters, nullptr);
}

}  // namespace
