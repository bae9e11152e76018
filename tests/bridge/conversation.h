// One connection to the real quillbox-native-host: the frames a browser would send, written up
// front, then the host run to the end of its input in a world of its own (HOME, registry, NSS
// store), and the frames it answered with, parts joined.
#pragma once

#include "common/json_value.h"
#include "host/command_runner.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillbox::bridge::test {

struct Answered {
  int status = -1;
  std::string err;
  std::vector<std::string> frames;   // every frame as sent
  std::vector<JsonValue> answers;    // the answers, parts joined into the answer they carry
  bool cutShort = false;             // the output ended inside a frame

  // The answer with `id`; a failed test and null when there is none.
  const JsonValue& Answer(double id) const;
};

class Conversation {
 public:
  // Starts with the hello for `origin` (id 0) unless `origin` is empty.
  explicit Conversation(const std::string& origin = "https://example.org");

  // A request as JSON text, framed.
  Conversation& Send(const std::string& json);
  // Bytes as they are, for broken frames.
  Conversation& SendRaw(const std::string& bytes);
  static std::string Frame(const std::string& json);

  // `wrapper`, when given, is a program with its arguments that runs the host (its path last).
  Answered Run(const host::test::World& world, const std::vector<std::string>& wrapper = {}) const;

 private:
  std::string input_;
};

// A JSON string literal for `text`, units kept.
std::string Quoted(std::u16string_view text);
// A request text: {"id":id,"op":"op",<rest>}.
std::string Request(int id, const std::string& op, const std::string& rest = "");
std::string Utf8(std::u16string_view text);

// The member `name` of an answer's error, properties or errors object.
std::string ErrorCode(const JsonValue& answer);
const JsonValue& Field(const JsonValue& answer, std::u16string_view group, std::u16string_view name);

}  // namespace quillbox::bridge::test

namespace quillbox::bridge::test {

// A value's string, or "<not a string>".
std::u16string Text(const JsonValue& value);
// A value's number, or NaN.
double Number(const JsonValue& value);

}  // namespace quillbox::bridge::test
