// A strict JSON reader for messages from the browser: exactly RFC 8259 (no comments, trailing
// commas, single quotes, bare control characters or invalid UTF-8), one value and nothing after
// it but whitespace, nesting bounded, and no object with a repeated member name.
#pragma once

#include "common/json_value.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillbox {

class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::size_t kMaxJsonDepth = 32;
// Values in one text: a request has a dozen, and 64 MiB of "[0,0,..." would otherwise become
// gigabytes of values.
inline constexpr std::size_t kMaxJsonValues = 100000;

// Throws JsonError naming the first fault and its byte offset.
JsonValue ParseJson(std::string_view text, std::size_t maxDepth = kMaxJsonDepth,
                    std::size_t maxValues = kMaxJsonValues);

}  // namespace quillbox
