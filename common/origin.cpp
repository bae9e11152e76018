#include "common/origin.h"

#include <cstdint>

namespace quillbox {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLowerAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z'); }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); }

// A decimal number without a leading zero (a single 0 apart), at most `max`.
std::optional<std::uint32_t> Decimal(std::string_view text, std::uint32_t max) {
  if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// Four dotted decimal octets: the form a browser gives every IPv4 host.
std::optional<std::uint32_t> Ipv4FirstOctet(std::string_view host) {
  std::optional<std::uint32_t> first;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = host.find('.');
    if ((part < 3) != (dot != std::string_view::npos)) return std::nullopt;
    const auto octet = Decimal(host.substr(0, dot), 255);
    if (!octet) return std::nullopt;
    if (part == 0) first = octet;
    host = part < 3 ? host.substr(dot + 1) : std::string_view();
  }
  return first;
}

bool IsIpv4(std::string_view host) { return Ipv4FirstOctet(host).has_value(); }

// Lower-case labels of letters, digits, '-' and '_' (browsers keep underscores), none empty and
// none beginning or ending in '-'; international names arrive in their xn-- form.
bool IsDomain(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  bool allDigitsAndDots = true;
  std::size_t start = 0;
  while (start <= host.size()) {
    std::size_t dot = host.find('.', start);
    if (dot == std::string_view::npos) dot = host.size();
    const std::string_view label = host.substr(start, dot - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (const char c : label) {
      if (!IsLowerAlnum(c) && c != '-' && c != '_') return false;
      if (!IsDigit(c)) allDigitsAndDots = false;
    }
    start = dot + 1;
  }
  // A name of digits and dots only is an address in some other form ("127.1", "2130706433").
  return !allDigitsAndDots;
}

// Colon-separated groups of one to four lower-case hexadecimal digits; `count` gets how many.
bool Ipv6Groups(std::string_view text, int& count) {
  count = 0;
  if (text.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    const std::string_view group = text.substr(start, colon == std::string_view::npos ? colon : colon - start);
    if (group.empty() || group.size() > 4) return false;
    for (const char c : group) {
      if (!IsHex(c)) return false;
    }
    ++count;
    if (colon == std::string_view::npos) return true;
    start = colon + 1;
  }
}

// A bracketed IPv6 address in lower case hexadecimal groups, as the URL standard serialises it
// (it never writes the dotted IPv4 tail).
bool IsIpv6(std::string_view host) {
  if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
  const std::string_view inside = host.substr(1, host.size() - 2);
  const std::size_t gap = inside.find("::");
  int left = 0;
  int right = 0;
  if (gap == std::string_view::npos) return Ipv6Groups(inside, left) && left == 8;
  if (inside.find("::", gap + 1) != std::string_view::npos) return false;
  return Ipv6Groups(inside.substr(0, gap), left) && Ipv6Groups(inside.substr(gap + 2), right) && left + right < 8;
}

bool IsLoopback(std::string_view host) {
  if (host == "localhost" || host == "[::1]") return true;
  const auto first = Ipv4FirstOctet(host);
  return first && *first == 127;
}

}  // namespace

std::optional<std::string> OriginProblem(std::u16string_view wide) {
  if (wide.empty()) return "the origin is empty";
  if (wide.size() > kMaxOriginLength) return "the origin is longer than 255 characters";
  std::string origin;
  for (const char16_t unit : wide) {
    if (unit <= 0x20 || unit >= 0x7F) return "the origin holds a character no serialised origin has";
    origin += static_cast<char>(unit);
  }
  std::string_view rest = origin;
  bool secure = false;
  if (rest.starts_with("https://")) {
    secure = true;
    rest.remove_prefix(8);
  } else if (rest.starts_with("http://")) {
    rest.remove_prefix(7);
  } else {
    return "the origin's scheme is neither https nor http";
  }
  if (rest.find_first_of("/?#@\\") != std::string_view::npos) {
    return "the origin carries a path, query, fragment or credentials";
  }
  std::string_view host = rest;
  std::string_view port;
  const std::size_t colon = rest.rfind(':');
  if (colon != std::string_view::npos && rest.find(']', colon) == std::string_view::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    const auto number = Decimal(port, 65535);
    if (!number || *number == 0) return "the origin's port is not a port number";
    if (*number == (secure ? 443u : 80u)) return "the origin spells out its scheme's default port";
  }
  if (!(IsIpv6(host) || IsIpv4(host) || IsDomain(host))) return "the origin's host is not a host name or address";
  if (!secure && !IsLoopback(host)) return "an http origin is accepted only on a loopback host";
  return std::nullopt;
}

}  // namespace quillbox
