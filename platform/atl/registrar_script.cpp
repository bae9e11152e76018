#include "registrar_script.h"

#include "advapi32/registry_store.h"
#include "shared/case_folding.h"

#include <cstring>
#include <optional>

namespace qb::platform::registrar {
namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

bool SameIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

struct Token {
  std::u16string text;
  bool quoted = false;
  bool end = false;

  bool Is(std::u16string_view word) const { return !quoted && !end && SameIgnoringAsciiCase(text, word); }
  bool IsPunctuation() const { return Is(u"{") || Is(u"}") || Is(u"="); }
};

class Lexer {
 public:
  explicit Lexer(std::u16string_view text) : text_(text) {}

  // False on an unterminated quoted token.
  bool Take(Token& token) {
    if (peeked_) {
      token = std::move(*peeked_);
      peeked_.reset();
      return true;
    }
    return Read(token);
  }
  bool Peek(const Token*& token) {
    if (!peeked_) {
      Token next;
      if (!Read(next)) return false;
      peeked_ = std::move(next);
    }
    token = &*peeked_;
    return true;
  }

 private:
  bool Read(Token& token) {
    token = Token{};
    while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
    if (at_ == text_.size()) {
      token.end = true;
      return true;
    }
    if (text_[at_] == u'\'') {
      token.quoted = true;
      for (++at_;; ++at_) {
        if (at_ == text_.size()) return false;
        if (text_[at_] == u'\'') {
          if (at_ + 1 < text_.size() && text_[at_ + 1] == u'\'') {
            token.text.push_back(u'\'');
            ++at_;
            continue;
          }
          ++at_;
          return true;
        }
        token.text.push_back(text_[at_]);
      }
    }
    while (at_ < text_.size() && !IsSpace(text_[at_])) token.text.push_back(text_[at_++]);
    return true;
  }

