#include "demo/VoicePeer.h"

#include <gst/gst.h>

#include <array>
#include <future>
#include <utility>

#include "demo/VoiceCalls.h"
#include "platform/dispatch/Guarded.h"

namespace demo {

namespace {

using namespace std::chrono_literals;

// Longer than a call takes to be answered, with room for GStreamer to load first.
constexpr auto kReplyLimit = 30s;

// The elements a call is made of, webrtcbin's own included: without one of them no call
// can work, so the peer says so at once instead of failing each call.
constexpr std::array kElements = {"webrtcbin", "nicesrc",      "nicesink",   "dtlssrtpenc", "dtlssrtpdec",
                                  "rtpbin",    "rtpopusdepay", "rtpopuspay", "queue",       "fakesink"};

// Why no call can be made, when none can.
std::optional<std::string> loadGStreamer() {
  g_autoptr(GError) error = nullptr;
  if (gst_init_check(nullptr, nullptr, &error) == FALSE)
    return std::string("Voice is not available: GStreamer did not start (") + error->message + ").";
  // A call's streaming threads end with it instead of idling in GLib's thread pool.
  g_thread_pool_set_max_unused_threads(0);
  for (const char* name : kElements) {
    g_autoptr(GstElementFactory) factory = gst_element_factory_find(name);
    if (factory == nullptr)
      return std::string("Voice is not available: the GStreamer element \"") + name + "\" is missing.";
  }
  return std::nullopt;
}

}  // namespace

struct VoicePeer::MainLoop {
  MainLoop() : context(g_main_context_new()), loop(g_main_loop_new(context, FALSE)) {}
  ~MainLoop() {
    g_main_loop_unref(loop);
    g_main_context_unref(context);
  }
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  GMainContext* const context;
  GMainLoop* const loop;
};

VoicePeer::VoicePeer() : loop_(std::make_unique<MainLoop>()), thread_([this] { run(); }) {}

VoicePeer::~VoicePeer() {
  post([this] { stop(); });
  thread_.join();
}

void VoicePeer::run() {
  g_main_context_push_thread_default(loop_->context);
  calls_ = std::make_unique<VoiceCalls>([this](std::function<void()> task) { post(std::move(task)); },
                                        loadGStreamer());
  g_main_loop_run(loop_->loop);
  g_main_context_pop_thread_default(loop_->context);
}

void VoicePeer::stop() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(tasksMutex_);
    stopped_ = true;
    dropped.swap(tasks_);
  }
  dropped.clear();  // a caller still waiting on one of them is told the peer stopped
  // Events the calls' threads post while their pipelines stop are dropped from here on.
  calls_.reset();
  g_main_loop_quit(loop_->loop);
}

void VoicePeer::post(std::function<void()> task) {
  // The context is held from inside the lock: a task posted just before stop() still has
  // one to wake once the peer is gone (nobody iterates it then, and the task is dropped).
  g_autoptr(GMainContext) context = nullptr;
  {
    std::lock_guard lock(tasksMutex_);
    if (stopped_) return;
    tasks_.push_back(std::move(task));
    context = g_main_context_ref(loop_->context);
  }
  g_autoptr(GSource) source = g_idle_source_new();
  g_source_set_callback(
      source,
      [](gpointer self) -> gboolean {
        static_cast<VoicePeer*>(self)->runPostedTasks();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
  g_source_attach(source, context);
}

void VoicePeer::runPostedTasks() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(tasksMutex_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    // A task that fails leaves a caller waiting on it to be told it timed out.
    platform::dispatch::runGuarded(task);
  }
}

template <typename Reply>
std::variant<Reply, VoiceRefusal> VoicePeer::ask(
    std::function<void(VoiceCalls&, std::function<void(std::variant<Reply, VoiceRefusal>)>)> question) {
  auto promise = std::make_shared<std::promise<std::variant<Reply, VoiceRefusal>>>();
  auto future = promise->get_future();
  post([this, question = std::move(question), promise] {
    question(*calls_,
             [promise](std::variant<Reply, VoiceRefusal> reply) { promise->set_value(std::move(reply)); });
  });
  if (future.wait_for(kReplyLimit) != std::future_status::ready)
    return VoiceRefusal{VoiceRefusal::Kind::failed, "The voice peer did not reply in time."};
  try {
    return future.get();
  } catch (const std::future_error&) {
    return VoiceRefusal{VoiceRefusal::Kind::unavailable, "The voice peer has stopped."};
  }
}

std::variant<VoiceAnswer, VoiceRefusal> VoicePeer::answer(const std::string& offerSdp) {
  return ask<VoiceAnswer>(
      [offerSdp](VoiceCalls& calls, auto reply) { calls.offer(offerSdp, std::move(reply)); });
}

std::optional<VoiceRefusal> VoicePeer::hangUp(const std::string& id) {
  auto reply = ask<std::monostate>([id](VoiceCalls& calls, auto done) {
    if (auto refusal = calls.hangUp(id)) return done(*refusal);
    done(std::monostate{});
  });
  if (auto* refusal = std::get_if<VoiceRefusal>(&reply)) return std::move(*refusal);
  return std::nullopt;
}

std::variant<VoicePeerState, VoiceRefusal> VoicePeer::state() {
  return ask<VoicePeerState>([](VoiceCalls& calls, auto reply) { reply(calls.state()); });
}

}  // namespace demo
