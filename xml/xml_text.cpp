#include "xml/xml_text.h"

#include "common/libxml_owners.h"
#include "common/xml_declaration.h"
#include "common/xml_encoding_handler.h"
#include "xml/xml_bounds.h"

#include <libxml/encoding.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace quillbox {
namespace {

thread_local int refusedLoads = 0;

xmlParserInputPtr RefuseLoad(const char* /*url*/, const char* /*id*/, xmlParserCtxtPtr /*context*/) {
  ++refusedLoads;
  return nullptr;
}

// libxml2 looks a converter up in its own table, then in iconv, then in ICU. ICU matches names
// loosely ("windows1250") and its converter, as libxml2 drives it, drops a character the encoding
// lacks, or breaks the markup after it, where the others write a character reference: a document
// is written back whole only through the first two.
bool WritesWhole(const UniqueHandler& handler) {
  if (!handler) return false;
#ifdef LIBXML_ICU_ENABLED
  if (handler->uconv_out != nullptr) return false;
#endif
  return true;
}

struct ParserContextFree {
  void operator()(xmlParserCtxtPtr ctxt) const { xmlFreeParserCtxt(ctxt); }
};

// libxml2's converters work on its buffers, whose sizes are ints inside; the bytes go through in
// pieces of this size so that no buffer comes near that, whatever the length of the text.
constexpr std::size_t kDecodePiece = std::size_t{1} << 20;
// More than any encoding's one character (escape sequences of stateful encodings included) takes.
constexpr int kLongestSequence = 64;

// Appends the UTF-8 form of `bytes` (in the handler's encoding) to `out`. False unless every byte
// decodes: a converter that stops early (no room, a byte it cannot read, a sequence cut off at the
// end) must not pass for the whole text. The caller catches running out of memory.
bool DecodeToUtf8(xmlCharEncodingHandlerPtr handler, std::string_view bytes, std::string& out) {
  UniqueBuffer in{xmlBufferCreateSize(kDecodePiece + 16)};
  UniqueBuffer decoded{xmlBufferCreateSize(kDecodePiece * 3 + 16)};
  if (!in || !decoded) return false;
  out.reserve(bytes.size());
  while (!bytes.empty() || xmlBufferLength(in.get()) > 0) {
    const std::size_t piece = std::min(bytes.size(), kDecodePiece);
    if (piece > 0 && xmlBufferAdd(in.get(), reinterpret_cast<const xmlChar*>(bytes.data()), static_cast<int>(piece)) != 0)
      return false;
    bytes.remove_prefix(piece);
    const int before = xmlBufferLength(in.get());
    if (xmlCharEncInFunc(handler, decoded.get(), in.get()) < 0) return false;
    out.append(reinterpret_cast<const char*>(xmlBufferContent(decoded.get())),
               static_cast<std::size_t>(xmlBufferLength(decoded.get())));
    xmlBufferEmpty(decoded.get());
    // Bytes the converter leaves are the start of a sequence that the next piece completes. With
    // no piece left, or more left than any sequence is long, they are bytes it cannot decode.
    const bool progressed = xmlBufferLength(in.get()) < before;
    if (!progressed && (bytes.empty() || before > kLongestSequence)) return false;
  }
  return true;
}

// The whole document as libxml2 writes it through `handler`, its declaration naming the encoding
// the document names. xmlSaveFileTo writes exactly what xmlSaveToIO with XML_SAVE_AS_XML writes
// (an HTML result document too comes out as XML, as xmlDocDumpFormatMemory writes it), but
// through an output buffer of the caller's, so the converter need not be the one libxml2 would
// look up for the declared name. With no handler the text is UTF-8 when the document names an
// encoding, and ASCII with character references when it names none.
std::optional<std::string> WriteXml(xmlDocPtr doc, UniqueHandler handler, std::size_t expectedBytes) {
  BoundedText text;
  text.bytes.reserve(std::min(expectedBytes, kLongestSerializedXml));
  xmlOutputBufferPtr buffer = xmlOutputBufferCreateIO(BoundedText::Write, nullptr, &text, handler.get());
  if (buffer == nullptr) return std::nullopt;
  static_cast<void>(handler.release());  // the buffer closes it
  const int written = xmlSaveFileTo(buffer, doc, reinterpret_cast<const char*>(doc->encoding));  // closes the buffer
  if (written < 0 || text.failed) return std::nullopt;
  return std::move(text.bytes);
}

// A namespace name or attribute default the serialiser would write as a document no parser accepts.
bool WritesUnescaped(const xmlChar* text) {
  return text != nullptr && std::strpbrk(reinterpret_cast<const char*>(text), "&<") != nullptr;
}

// Watches the parse on this thread for the markup that SerialisesWellFormed looks for in a tree:
// a namespace name or an attribute declaration's default holding "&" or "<". The parser reads an
// internal entity's markup through the same handlers, so what an entity brings is seen too. Stops
// the parser at the first one.
class UnwritableMarkupWatch {
 public:
  explicit UnwritableMarkupWatch(xmlParserCtxtPtr ctxt)
      : ctxt_(ctxt), startElement_(ctxt->sax->startElementNs), attributeDecl_(ctxt->sax->attributeDecl),
        outer_(current) {
    ctxt->sax->startElementNs = StartElement;
    ctxt->sax->attributeDecl = AttributeDecl;
    current = this;
  }
  ~UnwritableMarkupWatch() {
    ctxt_->sax->startElementNs = startElement_;
    ctxt_->sax->attributeDecl = attributeDecl_;
    current = outer_;
  }
  UnwritableMarkupWatch(const UnwritableMarkupWatch&) = delete;
  UnwritableMarkupWatch& operator=(const UnwritableMarkupWatch&) = delete;

