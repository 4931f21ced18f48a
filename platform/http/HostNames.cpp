#include "platform/http/HostNames.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <string>

namespace platform::http {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return lower(x) == lower(y); });
}

bool isLoopbackHost(std::string_view host) {
  if (equalsIgnoringCase(host, "localhost")) return true;
  std::string text(host);
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    in6_addr v6{};
    text = text.substr(1, text.size() - 2);
    return inet_pton(AF_INET6, text.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
  }
  return false;
}

}  // namespace platform::http
