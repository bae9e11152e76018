#include "common/json_write.h"

#include <charconv>
#include <cmath>

namespace quillbox {
namespace {

void AppendNumber(std::string& out, double value) {
  char buffer[32];
  // Integers as integers: the properties the bridge sends are 16- and 32-bit.
  const bool integral = std::trunc(value) == value && std::fabs(value) < 9007199254740992.0;
  const auto result = integral ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value))
                               : std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void Append(std::string& out, const JsonValue& value) {
  if (value.IsNull()) {
    out += "null";
  } else if (const bool* flag = value.Bool()) {
    out += *flag ? "true" : "false";
  } else if (const double* number = value.Number()) {
    AppendNumber(out, *number);
  } else if (const std::u16string* text = value.String()) {
    AppendJsonString(out, *text);
  } else if (const JsonArray* items = value.Array()) {
    out += '[';
    for (std::size_t i = 0; i < items->size(); ++i) {
      if (i != 0) out += ',';
      Append(out, (*items)[i]);
    }
    out += ']';
  } else if (const JsonObject* members = value.Object()) {
    out += '{';
    for (std::size_t i = 0; i < members->size(); ++i) {
      if (i != 0) out += ',';
      AppendJsonString(out, (*members)[i].first);
      out += ':';
      Append(out, (*members)[i].second);
    }
    out += '}';
  }
}

}  // namespace

void AppendJsonString(std::string& out, std::u16string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  for (const char16_t unit : text) {
    if (unit == u'"' || unit == u'\\') {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      const char escape[] = {
          '\\', 'u', kHex[(unit >> 12) & 0xF], kHex[(unit >> 8) & 0xF], kHex[(unit >> 4) & 0xF], kHex[unit & 0xF]};
      out.append(escape, sizeof escape);
    }
  }
  out += '"';
}

std::string WriteJson(const JsonValue& value) {
  std::string out;
  Append(out, value);
  return out;
}

}  // namespace quillbox
