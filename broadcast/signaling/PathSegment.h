#pragma once

#include <string>
#include <string_view>

namespace broadcast {

// The text as one URL path segment (RFC 3986): path characters and well-formed
// percent escapes stay as they are, every other byte is percent-encoded, and a text of
// "." or ".." has its dots encoded, so it can neither end the segment nor climb out of
// the path.
std::string encodePathSegment(std::string_view text);

}  // namespace broadcast
