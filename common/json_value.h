// A JSON value as the bridge sees one: strings stay UTF-16 units exactly as the browser sent them
// (U+0000 and unpaired surrogates included), because the component takes UTF-16 and a detour
// through UTF-8 would lose or mangle them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quillbox {

class JsonValue;
using JsonArray = std::vector<JsonValue>;
// Members in the order they came; the parser refuses a repeated name.
using JsonObject = std::vector<std::pair<std::u16string, JsonValue>>;

class JsonValue {
 public:
  JsonValue() = default;  // null
  JsonValue(std::nullptr_t) {}
  JsonValue(bool value) : value_(value) {}
  JsonValue(double value) : value_(value) {}
  JsonValue(int value) : value_(static_cast<double>(value)) {}
  JsonValue(long value) : value_(static_cast<double>(value)) {}
  JsonValue(unsigned long value) : value_(static_cast<double>(value)) {}
  JsonValue(long long value) : value_(static_cast<double>(value)) {}
  JsonValue(unsigned value) : value_(static_cast<double>(value)) {}
  JsonValue(std::u16string value) : value_(std::move(value)) {}
  JsonValue(const char16_t* value) : value_(std::u16string(value)) {}
  JsonValue(JsonArray value) : value_(std::make_shared<JsonArray>(std::move(value))) {}
  JsonValue(JsonObject value) : value_(std::make_shared<JsonObject>(std::move(value))) {}

  bool IsNull() const { return std::holds_alternative<std::monostate>(value_); }
  const bool* Bool() const { return std::get_if<bool>(&value_); }
  const double* Number() const { return std::get_if<double>(&value_); }
  const std::u16string* String() const { return std::get_if<std::u16string>(&value_); }
  const JsonArray* Array() const {
    const auto* held = std::get_if<std::shared_ptr<JsonArray>>(&value_);
    return held != nullptr ? held->get() : nullptr;
  }
  const JsonObject* Object() const {
    const auto* held = std::get_if<std::shared_ptr<JsonObject>>(&value_);
    return held != nullptr ? held->get() : nullptr;
  }
  // The member `name` of an object; null when this is no object or has no such member.
  const JsonValue* Member(std::u16string_view name) const;

 private:
  // Arrays and objects are held by shared pointer so that the variant stays copyable while
  // JsonValue is still incomplete; nothing mutates them once built.
  std::variant<std::monostate, bool, double, std::u16string, std::shared_ptr<JsonArray>, std::shared_ptr<JsonObject>>
      value_;
};

}  // namespace quillbox
