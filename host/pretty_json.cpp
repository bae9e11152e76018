#include "host/pretty_json.h"

#include "common/json_write.h"

namespace quillbox::host {
namespace {

void Append(std::string& out, const quillbox::JsonValue& value, std::size_t depth) {
  const std::string inner(2 * (depth + 1), ' ');
  const std::string outer(2 * depth, ' ');
  if (const quillbox::JsonArray* items = value.Array(); items != nullptr && !items->empty()) {
    out += "[\n";
    for (std::size_t i = 0; i < items->size(); ++i) {
      out += inner;
      Append(out, (*items)[i], depth + 1);
      out += i + 1 < items->size() ? ",\n" : "\n";
    }
    out += outer + "]";
  } else if (const quillbox::JsonObject* members = value.Object(); members != nullptr && !members->empty()) {
    out += "{\n";
    for (std::size_t i = 0; i < members->size(); ++i) {
      out += inner;
      quillbox::AppendJsonString(out, (*members)[i].first);
      out += ": ";
      Append(out, (*members)[i].second, depth + 1);
      out += i + 1 < members->size() ? ",\n" : "\n";
    }
    out += outer + "}";
  } else {
    out += quillbox::WriteJson(value);  // a scalar, or an empty array or object
  }
}

}  // namespace

std::string WritePrettyJson(const quillbox::JsonValue& value) {
  std::string out;
  Append(out, value, 0);
  return out + "\n";
}

}  // namespace quillbox::host
