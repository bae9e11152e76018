#include "common/json_value.h"

namespace quillbox {

const JsonValue* JsonValue::Member(std::u16string_view name) const {
  const JsonObject* object = Object();
  if (object == nullptr) return nullptr;
  for (const auto& [key, value] : *object) {
    if (key == name) return &value;
  }
  return nullptr;
}

}  // namespace quillbox
