#include "demo/VoiceCalls.h"

#include <utility>

#include "platform/dispatch/Guarded.h"

namespace demo {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kAnswerLimit = 10s;      // from the offer to an answer with every candidate
constexpr auto kSilenceLimit = 10s;     // without RTP from the caller, once answered
constexpr auto kDurationLimit = 30min;  // of any call
constexpr std::size_t kEndedKept = 16;

}  // namespace

void VoiceCalls::SourceDestroyer::operator()(GSource* source) const {
  g_source_destroy(source);
  g_source_unref(source);
}

VoiceCalls::VoiceCalls(std::function<void(std::function<void()>)> post,
                       std::optional<std::string> unavailable)
    : post_(std::move(post)), unavailable_(std::move(unavailable)) {}

VoiceCalls::~VoiceCalls() {
  ticker_.reset();
  for (auto& [id, entry] : calls_)
    if (entry.reply)
      entry.reply(VoiceRefusal{VoiceRefusal::Kind::unavailable, "The voice peer has stopped."});
  calls_.clear();  // each call stops its pipeline
}

void VoiceCalls::offer(const std::string& sdp, Reply<VoiceAnswer> reply) {
  if (unavailable_) return reply(VoiceRefusal{VoiceRefusal::Kind::unavailable, *unavailable_});
  if (calls_.size() >= VoicePeer::kMaxCalls) {
    return reply(VoiceRefusal{VoiceRefusal::Kind::busy, "The voice peer takes at most " +
                                                            std::to_string(VoicePeer::kMaxCalls) +
                                                            " calls at once; hang up one first."});
  }
  auto parsed = VoiceOffer::parse(sdp);
  if (const auto* problem = std::get_if<std::string>(&parsed))
    return reply(VoiceRefusal{VoiceRefusal::Kind::badOffer, *problem});

  std::string id = "voice-" + std::to_string(nextNumber_++);
  auto postStep = [this](const std::string& callId, VoiceCall::Step step) {
    post_([this, callId, step = std::move(step)] {
      if (auto entry = calls_.find(callId); entry != calls_.end()) apply(callId, step(*entry->second.call));
    });
  };
  auto started = VoiceCall::start(id, std::get<VoiceOffer>(parsed), postStep);
  if (const auto* failure = std::get_if<std::string>(&started))
    return reply(VoiceRefusal{VoiceRefusal::Kind::failed, *failure});
  calls_.emplace(id, Entry{std::move(std::get<std::unique_ptr<VoiceCall>>(started)), std::move(reply),
                           Clock::now(), std::nullopt});
  updateTicker();
}

std::optional<VoiceRefusal> VoiceCalls::hangUp(const std::string& id) {
  if (unavailable_) return VoiceRefusal{VoiceRefusal::Kind::unavailable, *unavailable_};
  if (!calls_.contains(id))
    return VoiceRefusal{VoiceRefusal::Kind::unknownCall, "No voice call \"" + id + "\"."};
  end(id, "The caller hung up.");
  return std::nullopt;
}

std::variant<VoicePeerState, VoiceRefusal> VoiceCalls::state() const {
  if (unavailable_) return VoiceRefusal{VoiceRefusal::Kind::unavailable, *unavailable_};
  VoicePeerState state;
  const auto now = Clock::now();
  for (const auto& [id, entry] : calls_) {
    state.calls.push_back({id, entry.answeredAt ? entry.call->connectionState() : "answering",
                           entry.call->packetsReceived(), entry.call->bytesReceived(),
                           std::chrono::duration<double>(now - entry.startedAt).count()});
  }
  state.ended.assign(ended_.begin(), ended_.end());
  return state;
}

void VoiceCalls::apply(const std::string& id, VoiceCall::Outcome outcome) {
  if (auto* answered = std::get_if<VoiceCall::Answered>(&outcome)) {
    Entry& entry = calls_.at(id);
    entry.answeredAt = Clock::now();
    std::exchange(entry.reply, nullptr)(VoiceAnswer{id, std::move(answered->sdp)});
  } else if (const auto* ended = std::get_if<VoiceCall::Ended>(&outcome)) {
    end(id, ended->reason, ended->offerRefused ? VoiceRefusal::Kind::badOffer : VoiceRefusal::Kind::failed);
  }
}

void VoiceCalls::end(const std::string& id, const std::string& reason, VoiceRefusal::Kind refusal) {
  auto node = calls_.extract(id);
  if (node.empty()) return;
  if (node.mapped().reply) node.mapped().reply(VoiceRefusal{refusal, reason});
  ended_.push_front({id, reason});
  if (ended_.size() > kEndedKept) ended_.pop_back();
  node.mapped().call.reset();  // stops its pipeline before the next call may start
  updateTicker();
}

void VoiceCalls::checkLimits() {
  const auto now = Clock::now();
  std::vector<std::pair<std::string, std::string>> due;
  for (const auto& [id, entry] : calls_) {
    if (!entry.answeredAt) {
      if (now - entry.startedAt > kAnswerLimit)
        due.emplace_back(id, "No answer with candidates came in time.");
      continue;
    }
    const auto heardAt = std::max(*entry.answeredAt, entry.call->lastMediaAt().value_or(*entry.answeredAt));
    if (now - heardAt > kSilenceLimit) {
      due.emplace_back(id, "No audio came from the caller for 10 seconds.");
    } else if (now - entry.startedAt > kDurationLimit) {
      due.emplace_back(id, "The call reached its 30-minute limit.");
    }
  }
  for (const auto& [id, reason] : due) end(id, reason);
}

void VoiceCalls::updateTicker() {
  if (calls_.empty()) {
    ticker_.reset();
  } else if (!ticker_) {
    ticker_.reset(g_timeout_source_new_seconds(1));
    g_source_set_callback(
        ticker_.get(),
        [](gpointer self) -> gboolean {
          // A check that fails is made again by the next tick.
          platform::dispatch::runGuarded([self] { static_cast<VoiceCalls*>(self)->checkLimits(); });
          return G_SOURCE_CONTINUE;
        },
        this, nullptr);
    g_source_attach(ticker_.get(), g_main_context_get_thread_default());
  }
}

}  // namespace demo