  bool Found() const { return found_; }

 private:
  static void StartElement(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                           int namespaceCount, const xmlChar** namespaces, int attributeCount, int defaulted,
                           const xmlChar** attributes) {
    UnwritableMarkupWatch* self = current;
    for (int i = 0; i < namespaceCount; ++i) {
      if (WritesUnescaped(namespaces[2 * i + 1])) self->Stop();
    }
    if (self->startElement_ != nullptr)
      self->startElement_(context, localname, prefix, uri, namespaceCount, namespaces, attributeCount, defaulted,
                          attributes);
  }

  static void AttributeDecl(void* context, const xmlChar* element, const xmlChar* name, int type, int def,
                            const xmlChar* defaultValue, xmlEnumerationPtr values) {
    UnwritableMarkupWatch* self = current;
    if (WritesUnescaped(defaultValue)) self->Stop();
    if (self->attributeDecl_ != nullptr) {
      self->attributeDecl_(context, element, name, type, def, defaultValue, values);
    } else {
      xmlFreeEnumeration(values);  // the handler owns the list
    }
  }

  void Stop() {
    if (found_) return;
    found_ = true;
    xmlStopParser(ctxt_);
  }

  // The watch of the parse running on this thread: the handlers get only the parser's user data.
  static thread_local UnwritableMarkupWatch* current;

  xmlParserCtxtPtr ctxt_;
  startElementNsSAX2Func startElement_;
  attributeDeclSAXFunc attributeDecl_;
  UnwritableMarkupWatch* outer_;
  bool found_ = false;
};

thread_local UnwritableMarkupWatch* UnwritableMarkupWatch::current = nullptr;

// Parses `text` where it lies. xmlCtxtReadMemory would first copy it whole into a buffer of its
// own, as much memory again as the text, held while the tree grows. An input without a buffer is
// what libxml2 makes of an internal entity's value: read in place, never grown, shrunk or freed
// by the parser, ending at the text's terminating zero. Everything else is as xmlCtxtReadMemory
// does it.
xmlDocPtr ReadInPlace(xmlParserCtxtPtr ctxt, const Utf8Text& text, const char* url, int options) {
  xmlCtxtReset(ctxt);
  xmlParserInputPtr input = xmlNewInputStream(ctxt);
  if (input == nullptr) return nullptr;
  input->filename = reinterpret_cast<const char*>(xmlCharStrdup(url));
  input->base = reinterpret_cast<const xmlChar*>(text.data());
  input->cur = input->base;
  input->length = text.length - 1;
  input->end = input->base + input->length;
  if (input->filename == nullptr) {
    xmlFreeInputStream(input);
    return nullptr;
  }
  if (inputPush(ctxt, input) < 0) return nullptr;  // it frees an input it cannot take
  xmlCtxtUseOptions(ctxt, options);
  xmlParseDocument(ctxt);
  xmlDocPtr doc = ctxt->myDoc;
  ctxt->myDoc = nullptr;
  if (doc != nullptr && !ctxt->wellFormed && !ctxt->recovery) {
    xmlFreeDoc(doc);
    return nullptr;
  }
  return doc;
}

}  // namespace

