#pragma once

#include <cstdint>
#include <string>

namespace broadcast {

// The REST client's own failures; errorDescription() is the text the user sees when a
// broadcast ends because of one. Immutable value, usable on any thread.
class SignalError {
 public:
  enum class Kind { http, malformed };

  // A reply whose status is outside 200 to 299 (code 0: not an HTTP reply); the
  // message is the reply's "message" string, or empty.
  static SignalError http(std::int64_t code, std::string message);
  // A success reply that lacks what the operation needs.
  static SignalError malformed(std::string text);

  Kind kind() const { return kind_; }
  std::int64_t code() const { return code_; }              // http only; 0 otherwise
  const std::string& message() const { return message_; }  // http only; empty otherwise
  const std::string& text() const { return text_; }        // malformed only; empty otherwise

  // http: the message when not empty, else "Request failed (<code>)";
  // malformed: "Unexpected response: <text>".
  std::string errorDescription() const;

  friend bool operator==(const SignalError&, const SignalError&) = default;

 private:
  SignalError(Kind kind, std::int64_t code, std::string message, std::string text);

  Kind kind_;
  std::int64_t code_;
  std::string message_;
  std::string text_;
};

}  // namespace broadcast
