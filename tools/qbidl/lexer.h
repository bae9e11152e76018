// Splits IDL text into tokens: names, numbers, strings, punctuation. Comments and preprocessor
// lines (#...) are skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qbidl {

enum class TokenKind { Name, Number, String, Punct, End };

struct Token {
  TokenKind kind;
  std::string text;  // a string's text without its quotes, escapes resolved
  int line;
};

std::vector<Token> Tokenize(std::string_view source);

}  // namespace qbidl
