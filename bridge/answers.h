// The shapes of the host's answers: {"id":..,"ok":true,...} or
// {"id":..,"ok":false,"error":{"code":"QB_...","message":".."}}.
#pragma once

#include "common/json_value.h"

#include <string>

namespace quillbox::bridge {

JsonValue Success(const JsonValue& id, JsonObject fields = {});
JsonValue Failure(const JsonValue& id, const char* code, const std::string& message);

}  // namespace quillbox::bridge
