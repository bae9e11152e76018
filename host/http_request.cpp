#include "host/http_request.h"

#include <charconv>

namespace quillbox::host {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> PercentDecodedPath(std::string_view path) {
  std::string decoded;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') {
      if (path[i] == '\0') return std::nullopt;
      decoded += path[i];
      continue;
    }
    if (i + 2 >= path.size()) return std::nullopt;
    const int high = HexValue(path[i + 1]);
    const int low = HexValue(path[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    const char c = static_cast<char>(high * 16 + low);
    // An escaped separator would let one segment hide another from the check of segments.
    if (c == '/' || c == '\\' || c == '\0') return std::nullopt;
    decoded += c;
    i += 2;
  }
  return decoded;
}

std::optional<HttpRequest> ParseRequestHead(std::string_view head) {
  const std::size_t lineEnd = head.find('\n');
  std::string_view line = Trimmed(head.substr(0, lineEnd));
  HttpRequest request;
  const std::size_t firstSpace = line.find(' ');
  const std::size_t lastSpace = line.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) return std::nullopt;
  request.method = std::string(line.substr(0, firstSpace));
  const std::string_view target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  const std::string_view version = line.substr(lastSpace + 1);
  if (request.method.empty() || !version.starts_with("HTTP/1.")) return std::nullopt;
  if (target.empty() || target.front() != '/') return std::nullopt;  // absolute and * forms are not served
  const auto decoded = PercentDecodedPath(target.substr(0, target.find_first_of("?#")));
  if (!decoded) return std::nullopt;
  request.path = *decoded;

  std::string_view rest = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 1);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view header = Trimmed(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (header.empty()) continue;
    const std::size_t colon = header.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const std::string name = Lower(header.substr(0, colon));
    const std::string_view value = Trimmed(header.substr(colon + 1));
    if (name == "host") {
      request.host = std::string(value);
    } else if (name == "content-length") {
      std::size_t length = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
      if (error != std::errc() || end != value.data() + value.size() || value.empty()) return std::nullopt;
      if (request.contentLength && *request.contentLength != length) return std::nullopt;
      request.contentLength = length;
    } else if (name == "transfer-encoding") {
      request.chunked = true;
    }
  }
  return request;
}

}  // namespace quillbox::host
