// Texts for hostile-input tests: stylesheets, and a parsed view of a signed document.
#pragma once

#include "support/utf_text.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <optional>
#include <string>

namespace quillbox::test {

// The longest run of text that libxml2 parses whatever characters it holds, in UTF-8 bytes (it
// takes longer runs of ASCII; without XML_PARSE_HUGE it refuses longer ones with anything else).
inline constexpr std::size_t kLongestTextRun = 10'000'000;

// A stylesheet around `body`, and one that copies the whole document.
std::u16string Stylesheet(const std::u16string& body);
extern const std::u16string kCopyDocument;

struct ParsedDocDeleter {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using ParsedDoc = std::unique_ptr<xmlDoc, ParsedDocDeleter>;

// The text as a tree, read as UTF-8 whatever it declares, with no limit on the size of a text
// run; null when it is not well-formed.
ParsedDoc ParseUtf8(const std::string& utf8);

// The text content of the first element named `name` (any namespace) in document order, or
// nullopt when there is none.
std::optional<std::string> ElementText(xmlDocPtr doc, const char* name);

}  // namespace quillbox::test
