#pragma once

namespace bench {

// The page the web-view benchmarks load, a dashboard card and two functions they call
// through the web view's evaluate: postStats(voiceSeconds) posts one "stats" message;
// floodInTasks(first, count, batch) posts `count` of them, with the voice seconds
// first + 1 ... first + count, `batch` in each task, the next task by setTimeout(0).
inline constexpr const char* kStatsPage = R"(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Dashboard</title>
<style>
  body { margin: 0; font-family: sans-serif; background: #101014; color: #ececf1; }
  .card { margin: 20px; padding: 16px; border-radius: 16px; background: #1c1c24; font-size: 28px; }
</style>
</head>
<body>
<div class="card">Voice time</div>
<script>
  function postStats(voiceSeconds) {
    window.webkit.messageHandlers.sorn.postMessage(
        { type: 'stats', voice_seconds: voiceSeconds, streak_days: 7, best_streak: 21, username: 'you' });
  }
  function floodInTasks(first, count, batch) {
    let sent = 0;
    const next = () => {
      const end = Math.min(count, sent + batch);
      while (sent < end) postStats(first + ++sent);
      if (sent < count) setTimeout(next, 0);
    };
    next();
  }
</script>
</body>
</html>
)";

}  // namespace bench
