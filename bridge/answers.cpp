#include "bridge/answers.h"

#include "host/text.h"

namespace quillbox::bridge {

JsonValue Success(const JsonValue& id, JsonObject fields) {
  JsonObject answer{{u"id", id}, {u"ok", JsonValue(true)}};
  for (auto& field : fields) answer.push_back(std::move(field));
  return JsonValue(std::move(answer));
}

JsonValue Failure(const JsonValue& id, const char* code, const std::string& message) {
  JsonObject error{{u"code", JsonValue(host::Utf8ToUtf16(code))}, {u"message", JsonValue(host::Utf8ToUtf16(message))}};
  return JsonValue(JsonObject{{u"id", id}, {u"ok", JsonValue(false)}, {u"error", JsonValue(std::move(error))}});
}

}  // namespace quillbox::bridge
