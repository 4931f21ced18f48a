// ScreenFramePipe::submit against bare baselines measured in the same run:
// - drop path (a frame in flight) against a bare flag test plus counter increment;
// - accept path against a bare claim plus a post to a bare serial queue (mutex,
//   condition variable, one thread). Each accepted frame must find the claim free, so
//   the queue is drained before each one and only the submit itself is timed, with the
//   clock read around it in both (BM_ClockReadings shows that share).
// Run the release preset: cmake --preset release && cmake --build --preset release
//   build/release/bin/bench_broadcast_frame_pipe --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <latch>
#include <mutex>
#include <thread>

#include "broadcast/ScreenFramePipe.h"

namespace {

using platform::screencast::SampleBuffer;
using platform::screencast::SampleBufferKind;

// A sample counted like a GstSample is: an atomic reference count.
struct Sample {
  std::atomic<int> references{1};
};
const SampleBufferKind kSampleKind{
    [](void* sample) { static_cast<Sample*>(sample)->references.fetch_add(1, std::memory_order_relaxed); },
    [](void* sample) { static_cast<Sample*>(sample)->references.fetch_sub(1, std::memory_order_acq_rel); },
    [](void* sample) -> void* { return sample; },
    [](void* /*imageBuffer*/) {},
};

const broadcast::ScreenShareSignaling kSignaling{"https://api.example.test/v1/api", "token", "lounge"};

// The plainest serial queue: push under the mutex, notify, one thread pops and runs.
class BareSerialQueue {
 public:
  BareSerialQueue() : thread_([this] { run(); }) {}
  ~BareSerialQueue() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  BareSerialQueue(const BareSerialQueue&) = delete;
  BareSerialQueue& operator=(const BareSerialQueue&) = delete;

  void post(std::function<void()> work) {
    {
      std::lock_guard lock(mutex_);
      items_.push_back(std::move(work));
    }
    wake_.notify_one();
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !items_.empty() || closing_; });
      if (items_.empty()) return;
      auto work = std::move(items_.front());
      items_.pop_front();
      lock.unlock();
      work();
      work = nullptr;
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> items_;
  bool closing_ = false;
  std::thread thread_;
};

void BM_SubmitDropPath(benchmark::State& state) {
  broadcast::ScreenFramePipe pipe;
  pipe.start(kSignaling, "scr-1", "screen-ios-1");
  (void)pipe.counters();
  Sample sample;
  const SampleBuffer buffer = SampleBuffer::retain(&sample, kSampleKind);
  // The frame taken first stays in flight: its work waits behind this item.
  std::latch hold(1);
  pipe.queue().async([&hold] { hold.wait(); });
  pipe.submit(buffer);
  for (auto _ : state) pipe.submit(buffer);
  hold.count_down();
  state.counters["dropped"] = static_cast<double>(pipe.counters().framesDropped);
}
BENCHMARK(BM_SubmitDropPath);

void BM_BareFlagTestAndCounter(benchmark::State& state) {
  std::atomic<bool> running{true};
  std::atomic<std::int64_t> dropped{0};
  for (auto _ : state) {
    if (running.load(std::memory_order_relaxed)) dropped.fetch_add(1, std::memory_order_relaxed);
    benchmark::ClobberMemory();
  }
  state.counters["dropped"] = static_cast<double>(dropped.load());
}
BENCHMARK(BM_BareFlagTestAndCounter);

// Before each timed submit the queue has run everything posted so far, so the claim is
// free. With `busy` the queue's thread then spins inside a gate item while the submit
// is timed, so the post needs no wake-up (the figure of a queue with work); without it
// the thread sleeps and the post wakes it (the figure at 30 frames a second, where the
// queue is idle between frames).
// A fixed count: each timed submit costs a round trip to the queue's thread around it,
// which the manual time leaves out but the wall clock does not.
constexpr benchmark::IterationCount kTimedSubmits = 20'000;

template <typename Post, typename Submit>
void timeEachSubmit(benchmark::State& state, Post post, Submit submit) {
  const bool busy = state.range(0) != 0;
  // Gates are numbered; each spins until its number is released, so a gate still
  // leaving never meets the next one's state.
  std::atomic<std::int64_t> entered{0};
  std::atomic<std::int64_t> released{0};
  std::int64_t gate = 0;
  for (auto _ : state) {
    ++gate;
    std::latch drained(1);
    post([&, gate] {
      drained.count_down();
      if (!busy) return;
      entered.store(gate, std::memory_order_release);
      while (released.load(std::memory_order_acquire) < gate) std::this_thread::yield();
    });
    drained.wait();
    while (busy && entered.load(std::memory_order_acquire) < gate) std::this_thread::yield();
    const auto begin = std::chrono::steady_clock::now();
    submit();
    const auto end = std::chrono::steady_clock::now();
    released.store(gate, std::memory_order_release);
    state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
  }
  post([] {});
}

void BM_SubmitAcceptPath(benchmark::State& state) {
  broadcast::ScreenFramePipe pipe;
  pipe.start(kSignaling, "scr-1", "screen-ios-1");
  Sample sample;
  const SampleBuffer buffer = SampleBuffer::retain(&sample, kSampleKind);
  timeEachSubmit(
      state, [&](std::function<void()> work) { pipe.queue().async(std::move(work)); },
      [&] { pipe.submit(buffer); });
  auto counters = pipe.counters();
  state.counters["dropped"] = static_cast<double>(counters.framesDropped);
  state.counters["received"] = static_cast<double>(counters.framesReceived);
}
BENCHMARK(BM_SubmitAcceptPath)->UseManualTime()->ArgName("busy")->Arg(0)->Arg(1)->Iterations(kTimedSubmits);

void BM_BareClaimAndPost(benchmark::State& state) {
  std::atomic<bool> claimed{false};
  std::int64_t refused = 0;
  Sample sample;
  const SampleBuffer buffer = SampleBuffer::retain(&sample, kSampleKind);
  {
    BareSerialQueue queue;
    timeEachSubmit(
        state, [&](std::function<void()> work) { queue.post(std::move(work)); },
        [&] {
          if (claimed.exchange(true, std::memory_order_acquire)) {
            ++refused;
            return;
          }
          queue.post([&claimed, held = buffer]() mutable {
            (void)held.imageBuffer();
            held = SampleBuffer();
            claimed.store(false, std::memory_order_release);
          });
        });
  }
  state.counters["dropped"] = static_cast<double>(refused);
}
BENCHMARK(BM_BareClaimAndPost)->UseManualTime()->ArgName("busy")->Arg(0)->Arg(1)->Iterations(kTimedSubmits);

// What the two clock readings around each timed submit cost on their own.
void BM_ClockReadings(benchmark::State& state) {
  for (auto _ : state) {
    const auto begin = std::chrono::steady_clock::now();
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
  }
}
BENCHMARK(BM_ClockReadings)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
