// XML text in and out of the component: parsing what a page's script handed over, and reading a
// serialised document back into a BSTR, with the characters intact in either direction.
#pragma once

#include "common/bstr.h"
#include "common/ole_string.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillbox {

struct XmlDocDeleter {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using UniqueXmlDoc = std::unique_ptr<xmlDoc, XmlDocDeleter>;

struct XmlCharDeleter {
  void operator()(xmlChar* text) const { xmlFree(text); }
};
using UniqueXmlChars = std::unique_ptr<xmlChar, XmlCharDeleter>;

// The longest text, in UTF-8 bytes, that the component parses: XmlDoc and Transform's stylesheet.
// A page can hand over far more than a process can parse (libxml2's tree takes ten to forty times
// the text), so a longer text fails as a parse error before anything is allocated for it. Forms
// are far smaller: the largest document the benchmarks sign is 50 MB.
inline constexpr std::size_t kLongestParsedXml = std::size_t{256} << 20;

// The longest serialised document the component hands back (Sign's signed document, Transform's
// result), in the bytes of its encoding. Beyond it the call fails instead of holding gigabytes,
// and every length on the way back into a BSTR stays an int.
inline constexpr std::size_t kLongestSerializedXml = (std::size_t{1} << 30) - 1;

// XmlDoc or a stylesheet as the parser takes it: null for a null text, an unpaired surrogate, or
// more than kLongestParsedXml bytes.
Utf8Text XmlTextOf(BSTR text);

// Parses text that came from a BSTR (so it is UTF-8, whatever encoding its XML declaration names)
// under the name "noname.xml", with the parser's process-wide defaults as the caller set them.
//
// The text comes from a web page, so nothing is loaded from disk or network: a document that
// declares an external DTD subset or uses an external entity fails to parse. Entities of the
// document's own internal subset still expand, within libxml2's amplification checks and the
// component's own budget, which counts attribute values too; and the text's shape is bounded
// (attributes per element, namespace declarations in scope) so that parsing and canonicalising it
// stay near linear (xml/xml_bounds.h). A text beyond a bound does not parse.
//
// An encoding named in the declaration other than UTF-8 is kept on the document (when libxml2 can
// write it), so that serialisation writes the declaration and the bytes the caller asked for.
// `moreOptions` are libxml2 parser options added to the component's own (Transform parses as
// xsltproc does, with XML_PARSE_DTDATTR and XML_PARSE_NOCDATA).
//
// A document parsed to be written back (ParseFor::WritingBack) is also refused when the
// serialiser would not write it as one that parses again (SerialisesWellFormed): found while the
// parser reads the markup, rather than by a walk over the whole tree afterwards.
enum class ParseFor { Reading, WritingBack };
UniqueXmlDoc ParseUntrustedXml(const Utf8Text& text, int moreOptions = 0, ParseFor purpose = ParseFor::Reading);

// Whether libxml2's serialiser writes the document so that it parses again. It writes namespace
// names, and the default values of the internal subset's attribute declarations, as they are held,
// unescaped: a name or value holding "&" or "<" (which a document can write as "&amp;" or "&lt;")
// would come out as a document no parser accepts.
bool SerialisesWellFormed(xmlDocPtr doc);

// A whole document as the component writes it: what xmlDocDumpFormatMemory writes with formatting
// off (an XML declaration, no indentation, in the encoding the document names, escaped for ASCII
// when it names none), collected by the component itself so that it can stop at
// kLongestSerializedXml instead of growing without bound or past what an int counts.
struct SerializedXml {
  std::string bytes;
  std::string encoding;  // the document's encoding when it was written; empty for none
};

// Collects what a libxml2 writer (xmlSaveToIO, xmlOutputBufferCreateIO) hands over, up to
// kLongestSerializedXml bytes; past that, or when memory runs out, the write fails, which stops
// the writer. (Nothing may be thrown through libxml2's frames.)
struct BoundedText {
  std::string bytes;
  bool failed = false;
  static int Write(void* context, const char* buffer, int length) noexcept;
};

// Nullopt when libxml2 cannot write the document (an encoding it has no converter for, memory)
// or the text would be longer than kLongestSerializedXml. The converter is the component's for
// the name (common/xml_encoding_handler.h: Shift_JIS as code page 932, a character the code page
// holds only by iconv's best fit as a reference); the declaration names the encoding as the
// document does.
// `expectedBytes` is room set aside for the text at the start (the input's length serves), so that
// a large document is not copied over again each time the text outgrows its buffer.
std::optional<SerializedXml> SerializeXml(xmlDocPtr doc, std::size_t expectedBytes = 0);
// Whether `xml` is in UTF-8 or UTF-16 (or names no encoding), whose converters are exact.
bool WrittenInUnicode(const SerializedXml& xml);
// The same in UTF-8 whatever the document names.
std::optional<SerializedXml> SerializeXmlAsUtf8(xmlDocPtr doc);

// Reads bytes that libxml2 serialised in `encoding` (null: UTF-8) into a new BSTR of exactly the
// decoded length; no bytes give an empty BSTR. A byte-order mark that the serialiser put before a
// UTF-16 document is not part of the text. The converter is the one SerializeXml wrote them with
// (Shift_JIS as code page 932). Null when the bytes do not decode, all of them, or memory runs out.
BSTR SerializedXmlToBstr(const xmlChar* bytes, int size, const xmlChar* encoding);
BSTR SerializedXmlToBstr(const SerializedXml& xml);

// Whether `written`, a document read back from the bytes of an encoding, holds the same text as
// `reference`, the same document written in UTF-8 and read back: character for character after
// their XML declarations, a character reference in `written`'s text or attribute values standing
// for the character it names (the encoding's writer uses one for each character the encoding
// lacks). Elsewhere (a name, a CDATA section, a comment) a reference would be read as itself. A converter whose way
// back is not its way there (one byte read as another character than was written) fails it.
bool SameDocumentText(OleStringView written, OleStringView reference);

// Keeps libxml2 from loading any external resource while it lives (process-wide, restored on
// destruction); counts the loads it refused on this thread.
class ExternalLoadBlocker {
 public:
  ExternalLoadBlocker();
  ~ExternalLoadBlocker();
  ExternalLoadBlocker(const ExternalLoadBlocker&) = delete;
  ExternalLoadBlocker& operator=(const ExternalLoadBlocker&) = delete;
  int Refused() const;

 private:
  xmlExternalEntityLoader previous_;
  int refusedAtStart_;
};

}  // namespace quillbox
