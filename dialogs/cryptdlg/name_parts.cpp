#include "name_parts.h"

#include <strings.h>

namespace qb::cryptdlg {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool SameKey(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> NameAttributes(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> attributes;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto equals = text.find('=', at);
    if (equals == std::string_view::npos) break;
    const std::string key(Trim(text.substr(at, equals - at)));
    std::size_t i = equals + 1;
    while (i < text.size() && text[i] == ' ') ++i;
    std::string value;
    if (i < text.size() && text[i] == '"') {
      // Quoted: runs to the quote that is not doubled.
      for (++i; i < text.size(); ++i) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            value += '"';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        value += text[i];
      }
      const auto separator = text.find_first_of(",+;\r\n", i);
      at = separator == std::string_view::npos ? text.size() : separator + 1;
    } else {
      // Unquoted values hold no separator: the writer quotes any that would.
      const auto separator = text.find_first_of(",+;\r\n", i);
      const std::size_t end = separator == std::string_view::npos ? text.size() : separator;
      value = std::string(Trim(text.substr(i, end - i)));
      at = separator == std::string_view::npos ? text.size() : separator + 1;
    }
    attributes.emplace_back(key, std::move(value));
  }
  return attributes;
}

std::string FirstAttribute(std::string_view text, std::initializer_list<std::string_view> keys) {
  const auto attributes = NameAttributes(text);
  for (std::string_view key : keys)
    for (const auto& [k, v] : attributes)
      if (SameKey(k, key) && !v.empty()) return v;
  return {};
}

}  // namespace qb::cryptdlg
