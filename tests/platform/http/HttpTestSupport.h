#pragma once

#include <string>

#include "tests/support/LoopbackHttpServer.h"

namespace testsupport {

// A reply that closes the connection, so the server stops at once at the end of a test
// instead of waiting out the keep-alive time of the client's connection.
inline HttpReply answer(int status, std::string body) {
  return {status, std::move(body), "application/json", {{"Connection", "close"}}};
}

}  // namespace testsupport
