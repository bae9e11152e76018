#include "bridge/conversation.h"

#include "common/json_parse.h"
#include "common/json_write.h"
#include "host/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace quillbox::bridge::test {

const JsonValue& Answered::Answer(double id) const {
  for (const JsonValue& answer : answers) {
    const JsonValue* number = answer.Member(u"id");
    if (number != nullptr && number->Number() != nullptr && *number->Number() == id) return answer;
  }
  ADD_FAILURE() << "no answer with id " << id;
  static const JsonValue none;
  return none;
}

Conversation::Conversation(const std::string& origin) {
  if (!origin.empty()) Send("{\"id\":0,\"op\":\"hello\",\"origin\":" + Quoted(host::Utf8ToUtf16(origin)) + "}");
}

std::string Conversation::Frame(const std::string& json) {
  const auto length = static_cast<std::uint32_t>(json.size());
  std::string frame(sizeof length, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  return frame + json;
}

Conversation& Conversation::Send(const std::string& json) {
  input_ += Frame(json);
  return *this;
}

Conversation& Conversation::SendRaw(const std::string& bytes) {
  input_ += bytes;
  return *this;
}

Answered Conversation::Run(const host::test::World& world, const std::vector<std::string>& wrapper) const {
  const std::string host = std::string(QUILLBOX_BIN_DIR) + "/quillbox-native-host";
  std::vector<std::string> arguments;
  if (!wrapper.empty()) {
    arguments.assign(wrapper.begin() + 1, wrapper.end());
    arguments.push_back(host);
  }
  const host::test::Result result = world.Program(wrapper.empty() ? host : wrapper.front(), arguments, input_);
  Answered answered;
  answered.status = result.status;
  answered.err = result.err;
  std::string_view out = result.out;
  std::string joined;
  while (!out.empty()) {
    std::uint32_t length = 0;
    if (out.size() < sizeof length) {
      answered.cutShort = true;
      break;
    }
    std::memcpy(&length, out.data(), sizeof length);
    if (out.size() - sizeof length < length) {
      answered.cutShort = true;
      break;
    }
    answered.frames.emplace_back(out.substr(sizeof length, length));
    out.remove_prefix(sizeof length + length);
    JsonValue message = ParseJson(answered.frames.back());
    if (const JsonValue* part = message.Member(u"part")) {
      for (const char16_t unit : *part->String()) joined += static_cast<char>(unit);
      if (*message.Member(u"more")->Bool()) continue;
      message = ParseJson(joined);
      joined.clear();
    }
    answered.answers.push_back(std::move(message));
  }
  return answered;
}

std::string Quoted(std::u16string_view text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

std::string Request(int id, const std::string& op, const std::string& rest) {
  return "{\"id\":" + std::to_string(id) + ",\"op\":\"" + op + "\"" + (rest.empty() ? "" : "," + rest) + "}";
}

std::string Utf8(std::u16string_view text) { return host::Utf16ToUtf8(text); }

std::string ErrorCode(const JsonValue& answer) {
  const JsonValue* error = answer.Member(u"error");
  if (error == nullptr) return "";
  const JsonValue* code = error->Member(u"code");
  return code != nullptr && code->String() != nullptr ? Utf8(*code->String()) : "";
}

const JsonValue& Field(const JsonValue& answer, std::u16string_view group, std::u16string_view name) {
  static const JsonValue missing(u"<missing>");
  const JsonValue* inner = answer.Member(group);
  const JsonValue* value = inner != nullptr ? inner->Member(name) : nullptr;
  return value != nullptr ? *value : missing;
}

}  // namespace quillbox::bridge::test

namespace quillbox::bridge::test {

std::u16string Text(const JsonValue& value) {
  return value.String() != nullptr ? *value.String() : std::u16string(u"<not a string>");
}

double Number(const JsonValue& value) { return value.Number() != nullptr ? *value.Number() : std::nan(""); }

}  // namespace quillbox::bridge::test