int BoundedText::Write(void* context, const char* buffer, int length) noexcept {
  auto* text = static_cast<BoundedText*>(context);
  if (length < 0 || static_cast<std::size_t>(length) > kLongestSerializedXml - text->bytes.size()) {
    text->failed = true;
    return -1;
  }
  try {
    text->bytes.append(buffer, static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    text->failed = true;
    return -1;
  }
  return length;
}

ExternalLoadBlocker::ExternalLoadBlocker()
    : previous_(xmlGetExternalEntityLoader()), refusedAtStart_(refusedLoads) {
  xmlSetExternalEntityLoader(RefuseLoad);
}

ExternalLoadBlocker::~ExternalLoadBlocker() { xmlSetExternalEntityLoader(previous_); }

int ExternalLoadBlocker::Refused() const { return refusedLoads - refusedAtStart_; }

UniqueXmlDoc ParseUntrustedXml(const Utf8Text& text, int moreOptions, ParseFor purpose) {
  if (!text) return nullptr;
  ExternalLoadBlocker blocker;
  // Parser options override libxml2's process-wide defaults, so entity substitution is asked for
  // here: references to the internal subset's entities resolve, as callers rely on. The external
  // subset is asked for too, as the process-wide default would have it, so that the blocker sees
  // (and refuses) it: a document whose DTD lives elsewhere fails instead of parsing silently
  // without the defaults and entities its author meant it to have.
  //
  // The text is UTF-8 whatever its declaration names, and libxml2 is told to read it as it is
  // (XML_PARSE_IGNORE_ENC) rather than handed a UTF-8 converter: with a converter in the way it
  // holds the text twice and refuses ordinary documents of more than 10 MB whose text comes in
  // runs of a thousand characters or more ("Huge input lookup").
  constexpr int kOptions = XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_NONET | XML_PARSE_NOERROR |
                           XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;
  if (!XmlShapeWithinBounds(text.view())) return nullptr;
  const std::unique_ptr<xmlParserCtxt, ParserContextFree> ctxt(xmlNewParserCtxt());
  if (!ctxt) return nullptr;
  EntityExpansionBudget budget(ctxt.get(), EntityExpansionBudget::LimitFor(text.view().size()));
  std::optional<UnwritableMarkupWatch> unwritable;
  if (purpose == ParseFor::WritingBack) unwritable.emplace(ctxt.get());
  UniqueXmlDoc doc(ReadInPlace(ctxt.get(), text, "noname.xml", kOptions | moreOptions));
  if (!doc || budget.Exceeded() || blocker.Refused() > 0 || (unwritable && unwritable->Found())) return nullptr;

  // The encoding the document is written back in: the one its declaration names, as spelled
  // there, or UTF-8 when it names none. A document that names an encoding libxml2 cannot write
  // is not one the component could give back, and does not parse.
  const std::string declared = DeclaredXmlEncoding(text.view());
  if (!declared.empty() && !IsUtf8EncodingName(declared) && !WritesWhole(FindXmlWriteHandler(declared)))
    return nullptr;
  xmlFree(const_cast<xmlChar*>(doc->encoding));
  doc->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>(declared.empty() ? "UTF-8" : declared.c_str()));
  if (doc->encoding == nullptr) return nullptr;
  return doc;
}

bool SerialisesWellFormed(xmlDocPtr doc) {
  // Iterative: a result tree can be deeper than the stack should go.
  xmlNodePtr node = doc != nullptr ? doc->children : nullptr;
  while (node != nullptr) {
    if (node->type == XML_DTD_NODE) {
      for (xmlNodePtr declaration = node->children; declaration != nullptr; declaration = declaration->next) {
        if (declaration->type != XML_ATTRIBUTE_DECL) continue;
        const xmlChar* value = reinterpret_cast<xmlAttributePtr>(declaration)->defaultValue;
        if (WritesUnescaped(value)) return false;
      }
    } else if (node->type == XML_ELEMENT_NODE) {
      for (xmlNsPtr ns = node->nsDef; ns != nullptr; ns = ns->next) {
        if (WritesUnescaped(ns->href)) return false;
      }
      if (node->children != nullptr) {
        node = node->children;
        continue;
      }
    }
    while (node != nullptr && node->next == nullptr) {
      node = node->parent;
      if (node == nullptr || node == reinterpret_cast<xmlNodePtr>(doc)) return true;
    }
    if (node != nullptr) node = node->next;
  }
  return true;
}

Utf8Text XmlTextOf(BSTR text) { return BstrToUtf8(text, kLongestParsedXml); }

