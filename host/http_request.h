// The head of an HTTP/1.x request as the demo server reads it: one request per connection, no
// keep-alive, no chunked bodies.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillbox::host {

struct HttpRequest {
  std::string method;
  std::string path;  // the target's path, percent-decoded; the query is dropped
  std::string host;  // the Host header, as sent
  std::optional<std::size_t> contentLength;
  bool chunked = false;
};

// Parses the head (everything before the blank line, without it). nullopt when it is not a
// request line and headers, or the target is not an origin-form path ("/..."), or it
// percent-encodes a slash, NUL or a malformed escape: what such a target names is never served.
std::optional<HttpRequest> ParseRequestHead(std::string_view head);

// "%2e%2E" -> ".."; nullopt for a malformed escape or an escaped '/', '\\' or NUL.
std::optional<std::string> PercentDecodedPath(std::string_view path);

}  // namespace quillbox::host
