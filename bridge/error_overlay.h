// The error state the page reads when the host itself refused a call. The component's error
// state lives in the component and only the component writes it, so a refusal that never reaches
// the component is laid over it here, field by field, and each field gives way again when the
// component next writes or clears that field (the same events that would have replaced the
// component's own error).
#pragma once

#include "common/json_value.h"

#include <optional>
#include <string>

namespace quillbox::bridge {

class ErrorOverlay {
 public:
  void Refuse(long number, const std::u16string& name, const std::u16string& description);

  // The component's events, by what they do to its error state.
  void ObjectCreated();      // name and description cleared
  void ErrorStateCleared();  // Sign and Transform clear everything at their start
  void Finalized();          // name and description cleared
  void ErrorRecorded();      // number and name written (a picker closed with no choice)

  // `componentState` ({"ErrorNo":..,"ErrorStr":..,"ErrorDesc":..}) with the overlay laid over it.
  JsonValue Apply(JsonValue componentState) const;

 private:
  std::optional<long> number_;
  std::optional<JsonValue> name_;
  std::optional<JsonValue> description_;
};

}  // namespace quillbox::bridge
