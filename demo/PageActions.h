#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace httplib {
class Server;
}

namespace demo {

// Messages queued for the dashboard page to post to the app, as if the user had
// pressed its buttons. Lets the headless demo tour and the end-to-end tests drive the
// real page in the real app. Safe from any server thread.
class PageActions {
 public:
  void push(std::string messageJson);
  std::optional<std::string> pop();

 private:
  std::mutex mutex_;
  std::deque<std::string> queue_;
};

// POST /demo/page-actions (a JSON object: the message to post), GET
// /demo/page-actions/next (the next message, or 204), and /demo/page-actions.js, the
// script the dashboard loads to poll for them.
void registerPageActions(httplib::Server& server, PageActions& actions);

}  // namespace demo
