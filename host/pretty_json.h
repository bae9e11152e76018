// JSON for files people read and edit (host manifests, an administrator's policies.json): the
// bridge's strict writer, laid out two spaces an indent level, one member a line.
#pragma once

#include "common/json_value.h"

#include <string>

namespace quillbox::host {

std::string WritePrettyJson(const quillbox::JsonValue& value);

}  // namespace quillbox::host
