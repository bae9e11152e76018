#include "common/json_parse.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <unordered_set>

namespace quillbox {
namespace {

class Parser {
 public:
  Parser(std::string_view text, std::size_t maxDepth, std::size_t maxValues)
      : text_(text), maxDepth_(maxDepth), maxValues_(maxValues) {}

  JsonValue Document() {
    JsonValue value = Value(0);
    SkipSpace();
    if (position_ != text_.size()) Fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw JsonError("malformed JSON at byte " + std::to_string(position_) + ": " + what);
  }

  bool AtEnd() const { return position_ >= text_.size(); }
  unsigned char Peek() const { return AtEnd() ? 0 : static_cast<unsigned char>(text_[position_]); }

  void SkipSpace() {
    while (!AtEnd()) {
      const char c = text_[position_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
      ++position_;
    }
  }

  void Expect(std::string_view word) {
    if (text_.substr(position_, word.size()) != word) Fail("unexpected character");
    position_ += word.size();
  }

  JsonValue Value(std::size_t depth) {
    SkipSpace();
    if (AtEnd()) Fail("a value was expected");
    if (++values_ > maxValues_) Fail("more than " + std::to_string(maxValues_) + " values");
    switch (Peek()) {
      case '{': return Object(depth + 1);
      case '[': return Array(depth + 1);
      case '"': return JsonValue(String());
      case 't': Expect("true"); return JsonValue(true);
      case 'f': Expect("false"); return JsonValue(false);
      case 'n': Expect("null"); return JsonValue();
      default: return JsonValue(Number());
    }
  }

  void Enter(std::size_t depth) const {
    if (depth > maxDepth_) Fail("nested deeper than " + std::to_string(maxDepth_));
  }

  JsonValue Object(std::size_t depth) {
    Enter(depth);
    ++position_;
    JsonObject members;
    // A set, not a scan of the members so far: a hostile object may have a million members.
    std::unordered_set<std::u16string> names;
    SkipSpace();
    if (Peek() == '}') {
      ++position_;
      return JsonValue(std::move(members));
    }
    for (;;) {
      SkipSpace();
      if (Peek() != '"') Fail("a member name was expected");
      std::u16string name = String();
      if (!names.insert(name).second) Fail("a member name is repeated");
      SkipSpace();
      if (Peek() != ':') Fail("':' was expected");
      ++position_;
      JsonValue value = Value(depth);
      members.emplace_back(std::move(name), std::move(value));
      SkipSpace();
      if (Peek() == ',') {
        ++position_;
        continue;
      }
      if (Peek() == '}') {
        ++position_;
        return JsonValue(std::move(members));
      }
      Fail("',' or '}' was expected");
    }
  }

  JsonValue Array(std::size_t depth) {
    Enter(depth);
    ++position_;
    JsonArray items;
    SkipSpace();
    if (Peek() == ']') {
      ++position_;
      return JsonValue(std::move(items));
    }
    for (;;) {
      items.push_back(Value(depth));
      SkipSpace();
      if (Peek() == ',') {
        ++position_;
        continue;
      }
      if (Peek() == ']') {
        ++position_;
        return JsonValue(std::move(items));
      }
      Fail("',' or ']' was expected");
    }
  }

  // The JSON number grammar, checked by hand: from_chars alone would take "01", "1." or "+1".
  double Number() {
    const std::size_t start = position_;
    if (Peek() == '-') ++position_;
    if (Peek() == '0') {
      ++position_;
    } else if (Peek() >= '1' && Peek() <= '9') {
      while (Peek() >= '0' && Peek() <= '9') ++position_;
    } else {
      Fail("unexpected character");
    }
    if (Peek() == '.') {
      ++position_;
      if (!(Peek() >= '0' && Peek() <= '9')) Fail("a digit was expected after '.'");
      while (Peek() >= '0' && Peek() <= '9') ++position_;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++position_;
      if (Peek() == '+' || Peek() == '-') ++position_;
      if (!(Peek() >= '0' && Peek() <= '9')) Fail("a digit was expected in the exponent");
      while (Peek() >= '0' && Peek() <= '9') ++position_;
    }
    double value = 0;
    const char* first = text_.data() + start;
    const char* last = text_.data() + position_;
    const auto [end, status] = std::from_chars(first, last, value);
    if (status != std::errc() || end != last || !std::isfinite(value)) Fail("a number out of range");
    return value;
  }

  unsigned HexUnit() {
    if (text_.size() - position_ < 4) Fail("a \\u escape is cut short");
    unsigned unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[position_++];
      unit <<= 4;
      if (c >= '0' && c <= '9')
        unit |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        unit |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        unit |= static_cast<unsigned>(c - 'A' + 10);
      else
        Fail("a \\u escape needs four hexadecimal digits");
    }
    return unit;
  }

  // One UTF-8 sequence, checked as RFC 3629 has it (no overlong forms, no surrogates, nothing
  // past U+10FFFF), appended as UTF-16.
  void Utf8Sequence(std::u16string& out) {
    const unsigned char lead = Peek();
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
      length = 2, code = lead & 0x1F, lowest = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
      length = 3, code = lead & 0x0F, lowest = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
      length = 4, code = lead & 0x07, lowest = 0x10000;
    else
      Fail("invalid UTF-8");
    if (text_.size() - position_ < length) Fail("invalid UTF-8");
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text_[position_ + i]);
      if ((next & 0xC0) != 0x80) Fail("invalid UTF-8");
      code = (code << 6) | (next & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) Fail("invalid UTF-8");
    position_ += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }

  // Characters that stand for themselves: a document is mostly long runs of them, copied whole.
  static bool Plain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

  std::u16string String() {
    ++position_;
    std::u16string out;
    for (;;) {
      std::size_t end = position_;
      while (end < text_.size() && Plain(static_cast<unsigned char>(text_[end]))) ++end;
      if (end != position_) {
        const std::size_t had = out.size();
        out.resize(had + (end - position_));
        for (std::size_t i = 0; i < end - position_; ++i) out[had + i] = static_cast<unsigned char>(text_[position_ + i]);
        position_ = end;
      }
      if (AtEnd()) Fail("a string is not closed");
      const unsigned char c = Peek();
      if (c == '"') {
        ++position_;
        return out;
      }
      if (c < 0x20) Fail("a control character inside a string");
      if (c >= 0x80) {
        Utf8Sequence(out);
        continue;
      }
      // What is left after a plain run is the escape.
      ++position_;
      if (AtEnd()) Fail("a string is not closed");
      const char escape = text_[position_++];
      switch (escape) {
        case '"': out.push_back(u'"'); break;
        case '\\': out.push_back(u'\\'); break;
        case '/': out.push_back(u'/'); break;
        case 'b': out.push_back(u'\b'); break;
        case 'f': out.push_back(u'\f'); break;
        case 'n': out.push_back(u'\n'); break;
        case 'r': out.push_back(u'\r'); break;
        case 't': out.push_back(u'\t'); break;
        // Any unit, paired or not: the browser's strings are UTF-16 and may hold lone surrogates.
        case 'u': out.push_back(static_cast<char16_t>(HexUnit())); break;
        default: --position_; Fail("an unknown escape");
      }
    }
  }

  std::string_view text_;
  std::size_t maxDepth_;
  std::size_t maxValues_;
  std::size_t values_ = 0;
  std::size_t position_ = 0;
};

}  // namespace

JsonValue ParseJson(std::string_view text, std::size_t maxDepth, std::size_t maxValues) {
  return Parser(text, maxDepth, maxValues).Document();
}

}  // namespace quillbox
