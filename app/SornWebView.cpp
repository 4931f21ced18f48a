#include "app/SornWebView.h"

#include <webkit/webkit.h>

#include <filesystem>
#include <string_view>

#include "app/PageScript.h"
#include "app/RequestLoader.h"
#include "app/UsableFolder.h"
#include "app/WebUrlParser.h"
#include "platform/dispatch/Guarded.h"
#include "platform/gobject/ObjectRef.h"

namespace app {
namespace {

using platform::gobject::ObjectRef;

constexpr const char* kMessageHandlerName = "sorn";
// The message handler lives in a script world of the app's own, which only the top frame's
// bridge script joins: frames cannot reach it, whatever their origin or sandbox.
constexpr const char* kBridgeWorld = "sorn-bridge";

// The bridge world of the top frame: hands the page's message texts to the app.
constexpr const char* kBridgeScript = R"js(
document.addEventListener('sorn-bridge-message', (event) => {
  if (typeof event.detail === 'string') window.webkit.messageHandlers.sorn.postMessage(event.detail);
}, true);
)js";
constexpr const char* kApplicationName = "SorniOS";
constexpr const char* kApplicationVersion = "1.0";

// The persistent store of cookies, local storage and caches under the user's data and
// cache folders; a session kept in memory only when those cannot be used. One network
// session per folder in the process: a second web view on the same folders shares it
// instead of opening the same databases twice.
ObjectRef<WebKitNetworkSession> persistentNetworkSession() {
  const std::filesystem::path dataDir = std::filesystem::path(g_get_user_data_dir()) / "sorn";
  const std::filesystem::path cacheDir = std::filesystem::path(g_get_user_cache_dir()) / "sorn";
  static WebKitNetworkSession* live = nullptr;  // weak: cleared when the session goes
  static std::filesystem::path liveDataDir;
  if (live != nullptr && liveDataDir == dataDir) return ObjectRef<WebKitNetworkSession>::retain(live);

  if (!isUsableFolder(dataDir) || !isUsableFolder(cacheDir)) {
    g_debug("%s or %s cannot be used: cookies and caches are kept in memory only", dataDir.c_str(),
            cacheDir.c_str());
    return ObjectRef<WebKitNetworkSession>::adopt(webkit_network_session_new_ephemeral());
  }
  auto session =
      ObjectRef<WebKitNetworkSession>::adopt(webkit_network_session_new(dataDir.c_str(), cacheDir.c_str()));
  // Without persistent storage the cookie manager keeps cookies in memory only.
  webkit_cookie_manager_set_persistent_storage(webkit_network_session_get_cookie_manager(session.get()),
                                               (dataDir / "cookies.sqlite").c_str(),
                                               WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
  if (live != nullptr) g_object_remove_weak_pointer(G_OBJECT(live), reinterpret_cast<gpointer*>(&live));
  live = session.get();
  liveDataDir = dataDir;
  g_object_add_weak_pointer(G_OBJECT(live), reinterpret_cast<gpointer*>(&live));
  return session;
}

ObjectRef<WebKitSettings> webViewSettings() {
  auto settings = ObjectRef<WebKitSettings>::adopt(webkit_settings_new());
  WebKitSettings* s = settings.get();
  webkit_settings_set_media_playback_allows_inline(s, TRUE);
  webkit_settings_set_media_playback_requires_user_gesture(s, FALSE);
  webkit_settings_set_user_agent_with_application_details(s, kApplicationName, kApplicationVersion);
  webkit_settings_set_enable_back_forward_navigation_gestures(s, FALSE);
  // A voice-chat page needs the microphone and real-time media; the engine leaves
  // WebRTC off by default.
  webkit_settings_set_enable_media_stream(s, TRUE);
  webkit_settings_set_enable_webrtc(s, TRUE);
  return settings;
}

// Each signal handler keeps its own reference to the Coordinator, dropped with the
// handler, so the Coordinator lives exactly as long as the web view's wiring.
template <typename Callback>
void connectToCoordinator(gpointer instance, const char* signal, Callback callback,
                          const std::shared_ptr<Coordinator>& coordinator) {
  g_signal_connect_data(
      instance, signal, G_CALLBACK(callback), new std::shared_ptr<Coordinator>(coordinator),
      [](gpointer data, GClosure* /*closure*/) { delete static_cast<std::shared_ptr<Coordinator>*>(data); },
      GConnectFlags{});
}

Coordinator& coordinatorOf(gpointer data) { return **static_cast<std::shared_ptr<Coordinator>*>(data); }

void onScriptMessage(WebKitUserContentManager* /*manager*/, JSCValue* value, gpointer data) {
  // The bridge world posts the page's value as its JSON text; nothing else reaches it.
  if (jsc_value_is_string(value) == FALSE) return;
  g_autofree char* json = jsc_value_to_string(value);
  // A message whose handling fails is dropped.
  platform::dispatch::runGuarded([&] { coordinatorOf(data).userContentController(json); });
}

gboolean onDecidePolicy(WebKitWebView* /*webView*/, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer data) {
  // Responses keep the engine's own handling (show, download).
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
  // A new-window action passes the navigation policy first, like any navigation; when
  // allowed, the engine goes on to ask "create".
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  bool answered = false;
  platform::dispatch::runGuarded(
      [&] {
        const auto url =
            parseWebUrl(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
        const bool gesture = webkit_navigation_action_is_user_gesture(action) != FALSE;
        coordinatorOf(data).decidePolicyFor(url, gesture, [&](NavigationActionPolicy policy) {
          answered = true;
          if (policy == NavigationActionPolicy::allow) {
            webkit_policy_decision_use(decision);
          } else {
            webkit_policy_decision_ignore(decision);
          }
        });
      },
      [&] {
        if (!answered) webkit_policy_decision_ignore(decision);
      });
  return TRUE;
}

GtkWidget* onCreate(WebKitWebView* webView, WebKitNavigationAction* action, gpointer data) {
  // The engine asks "create" only for actions without a target frame, so every call here
  // is a real new-window request. No second web view is ever made, whatever fails.
  platform::dispatch::runGuarded([&] {
    const auto url = parseWebUrl(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
    const bool gesture = webkit_navigation_action_is_user_gesture(action) != FALSE;
    coordinatorOf(data).createWebViewWith(url, gesture, [webView](const std::string& serviceUrl) {
      // A fresh request: the method, body and headers of the action's own are not kept.
      RequestLoader::load(webView, serviceUrl);
    });
  });
  return nullptr;
}

gboolean onPermissionRequest(WebKitWebView* webView, WebKitPermissionRequest* request, gpointer data) {
  // Every other kind of request keeps the engine's default.
  if (WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request) == FALSE) return FALSE;
  bool answered = false;
  platform::dispatch::runGuarded(
      [&] {
        // WebKitGTK does not say which origin asks for user media, so the request counts as
        // the shown page's. Frames of foreign hosts cannot be that page: the navigation
        // policy never lets one load, and they would need the page's permission policy too.
        const auto page = parseWebUrl(webkit_web_view_get_uri(webView));
        coordinatorOf(data).requestMediaCapturePermissionFor(page, [&](PermissionDecision decision) {
          answered = true;
          if (decision == PermissionDecision::grant) {
            webkit_permission_request_allow(request);
          } else {
            webkit_permission_request_deny(request);
          }
        });
      },
      [&] {
        if (!answered) webkit_permission_request_deny(request);
      });
  return TRUE;
}

// The backdrop's black, opaque. A transparent view looks the same over the backdrop, but
// without GL WebKitGTK then paints only where the page draws, so an error page's white
// stayed on screen under the next page; an opaque background is filled on every paint.
constexpr GdkRGBA kBackdropBlack{0.0F, 0.0F, 0.0F, 1.0F};
// The engine's own error page sets no background and writes black text, which the black
// backdrop would swallow: while it shows, the view has the engine's usual white.
constexpr GdkRGBA kErrorPageBackground{1.0F, 1.0F, 1.0F, 1.0F};
constexpr const char* kErrorPageNext = "sorn-error-page-next";

// The failures after which the engine loads its error page (it shows none for a stopped
// load or one the navigation policy turned into something else).
gboolean onLoadFailed(WebKitWebView* webView, WebKitLoadEvent /*event*/, const char* /*uri*/, GError* error,
                      gpointer /*data*/) {
  const bool shown = g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) == FALSE &&
                     g_error_matches(error, WEBKIT_POLICY_ERROR,
                                     WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) == FALSE;
  g_object_set_data(G_OBJECT(webView), kErrorPageNext, GINT_TO_POINTER(shown ? 1 : 0));
  return FALSE;  // the engine shows its error page as ever
}

// The load that starts next after a failure is the engine's error page; every other one is
// a page of the web, drawn on the backdrop's black.
void onLoadChanged(WebKitWebView* webView, WebKitLoadEvent event, gpointer /*data*/) {
  if (event != WEBKIT_LOAD_STARTED) return;
  const bool errorPage = g_object_get_data(G_OBJECT(webView), kErrorPageNext) != nullptr;
  g_object_set_data(G_OBJECT(webView), kErrorPageNext, nullptr);
  webkit_web_view_set_background_color(webView, errorPage ? &kErrorPageBackground : &kBackdropBlack);
}

}  // namespace

GtkWidget* SornWebView::makeUIView(const std::shared_ptr<Coordinator>& coordinator) const {
  auto contentManager = ObjectRef<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
  // The page posts through window.webkit.messageHandlers.sorn.postMessage(...).
  webkit_user_content_manager_register_script_message_handler(contentManager.get(), kMessageHandlerName,
                                                              kBridgeWorld);
  const std::string messageSignal = std::string("script-message-received::") + kMessageHandlerName;
  connectToCoordinator(contentManager.get(), messageSignal.c_str(), onScriptMessage, coordinator);
  for (WebKitUserScript* script :
       {webkit_user_script_new(kPageScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr),
        webkit_user_script_new_for_world(kBridgeScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                         WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kBridgeWorld, nullptr,
                                         nullptr)}) {
    webkit_user_content_manager_add_script(contentManager.get(), script);
    webkit_user_script_unref(script);
  }

  auto session = persistentNetworkSession();
  auto settings = webViewSettings();
  // Playing without a user action needs the website policy as well as the setting.
  auto policies = ObjectRef<WebKitWebsitePolicies>::adopt(
      webkit_website_policies_new_with_policies("autoplay", WEBKIT_AUTOPLAY_ALLOW, nullptr));
  GtkWidget* widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session.get(),
                                              "user-content-manager", contentManager.get(), "settings",
                                              settings.get(), "website-policies", policies.get(), nullptr));
  auto* webView = WEBKIT_WEB_VIEW(widget);

  connectToCoordinator(webView, "decide-policy", onDecidePolicy, coordinator);
  connectToCoordinator(webView, "create", onCreate, coordinator);
  connectToCoordinator(webView, "permission-request", onPermissionRequest, coordinator);

  // The backdrop's black until the page paints, as the Qt adapter does. WebKitGTK
  // draws no overscroll bounce and has no swipe navigation unless asked, so those rows
  // need nothing more.
  webkit_web_view_set_background_color(webView, &kBackdropBlack);
  g_signal_connect(webView, "load-failed", G_CALLBACK(onLoadFailed), nullptr);
  g_signal_connect(webView, "load-changed", G_CALLBACK(onLoadChanged), nullptr);
  gtk_widget_set_hexpand(widget, TRUE);
  gtk_widget_set_vexpand(widget, TRUE);

  RequestLoader::load(webView, url_);
  return widget;
}

}  // namespace app
