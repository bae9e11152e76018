#include "lexer.h"

#include "diagnostics.h"

#include <cctype>

namespace qbidl {
namespace {

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

}  // namespace

std::vector<Token> Tokenize(std::string_view source) {
  std::vector<Token> tokens;
  int line = 1;
  bool lineStart = true;
  std::size_t i = 0;
  while (i < source.size()) {
    const char c = source[i];
    if (c == '\n') {
      ++line;
      lineStart = true;
      ++i;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (c == '#' && lineStart) {  // preprocessor line: ignored, as MIDL's cpp pass would consume it
      while (i < source.size() && source[i] != '\n') ++i;
      continue;
    }
    lineStart = false;
    if (c == '/' && i + 1 < source.size() && source[i + 1] == '/') {
      while (i < source.size() && source[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < source.size() && source[i + 1] == '*') {
      const int startLine = line;
      i += 2;
      while (i + 1 < source.size() && !(source[i] == '*' && source[i + 1] == '/')) {
        if (source[i] == '\n') ++line;
        ++i;
      }
      if (i + 1 >= source.size()) throw IdlError(startLine, "comment is not closed");
      i += 2;
      continue;
    }
    if (IsNameStart(c)) {
      const std::size_t start = i;
      while (i < source.size() && IsNameChar(source[i])) ++i;
      tokens.push_back({TokenKind::Name, std::string(source.substr(start, i - start)), line});
      // A uuid's digits and hyphens are no ordinary tokens: its argument is taken as raw text.
      if (tokens.back().text == "uuid") {
        std::size_t j = i;
        while (j < source.size() && (source[j] == ' ' || source[j] == '\t')) ++j;
        if (j < source.size() && source[j] == '(') {
          const std::size_t close = source.find_first_of(")\n", j + 1);
          if (close == std::string_view::npos || source[close] != ')')
            throw IdlError(line, "uuid( is not closed on its line");
          std::string raw(source.substr(j + 1, close - j - 1));
          while (!raw.empty() && std::isspace(static_cast<unsigned char>(raw.back()))) raw.pop_back();
          while (!raw.empty() && std::isspace(static_cast<unsigned char>(raw.front()))) raw.erase(0, 1);
          tokens.push_back({TokenKind::Punct, "(", line});
          tokens.push_back({TokenKind::String, raw, line});
          tokens.push_back({TokenKind::Punct, ")", line});
          i = close + 1;
        }
      }
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      const std::size_t start = i;
      while (i < source.size() && (std::isalnum(static_cast<unsigned char>(source[i])) || source[i] == '.')) ++i;
      tokens.push_back({TokenKind::Number, std::string(source.substr(start, i - start)), line});
      continue;
    }
    if (c == '"') {
      const int startLine = line;
      std::string text;
      ++i;
      while (true) {
        if (i >= source.size() || source[i] == '\n') throw IdlError(startLine, "string is not closed");
        if (source[i] == '"') break;
        if (source[i] == '\\') {
          if (i + 1 >= source.size()) throw IdlError(startLine, "string is not closed");
          const char e = source[i + 1];
          switch (e) {
            case 'n': text += '\n'; break;
            case 't': text += '\t'; break;
            case '\\': text += '\\'; break;
            case '"': text += '"'; break;
            default: throw IdlError(line, std::string("unknown escape \\") + e + " in string");
          }
          i += 2;
          continue;
        }
        text += source[i++];
      }
      ++i;
      tokens.push_back({TokenKind::String, text, startLine});
      continue;
    }
    static constexpr std::string_view punctuation = "[](){};:,*=<>";
    if (punctuation.find(c) != std::string_view::npos) {
      tokens.push_back({TokenKind::Punct, std::string(1, c), line});
      ++i;
      continue;
    }
    throw IdlError(line, std::string("unexpected character '") + c + "'");
  }
  tokens.push_back({TokenKind::End, "", line});
  return tokens;
}

}  // namespace qbidl
