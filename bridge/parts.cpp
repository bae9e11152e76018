#include "bridge/parts.h"

#include <algorithm>

#include "common/json_write.h"

#include <stdexcept>

namespace quillbox::bridge {
namespace {

// The bytes a piece costs inside its part frame, beyond its own escaped text.
std::string PartPrefix(const JsonValue& id) { return "{\"id\":" + WriteJson(id) + ",\"part\":\""; }
constexpr std::string_view kMoreSuffix = "\",\"more\":true}";
constexpr std::string_view kLastSuffix = "\",\"more\":false}";

}  // namespace

std::vector<std::string> AnswerFrames(const JsonValue& answer, std::size_t maxFrame) {
  std::string whole = WriteJson(answer);
  std::vector<std::string> frames;
  if (whole.size() <= maxFrame) {
    frames.push_back(std::move(whole));
    return frames;
  }
  const JsonValue* id = answer.Member(u"id");
  const std::string prefix = PartPrefix(id != nullptr ? *id : JsonValue());
  // Each piece is cut where its escaped form fills the frame; the text is ASCII, so any cut is
  // between characters, and only '"' and '\\' grow (to two bytes) when escaped.
  if (maxFrame < prefix.size() + kLastSuffix.size() + 2)
    throw std::length_error("the frame bound leaves no room for a part");
  const std::size_t room = maxFrame - prefix.size() - kLastSuffix.size();
  std::size_t at = 0;
  while (at < whole.size()) {
    std::string frame;
    frame.reserve(maxFrame);
    frame = prefix;
    std::size_t used = 0;
    while (at < whole.size() && used < room) {
      // The plain run up to the next character that grows, or to the frame's end, in one step.
      const std::size_t limit = std::min(whole.size(), at + (room - used));
      std::size_t end = at;
      while (end < limit && whole[end] != '"' && whole[end] != '\\') ++end;
      frame.append(whole, at, end - at);
      used += end - at;
      at = end;
      if (at == limit) continue;
      if (used + 2 > room) break;
      frame += '\\';
      frame += whole[at];
      used += 2;
      ++at;
    }
    frame += at < whole.size() ? kMoreSuffix : kLastSuffix;
    frames.push_back(std::move(frame));
  }
  return frames;
}

bool PartAssembler::IsPart(const JsonValue& message) { return message.Member(u"part") != nullptr; }

JsonValue PartAssembler::Id() const { return id_ ? JsonValue(*id_) : JsonValue(); }

void PartAssembler::Drop() {
  id_.reset();
  text_.clear();
  text_.shrink_to_fit();
}

PartAssembler::Outcome PartAssembler::Add(const JsonValue& part, std::string& whole, std::string& problem) {
  const JsonValue* id = part.Member(u"id");
  const JsonValue* piece = part.Member(u"part");
  const JsonValue* more = part.Member(u"more");
  const JsonObject* members = part.Object();
  if (id == nullptr || id->Number() == nullptr || piece == nullptr || piece->String() == nullptr || more == nullptr ||
      more->Bool() == nullptr || members == nullptr || members->size() != 3) {
    problem = "a part has exactly the members id (a number), part (a string) and more (true or false)";
    Drop();
    return Outcome::kBad;
  }
  if (id_ && *id_ != *id->Number()) {
    problem = "a part of another request came before the last part of the one begun";
    Drop();
    return Outcome::kBad;
  }
  const std::u16string& units = *piece->String();
  if (text_.size() + units.size() > maxTotal_) {
    problem = "the parts together are larger than a message may be";
    Drop();
    return Outcome::kTooLarge;
  }
  id_ = *id->Number();
  // A piece is a cut of JSON text written in ASCII: a character beyond it may have been split
  // between two pieces.
  if (std::any_of(units.begin(), units.end(), [](char16_t unit) { return unit >= 0x80; })) {
    problem = "a part holds a character beyond ASCII; escape the message as \\u before cutting it";
    Drop();
    return Outcome::kBad;
  }
  const std::size_t had = text_.size();
  text_.resize(had + units.size());
  std::transform(units.begin(), units.end(), text_.begin() + static_cast<std::ptrdiff_t>(had),
                 [](char16_t unit) { return static_cast<char>(unit); });
  if (*more->Bool()) return Outcome::kMore;
  whole = std::move(text_);
  Drop();
  return Outcome::kWhole;
}

}  // namespace quillbox::bridge
