#pragma once

namespace app {

// The top frame's page world, the same on every engine: the marker, and the page API
// window.webkit.messageHandlers.sorn.postMessage(body). A body goes to the bridge world as
// its JSON text in a 'sorn-bridge-message' DOM event (the one thing both worlds share),
// which each engine's bridge world listens for. Consecutive "stats" of one
// task go as one, the last, when the task ends or before the next other message: a page
// posting in a loop would otherwise keep the engine's message queue full and starve drawing.
// Everything the script uses is taken before the page's own scripts run.
constexpr const char* kPageScript = R"js(
window.__sornNative__ = { platform: 'ios', version: 1 };
(() => {
  const dispatch = EventTarget.prototype.dispatchEvent;
  const Event = CustomEvent;
  const stringify = JSON.stringify;
  const later = queueMicrotask;
  const doc = document;
  const send = (text) => { dispatch.call(doc, new Event('sorn-bridge-message', { detail: text })); };
  let heldStats = null;
  const flush = () => {
    if (heldStats === null) return;
    const text = heldStats;
    heldStats = null;
    send(text);
  };
  const postMessage = (body) => {
    let text;
    try { text = stringify(body); } catch (e) { return; }
    if (typeof text !== 'string') return;
    if (body !== null && typeof body === 'object' && body.type === 'stats') {
      if (heldStats === null) later(flush);
      heldStats = text;
      return;
    }
    flush();
    send(text);
  };
  const sorn = Object.freeze({ postMessage });
  Object.defineProperty(window, 'webkit', {
    value: Object.freeze({ messageHandlers: Object.freeze({ sorn }) }),
    enumerable: true,
  });
})();
)js";

}  // namespace app
