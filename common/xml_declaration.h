// Reading the encoding an XML declaration names. Plain string work shared by the component and
// the command-line host, which otherwise share no code.
#pragma once

#include <string>
#include <string_view>

namespace quillbox {

// UTF-8's byte-order mark, which may stand before a document's first character.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The encoding named by the XML declaration at the start of `text` ("" when there is none). Only
// the declaration's shape is read; whether the document is well formed is the parser's business.
inline std::string DeclaredXmlEncoding(std::string_view text) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  if (!text.starts_with("<?xml") || text.size() < 6 || !isSpace(text[5])) return "";
  const auto end = text.find("?>");
  if (end == std::string_view::npos) return "";
  const std::string_view declaration = text.substr(5, end - 5);
  const auto at = declaration.find("encoding");
  if (at == std::string_view::npos) return "";
  std::size_t i = at + 8;
  while (i < declaration.size() && isSpace(declaration[i])) ++i;
  if (i >= declaration.size() || declaration[i] != '=') return "";
  ++i;
  while (i < declaration.size() && isSpace(declaration[i])) ++i;
  if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) return "";
  const char quote = declaration[i++];
  const auto close = declaration.find(quote, i);
  if (close == std::string_view::npos) return "";
  return std::string(declaration.substr(i, close - i));
}

}  // namespace quillbox
