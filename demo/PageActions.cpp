#include "demo/PageActions.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

namespace demo {
namespace {

constexpr const char* kPollScript = R"js(
// Posts to the app the messages the demo service queued for this page. An action
// {"click": ID, "show": ID} clicks a control of the page instead and scrolls a part of it
// into view.
(function () {
  const handler = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.sorn;
  if (!handler) return;
  function perform(action) {
    if (typeof action.click !== 'string') return handler.postMessage(action);
    const control = document.getElementById(action.click);
    if (control) control.click();
    const shown = typeof action.show === 'string' && document.getElementById(action.show);
    if (shown) shown.scrollIntoView();
  }
  async function poll() {
    try {
      const reply = await fetch('/demo/page-actions/next', { cache: 'no-store' });
      if (reply.status === 200) {
        perform(await reply.json());
        setTimeout(poll, 0);
        return;
      }
    } catch (e) { /* the service went away; keep trying */ }
    setTimeout(poll, 200);
  }
  poll();
})();
)js";

}  // namespace

void PageActions::push(std::string messageJson) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(messageJson));
}

std::optional<std::string> PageActions::pop() {
  std::lock_guard lock(mutex_);
  if (queue_.empty()) return std::nullopt;
  std::string next = std::move(queue_.front());
  queue_.pop_front();
  return next;
}

void registerPageActions(httplib::Server& server, PageActions& actions) {
  server.Post("/demo/page-actions", [&actions](const httplib::Request& request, httplib::Response& response) {
    auto message = nlohmann::json::parse(request.body, nullptr, false);
    if (!message.is_object()) {
      response.status = 400;
      response.set_content(R"({"message":"expected a JSON object"})", "application/json");
      return;
    }
    actions.push(message.dump());
    response.status = 202;
  });
  server.Get("/demo/page-actions/next", [&actions](const httplib::Request&, httplib::Response& response) {
    if (auto next = actions.pop()) {
      response.set_content(*next, "application/json");
    } else {
      response.status = 204;
    }
  });
  server.Get("/demo/page-actions.js", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kPollScript, "text/javascript");
  });
}

}  // namespace demo
