#include "xml/xml_bounds.h"

#include <libxml/SAX2.h>
#include <libxml/entities.h>

#include <vector>

namespace quillbox {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool StartsWith(std::string_view text, std::size_t at, std::string_view prefix) {
  return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

// Where `end` ends when it follows `from`, or the end of the text when it never does.
std::size_t After(std::string_view text, std::size_t from, std::string_view end) {
  const std::size_t found = text.find(end, from);
  return found == std::string_view::npos ? text.size() : found + end.size();
}

class ShapeScan {
 public:
  explicit ShapeScan(const XmlShapeBounds& bounds) : bounds_(bounds) {}

  bool Document(std::string_view text) {
    for (std::size_t i = 0; (i = text.find('<', i)) != std::string_view::npos;) {
      ++i;
      // Almost every "<" opens a start or end tag: the character after it tells, without a
      // comparison of strings at each.
      const char next = i < text.size() ? text[i] : '\0';
      if (next == '!' && StartsWith(text, i, "!--")) {
        i = After(text, i + 3, "-->");
      } else if (next == '!' && StartsWith(text, i, "![CDATA[")) {
        i = After(text, i + 8, "]]>");
      } else if (next == '!') {
        if (!Declaration(text, i)) return false;
      } else if (next == '?') {
        i = After(text, i + 1, "?>");
      } else if (next == '/') {
        if (!frames_.empty()) {
          inScope_ -= frames_.back();
          frames_.pop_back();
        }
        i = After(text, i, ">");
      } else if (!StartTag(text, i, true)) {
        return false;
      }
    }
    return true;
  }

 private:
  // A document type declaration. Its literals are read as markup too: an internal entity's value
  // is parsed as content wherever the entity is referenced.
  bool Declaration(std::string_view text, std::size_t& i) {
    int brackets = 0;
    while (i < text.size()) {
      const char c = text[i];
      if (c == '"' || c == '\'') {
        const std::size_t end = text.find(c, i + 1);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        if (!EntityValue(text.substr(i + 1, stop - i - 1))) return false;
        i = stop + 1;
      } else if (brackets > 0 && StartsWith(text, i, "<!--")) {
        i = After(text, i + 4, "-->");
      } else if (brackets > 0 && StartsWith(text, i, "<?")) {
        i = After(text, i + 2, "?>");
      } else {
        ++i;
        if (c == '[') ++brackets;
        if (c == ']' && brackets > 0) --brackets;
        if (c == '>' && brackets == 0) return true;
      }
    }
    return true;
  }

  bool EntityValue(std::string_view value) {
    for (std::size_t i = 0; (i = value.find('<', i)) != std::string_view::npos;) {
      ++i;
      if (i < value.size() && value[i] != '!' && value[i] != '?' && value[i] != '/' && !StartTag(value, i, false))
        return false;
    }
    return true;
  }

  // Reads a start tag from just after its "<". `track` follows the elements' nesting, which only
  // the document's own content has.
  bool StartTag(std::string_view text, std::size_t& i, bool track) {
    while (i < text.size() && !IsSpace(text[i]) && text[i] != '>' && text[i] != '/') ++i;
    std::size_t attributes = 0;
    std::size_t namespaces = 0;
    bool empty = false;
    while (i < text.size()) {
      while (i < text.size() && IsSpace(text[i])) ++i;
      if (i >= text.size()) break;
      if (text[i] == '>') {
        ++i;
        break;
      }
      if (text[i] == '/') {
        ++i;
        empty = true;
        if (i < text.size() && text[i] == '>') ++i;
        break;
      }
      const std::size_t nameStart = i;
      while (i < text.size() && !IsSpace(text[i]) && text[i] != '=' && text[i] != '>' && text[i] != '/') ++i;
      const std::string_view name = text.substr(nameStart, i - nameStart);
      while (i < text.size() && IsSpace(text[i])) ++i;
      if (i >= text.size() || text[i] != '=') {
        if (name.empty()) ++i;  // not a tag the parser will accept; step on
        continue;
      }
      ++i;
      while (i < text.size() && IsSpace(text[i])) ++i;
      if (i >= text.size() || (text[i] != '"' && text[i] != '\'')) continue;
      const std::size_t end = text.find(text[i], i + 1);
      i = end == std::string_view::npos ? text.size() : end + 1;
      ++attributes;
      if (name == "xmlns" || name.starts_with("xmlns:")) ++namespaces;
    }
    return Account(attributes, namespaces, empty, track);
  }

  bool Account(std::size_t attributes, std::size_t namespaces, bool empty, bool track) {
    if (attributes > bounds_.attributesPerElement) return false;
    AddWork(attributes);
    if (track) {
      const std::size_t inScope = inScope_ + namespaces;
      if (inScope > bounds_.namespacesInScope) return false;
      AddWork(inScope);
      if (!empty) {
        frames_.push_back(namespaces);
        inScope_ = inScope;
      }
    }
    return work_ <= bounds_.quadraticWork;
  }

  void AddWork(std::size_t count) {
    if (count <= XmlShapeBounds::kFreePerElement) return;
    const std::uint64_t excess = count - XmlShapeBounds::kFreePerElement;
    work_ += excess * excess;  // at most 10,000 squared a time: no overflow before the check
  }

  const XmlShapeBounds& bounds_;
  std::vector<std::size_t> frames_;  // namespace declarations of each open element
  std::size_t inScope_ = 0;
  std::uint64_t work_ = 0;
};

// The budget of the parse running on this thread; entity lookups reach it through here since
// libxml2 hands the SAX callback only the parser's user data.
thread_local EntityExpansionBudget* currentBudget = nullptr;

}  // namespace

bool XmlShapeWithinBounds(std::string_view utf8, const XmlShapeBounds& bounds) {
  return ShapeScan(bounds).Document(utf8);
}

EntityExpansionBudget::EntityExpansionBudget(xmlParserCtxtPtr ctxt, std::uint64_t limit)
    : ctxt_(ctxt), original_(ctxt->sax->getEntity), outer_(currentBudget), limit_(limit) {
  ctxt->sax->getEntity = GetEntity;
  currentBudget = this;
}

EntityExpansionBudget::~EntityExpansionBudget() {
  ctxt_->sax->getEntity = original_;
  currentBudget = outer_;
}

std::uint64_t EntityExpansionBudget::LimitFor(std::size_t inputBytes) {
  return (std::uint64_t{10} << 20) + inputBytes;
}

xmlEntityPtr EntityExpansionBudget::GetEntity(void* context, const xmlChar* name) {
  EntityExpansionBudget* self = currentBudget;
  if (self == nullptr) return xmlSAX2GetEntity(context, name);
  xmlEntityPtr entity = self->original_ != nullptr ? self->original_(context, name) : xmlSAX2GetEntity(context, name);
  // Every reference, in content, in an attribute value or inside another entity's value, is
  // looked up here before it is expanded; counting each lookup's full length over-counts nested
  // entities a little, never under-counts.
  if (entity != nullptr && entity->etype == XML_INTERNAL_GENERAL_ENTITY && entity->length > 0 && !self->exceeded_) {
    self->expanded_ += static_cast<std::uint64_t>(entity->length);
    if (self->expanded_ > self->limit_) {
      self->exceeded_ = true;
      xmlStopParser(self->ctxt_);
    }
  }
  return entity;
}

}  // namespace quillbox
