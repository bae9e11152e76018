// Messages too big for one frame travel as parts: the message's own JSON text, which is ASCII,
// cut into pieces, each sent as {"id":ID,"part":"<piece>","more":true|false}. The receiver joins
// the pieces of one id in order and parses the whole when "more" is false. The host answers
// this way whenever an answer would pass the browser's 1 MiB bound; the extension may send a
// request this way too.
#pragma once

#include "common/json_value.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quillbox::bridge {

// The frames for `answer` (whose "id" member names the parts): the answer itself when it fits in
// `maxFrame` bytes, or else its parts, each within `maxFrame`.
std::vector<std::string> AnswerFrames(const JsonValue& answer, std::size_t maxFrame);

// Joins the parts of one request.
class PartAssembler {
 public:
  explicit PartAssembler(std::size_t maxTotal) : maxTotal_(maxTotal) {}

  // Whether `message` is a part at all (an object with a "part" member).
  static bool IsPart(const JsonValue& message);

  enum class Outcome { kMore, kWhole, kBad, kTooLarge };
  // Adds one part; kWhole leaves the joined text in `whole`. On kBad and kTooLarge `problem`
  // says why, and what was gathered is dropped.
  Outcome Add(const JsonValue& part, std::string& whole, std::string& problem);
  // Drops what was gathered.
  void Abandon() { Drop(); }
  bool Idle() const { return !id_.has_value(); }
  // The id of the request being gathered (null when none).
  JsonValue Id() const;

 private:
  void Drop();

  std::size_t maxTotal_;
  std::optional<double> id_;
  std::string text_;
};

}  // namespace quillbox::bridge