std::optional<SerializedXml> SerializeXml(xmlDocPtr doc, std::size_t expectedBytes) try {
  if (doc == nullptr) return std::nullopt;
  SerializedXml xml;
  UniqueHandler handler;
  if (doc->encoding != nullptr) {
    xml.encoding = reinterpret_cast<const char*>(doc->encoding);
    handler = FindXmlWriteHandler(xml.encoding);
    if (!handler) return std::nullopt;
  }
  std::optional<std::string> bytes = WriteXml(doc, std::move(handler), expectedBytes);
  if (!bytes) return std::nullopt;
  xml.bytes = std::move(*bytes);
  return xml;
} catch (const std::bad_alloc&) {
  return std::nullopt;
}

bool WrittenInUnicode(const SerializedXml& xml) {
  return xml.encoding.empty() || UpperEncodingName(xml.encoding).starts_with("UTF");
}

std::optional<SerializedXml> SerializeXmlAsUtf8(xmlDocPtr doc) {
  if (doc == nullptr) return std::nullopt;
  const xmlChar* declared = doc->encoding;
  doc->encoding = reinterpret_cast<const xmlChar*>("UTF-8");
  std::optional<SerializedXml> xml = SerializeXml(doc);
  doc->encoding = declared;
  return xml;
}

namespace {

OleStringView AfterDeclaration(OleStringView text) {
  if (!text.starts_with(OLESTR("<?xml"))) return text;
  const std::size_t end = text.find(OLESTR("?>"));
  return end == OleStringView::npos ? text : text.substr(end + 2);
}

// The character a reference at the start of `text` ("&#233;", "&#xE9;") names, and its length;
// nothing when `text` does not start with one.
std::optional<std::pair<char32_t, std::size_t>> CharacterReference(OleStringView text) {
  if (!text.starts_with(OLESTR("&#"))) return std::nullopt;
  std::size_t at = 2;
  const bool hex = at < text.size() && (text[at] == OLESTR('x') || text[at] == OLESTR('X'));
  if (hex) ++at;
  char32_t value = 0;
  const std::size_t digits = at;
  for (; at < text.size() && text[at] != OLESTR(';'); ++at) {
    const OLECHAR c = text[at];
    int digit = -1;
    if (c >= OLESTR('0') && c <= OLESTR('9')) digit = c - OLESTR('0');
    if (hex && c >= OLESTR('a') && c <= OLESTR('f')) digit = c - OLESTR('a') + 10;
    if (hex && c >= OLESTR('A') && c <= OLESTR('F')) digit = c - OLESTR('A') + 10;
    if (digit < 0 || value > 0x10FFFF) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
  }
  if (at == digits || at >= text.size() || value > 0x10FFFF) return std::nullopt;
  return std::make_pair(value, at + 1);
}

}  // namespace

namespace {

// Where a character of the UTF-8-written document stands, as far as a character reference can
// stand for it there: in text and in attribute values a reference is the character it names;
// in a name, a CDATA section, a comment, a processing instruction or the document type
// declaration it would be literal text.
class MarkupPlace {
 public:
  bool TakesReferences() const { return place_ == Place::Text || place_ == Place::Value; }

  // Moves past `text[at]`.
  void Pass(OleStringView text, std::size_t at) {
    const OLECHAR c = text[at];
    const auto endsWith = [&](OleStringView tail) {
      return at + 1 >= tail.size() && text.substr(at + 1 - tail.size(), tail.size()) == tail;
    };
    switch (place_) {
      case Place::Text:
        if (c != OLESTR('<')) return;
        if (text.substr(at).starts_with(OLESTR("<![CDATA["))) place_ = Place::Cdata;
        else if (text.substr(at).starts_with(OLESTR("<!--"))) place_ = Place::Comment;
        else if (text.substr(at).starts_with(OLESTR("<?"))) place_ = Place::Instruction;
        else if (text.substr(at).starts_with(OLESTR("<!"))) place_ = Place::Declaration, depth_ = 0, inner_ = 0;
        else place_ = Place::Tag;
        opened_ = at;
        return;
      case Place::Tag:
        if (c == OLESTR('"') || c == OLESTR('\'')) place_ = Place::Value, quote_ = c;
        else if (c == OLESTR('>')) place_ = Place::Text;
        return;
      case Place::Value:
        if (c == quote_) place_ = Place::Tag;
        return;
      case Place::Cdata:
        if (c == OLESTR('>') && at >= opened_ + 11 && endsWith(OLESTR("]]>"))) place_ = Place::Text;
        return;
      case Place::Comment:
        if (c == OLESTR('>') && at >= opened_ + 6 && endsWith(OLESTR("-->"))) place_ = Place::Text;
        return;
      case Place::Instruction:
        if (c == OLESTR('>') && at >= opened_ + 3 && endsWith(OLESTR("?>"))) place_ = Place::Text;
        return;
      case Place::Declaration:
        // The internal subset's quoted literals, comments and processing instructions may hold
        // '[', ']' and '>' that end nothing.
        if (inner_ == OLESTR('"') || inner_ == OLESTR('\'')) {
          if (c == inner_) inner_ = 0;
        } else if (inner_ == OLESTR('-')) {
          if (c == OLESTR('>') && at >= innerOpened_ + 6 && endsWith(OLESTR("-->"))) inner_ = 0;
        } else if (inner_ == OLESTR('?')) {
          if (c == OLESTR('>') && at >= innerOpened_ + 3 && endsWith(OLESTR("?>"))) inner_ = 0;
        } else if (c == OLESTR('"') || c == OLESTR('\'')) {
          inner_ = c;
        } else if (text.substr(at).starts_with(OLESTR("<!--"))) {
          inner_ = OLESTR('-'), innerOpened_ = at;
        } else if (text.substr(at).starts_with(OLESTR("<?"))) {
          inner_ = OLESTR('?'), innerOpened_ = at;
        } else if (c == OLESTR('[')) {
          ++depth_;
        } else if (c == OLESTR(']') && depth_ > 0) {
          --depth_;
        } else if (c == OLESTR('>') && depth_ == 0) {
          place_ = Place::Text;
        }
        return;
    }
  }

