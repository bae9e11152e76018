// One connection's conversation: the hello that fixes the page's origin, then requests on
// signature objects, each answered by id. Takes each frame's bytes and gives back the frames to
// send; knows nothing of file descriptors.
#pragma once

#include "bridge/consent.h"
#include "bridge/error_overlay.h"
#include "common/json_value.h"
#include "bridge/parts.h"
#include "bridge/signature_objects.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillbox::bridge {

struct Reply {
  std::vector<JsonValue> answers;
  bool end = false;  // the host ends after sending the answers
};

class Session {
 public:
  explicit Session(Consent& consent);

  Reply Receive(std::string_view frame);
  // The answer to a frame longer than the bound, which is never read.
  static JsonValue TooLarge();

 private:
  Reply Request(const JsonValue& request);
  JsonValue Hello(const JsonValue& id, const JsonValue& request, bool& end);
  JsonValue OnObject(const JsonValue& id, const std::u16string& op, const JsonValue& request);
  JsonValue Property(const JsonValue& id, bool put, IDispatch* object, const JsonValue& request);
  JsonValue Method(const JsonValue& id, const std::u16string& op, IDispatch* object, const JsonValue& request);
  JsonValue Errors(IDispatch* object) const;

  Consent& consent_;
  std::optional<std::u16string> origin_;
  SignatureObjects objects_;
  ErrorOverlay overlay_;
  PartAssembler parts_;
};

}  // namespace quillbox::bridge
