#include "bridge/error_overlay.h"

namespace quillbox::bridge {

void ErrorOverlay::Refuse(long number, const std::u16string& name, const std::u16string& description) {
  number_ = number;
  name_ = JsonValue(name);
  description_ = JsonValue(description);
}

void ErrorOverlay::ObjectCreated() {
  name_.reset();
  description_.reset();
}

void ErrorOverlay::ErrorStateCleared() {
  number_.reset();
  name_.reset();
  description_.reset();
}

void ErrorOverlay::Finalized() { ObjectCreated(); }

void ErrorOverlay::ErrorRecorded() {
  number_.reset();
  name_.reset();
}

JsonValue ErrorOverlay::Apply(JsonValue componentState) const {
  const JsonObject* fields = componentState.Object();
  if (fields == nullptr) return componentState;
  JsonObject out = *fields;
  for (auto& [key, value] : out) {
    if (key == u"ErrorNo" && number_) value = JsonValue(*number_);
    if (key == u"ErrorStr" && name_) value = *name_;
    if (key == u"ErrorDesc" && description_) value = *description_;
  }
  return JsonValue(std::move(out));
}

}  // namespace quillbox::bridge
