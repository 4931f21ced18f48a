#include "broadcast/signaling/PathSegment.h"

namespace broadcast {

namespace {

constexpr std::string_view kHexDigits = "0123456789ABCDEF";
// RFC 3986 pchar besides letters and digits: unreserved marks, sub-delims, ":" and "@".
constexpr std::string_view kPathMarks = "-._~!$&'()*+,;=:@";

// ASCII only, whatever the locale.
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

bool isPathCharacter(char c) {
  return isLetter(c) || isDigit(c) || kPathMarks.find(c) != std::string_view::npos;
}

bool startsEscape(std::string_view text, std::size_t at) {
  return text[at] == '%' && at + 2 < text.size() && isHexDigit(text[at + 1]) && isHexDigit(text[at + 2]);
}

void appendEscaped(std::string& out, char c) {
  const auto byte = static_cast<unsigned char>(c);
  out += '%';
  out += kHexDigits[byte >> 4U];
  out += kHexDigits[byte & 0xFU];
}

}  // namespace

std::string encodePathSegment(std::string_view text) {
  std::string segment;
  segment.reserve(text.size());
  const bool isDotSegment = text == "." || text == "..";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((isPathCharacter(c) && !isDotSegment) || startsEscape(text, i)) {
      segment += c;
    } else {
      appendEscaped(segment, c);
    }
  }
  return segment;
}

}  // namespace broadcast