  std::u16string_view text_;
  std::size_t at_ = 0;
  std::optional<Token> peeked_;
};

std::optional<HKEY> RootFromName(const Token& token) {
  if (token.Is(u"HKCR") || token.Is(u"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
  if (token.Is(u"HKCU") || token.Is(u"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
  if (token.Is(u"HKLM") || token.Is(u"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
  return std::nullopt;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Decimal, or hexadecimal after 0x; nothing else, and nothing beyond `max`.
std::optional<std::uint64_t> ParseNumber(std::u16string_view text, std::uint64_t max) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char16_t c : text) {
    const int digit = HexDigit(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return std::nullopt;
    if (value > (max - static_cast<unsigned>(digit)) / base) return std::nullopt;
    value = value * base + static_cast<unsigned>(digit);
  }
  return value;
}

void AppendUnits(std::vector<BYTE>& data, std::u16string_view text) {
  const std::size_t at = data.size();
  data.resize(at + (text.size() + 1) * sizeof(char16_t));
  if (!text.empty()) std::memcpy(data.data() + at, text.data(), text.size() * sizeof(char16_t));
}

template <typename Number>
void AppendNumber(std::vector<BYTE>& data, Number value) {
  const std::size_t at = data.size();
  data.resize(at + sizeof value);
  std::memcpy(data.data() + at, &value, sizeof value);
}

bool MakeValue(const Token& type, std::u16string_view text, ScriptValue& value) {
  value.data.clear();
  if (type.Is(u"s") || type.Is(u"e")) {
    value.type = type.Is(u"s") ? REG_SZ : REG_EXPAND_SZ;
    AppendUnits(value.data, text);
    return true;
  }
  if (type.Is(u"d")) {
    auto number = ParseNumber(text, 0xFFFFFFFFu);
    if (!number) return false;
    value.type = REG_DWORD;
    AppendNumber(value.data, static_cast<std::uint32_t>(*number));
    return true;
  }
  if (type.Is(u"q")) {
    auto number = ParseNumber(text, ~std::uint64_t{0});
    if (!number) return false;
    value.type = REG_QWORD;
    AppendNumber(value.data, *number);
    return true;
  }
  if (type.Is(u"b")) {
    if (text.size() % 2 != 0) return false;
    value.type = REG_BINARY;
    for (std::size_t i = 0; i < text.size(); i += 2) {
      const int high = HexDigit(text[i]);
      const int low = HexDigit(text[i + 1]);
      if (high < 0 || low < 0) return false;
      value.data.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return true;
  }
  if (type.Is(u"m")) {
    // The strings of a multi-string are separated by the two characters \0.
    value.type = REG_MULTI_SZ;
    std::size_t start = 0;
    for (std::size_t separator; (separator = text.find(u"\\0", start)) != std::u16string_view::npos;
         start = separator + 2)
      AppendUnits(value.data, text.substr(start, separator - start));
    AppendUnits(value.data, text.substr(start));
    AppendUnits(value.data, u"");
    return true;
  }
  return false;
}

class Parser {
 public:
  explicit Parser(std::u16string_view text) : lexer_(text) {}

  bool Script(std::vector<ScriptRoot>& roots) {
    for (;;) {
      Token token;
      if (!lexer_.Take(token)) return false;
      if (token.end) return true;
      auto root = RootFromName(token);
      if (!root) return false;
      if (!lexer_.Take(token) || !token.Is(u"{")) return false;
      ScriptRoot parsed;
      parsed.root = *root;
      if (!Body(parsed.children, 1)) return false;
      roots.push_back(std::move(parsed));
    }
  }

 private:
  // Entries up to and including the closing brace.
  bool Body(std::vector<ScriptNode>& entries, int depth) {
    if (depth > kMaxNesting) return false;
    for (;;) {
      Token token;
      if (!lexer_.Take(token) || token.end) return false;
      if (token.Is(u"}")) return true;
      ScriptNode node;
      if (!Entry(std::move(token), node, depth)) return false;
      entries.push_back(std::move(node));
    }
  }

  bool Entry(Token token, ScriptNode& node, int depth) {
    if (token.Is(u"val")) {
      node.isValue = true;
      if (!Name(node)) return false;
      if (!lexer_.Take(token) || !token.Is(u"=")) return false;
      node.hasValue = true;
      return Value(node.value);
    }
    if (token.Is(u"NoRemove")) node.flag = KeyFlag::NoRemove;
    if (token.Is(u"ForceRemove")) node.flag = KeyFlag::ForceRemove;
    if (token.Is(u"Delete")) node.flag = KeyFlag::Delete;
    if (node.flag == KeyFlag::None) {
      if (!NameFrom(token, node)) return false;
    } else if (!Name(node)) {
      return false;
    }
    const Token* next = nullptr;
    if (!lexer_.Peek(next)) return false;
    if (next->Is(u"=")) {
      lexer_.Take(token);
      node.hasValue = true;
      if (!Value(node.value)) return false;
      if (!lexer_.Peek(next)) return false;
    }
    if (next->Is(u"{")) {
      lexer_.Take(token);
      return Body(node.children, depth + 1);
    }
    return true;
  }

  bool Name(ScriptNode& node) {
    Token token;
    return lexer_.Take(token) && NameFrom(token, node);
  }

  static bool NameFrom(const Token& token, ScriptNode& node) {
    if (token.end || token.IsPunctuation() || token.Is(u"val")) return false;
    if (token.text.empty() && !node.isValue) return false;  // only a value may be the default ('')
    node.name = token.text;
    return true;
  }

  bool Value(ScriptValue& value) {
    Token type;
    Token text;
    if (!lexer_.Take(type) || type.end || type.quoted) return false;
    if (!lexer_.Take(text) || !text.quoted) return false;
    return MakeValue(type, text.text, value);
  }

  Lexer lexer_;
};

}  // namespace

HRESULT ExpandReplacements(std::u16string_view script, const Replacements& replacements, std::u16string& expanded) {
  expanded.clear();
  expanded.reserve(script.size());
  std::size_t at = 0;
  while (at < script.size()) {
    const std::size_t open = script.find(u'%', at);
    if (open == std::u16string_view::npos) break;
    expanded.append(script.substr(at, open - at));
    const std::size_t close = script.find(u'%', open + 1);
    if (close == std::u16string_view::npos) return DISP_E_EXCEPTION;
    const std::u16string_view name = script.substr(open + 1, close - open - 1);
    if (name.empty()) {
      expanded.push_back(u'%');
    } else {
      const std::u16string folded = FoldName(name);
      const std::u16string* value = nullptr;
      for (const auto& [key, item] : replacements)
        if (FoldName(key) == folded) value = &item;  // the latest addition wins
      if (value == nullptr) return DISP_E_EXCEPTION;
      expanded.append(*value);
    }
    at = close + 1;
  }
  expanded.append(script.substr(at));
  return S_OK;
}

HRESULT ParseScript(std::u16string_view text, std::vector<ScriptRoot>& roots) {
  roots.clear();
  Parser parser(text);
  if (parser.Script(roots)) return S_OK;
  roots.clear();
  return DISP_E_EXCEPTION;
}

}  // namespace qb::platform::registrar
