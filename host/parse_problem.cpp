#include "host/parse_problem.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <memory>
#include <optional>

namespace quillbox::host {
namespace {

struct DocFreer {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};

// The first error libxml2 raises while it is installed, a fatal one (what ends the parse) before
// any other (a namespace error leaves the document standing); the process's handler is put back
// after.
class FirstXmlError {
 public:
  struct Found {
    int line = 0;
    int column = 0;
    std::string message = {};
  };

  FirstXmlError() : previous_(xmlStructuredError), previousContext_(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(this, Record);
  }
  ~FirstXmlError() { xmlSetStructuredErrorFunc(previousContext_, previous_); }
  FirstXmlError(const FirstXmlError&) = delete;
  FirstXmlError& operator=(const FirstXmlError&) = delete;

  const std::optional<Found>& First() const { return fatal_ ? fatal_ : other_; }

 private:
  static void Record(void* context, xmlErrorPtr error) {
    auto* self = static_cast<FirstXmlError*>(context);
    if (error == nullptr || error->level < XML_ERR_ERROR) return;
    std::optional<Found>& slot = error->level == XML_ERR_FATAL ? self->fatal_ : self->other_;
    if (slot) return;
    slot = Found{error->line, error->int2, error->message != nullptr ? error->message : ""};
    while (!slot->message.empty() && (slot->message.back() == '\n' || slot->message.back() == ' ')) {
      slot->message.pop_back();
    }
  }

  xmlStructuredErrorFunc previous_;
  void* previousContext_;
  std::optional<Found> fatal_;
  std::optional<Found> other_;
};

// Nothing is loaded from outside: an external DTD or entity is what the component refuses, and
// this second look must not read files the first one did not.
xmlParserInputPtr RefuseExternal(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

class ExternalLoadsRefused {
 public:
  ExternalLoadsRefused() : previous_(xmlGetExternalEntityLoader()) { xmlSetExternalEntityLoader(RefuseExternal); }
  ~ExternalLoadsRefused() { xmlSetExternalEntityLoader(previous_); }
  ExternalLoadsRefused(const ExternalLoadsRefused&) = delete;
  ExternalLoadsRefused& operator=(const ExternalLoadsRefused&) = delete;

 private:
  xmlExternalEntityLoader previous_;
};

}  // namespace

std::string ParseProblem(std::string_view utf8, std::string_view name) {
  // The component reads the text up to its first NUL character, as UTF-8 whatever it declares.
  utf8 = utf8.substr(0, utf8.find('\0'));
  const std::string shown = name.empty() || name == "-" ? std::string("standard input") : std::string(name);
  // The component's own limit on what it parses: libxml2's tree takes many times the text.
  constexpr std::size_t kLongestParsed = std::size_t{256} << 20;
  if (utf8.empty()) return shown + " is empty";
  if (utf8.size() > kLongestParsed) return shown + " is longer than the 256 MB the component parses";
  constexpr int kOptions = XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_NONET | XML_PARSE_IGNORE_ENC;
  FirstXmlError error;
  {
    ExternalLoadsRefused refused;
    const std::unique_ptr<xmlDoc, DocFreer> doc(
        xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr, kOptions));
    if (doc && !error.First()) {
      return shown + " is well-formed, but it needs an external DTD or entity, which is never loaded, or names "
                     "an encoding the result cannot be written in";
    }
  }
  const auto& first = error.First();
  if (!first) return shown + ": the parser gave no reason";
  return shown + ", line " + std::to_string(first->line) + ", column " + std::to_string(first->column) + ": " +
         first->message;
}

}  // namespace quillbox::host