 private:
  enum class Place { Text, Tag, Value, Cdata, Comment, Instruction, Declaration };
  Place place_ = Place::Text;
  OLECHAR quote_ = 0;
  std::size_t opened_ = 0;
  int depth_ = 0;
  // In the document type declaration: the quote of the literal it is in, '-' in a comment, '?' in
  // a processing instruction, 0 elsewhere; and where that comment or instruction began.
  OLECHAR inner_ = 0;
  std::size_t innerOpened_ = 0;
};

}  // namespace

bool SameDocumentText(OleStringView written, OleStringView reference) {
  written = AfterDeclaration(written);
  reference = AfterDeclaration(reference);
  MarkupPlace place;
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < written.size() && j < reference.size()) {
    if (written[i] == reference[j]) {
      place.Pass(reference, j);
      ++i, ++j;
      continue;
    }
    const auto named = place.TakesReferences() ? CharacterReference(written.substr(i)) : std::nullopt;
    if (!named) return false;
    const char32_t c = named->first;
    if (c >= 0x10000) {
      if (j + 1 >= reference.size() || reference[j] != static_cast<OLECHAR>(0xD800 + ((c - 0x10000) >> 10)) ||
          reference[j + 1] != static_cast<OLECHAR>(0xDC00 + ((c - 0x10000) & 0x3FF)))
        return false;
      j += 2;
    } else {
      if (reference[j] != static_cast<OLECHAR>(c) || c == OLESTR('<') || c == OLESTR('&') || c == OLESTR('"') || c == OLESTR('\'')) return false;
      ++j;
    }
    i += named->second;
  }
  return i == written.size() && j == reference.size();
}

BSTR SerializedXmlToBstr(const SerializedXml& xml) {
  if (xml.bytes.size() > kLongestSerializedXml) return nullptr;
  return SerializedXmlToBstr(reinterpret_cast<const xmlChar*>(xml.bytes.data()), static_cast<int>(xml.bytes.size()),
                             xml.encoding.empty() ? nullptr : reinterpret_cast<const xmlChar*>(xml.encoding.c_str()));
}

BSTR SerializedXmlToBstr(const xmlChar* bytes, int size, const xmlChar* encoding) try {
  if (size <= 0 || bytes == nullptr) return SysAllocStringLen(OLESTR(""), 0);
  const std::string name = encoding != nullptr ? reinterpret_cast<const char*>(encoding) : "";
  if (name.empty() || IsUtf8EncodingName(name))
    return Utf8ToBstr(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));

  // Read through the converter that wrote them (Shift_JIS as code page 932).
  UniqueHandler handler = FindXmlReadHandler(name);
  if (!handler) return nullptr;
  std::string decoded;
  if (!DecodeToUtf8(handler.get(), std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size)),
                    decoded))
    return nullptr;
  std::string_view text(decoded);
  // The serialiser starts UTF-16 output with a byte-order mark; it describes the bytes, which
  // the string no longer has, so it is not part of the text.
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  return Utf8ToBstr(text.data(), text.size());
} catch (const std::bad_alloc&) {
  return nullptr;
}

}  // namespace quillbox
