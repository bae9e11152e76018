#include "component/xml_text.h"

#include "common/xml_declaration.h"

#include <libxml/encoding.h>

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

namespace quillbox {
namespace {

thread_local int refusedLoads = 0;

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

xmlParserInputPtr RefuseLoad(const char* /*url*/, const char* /*id*/, xmlParserCtxtPtr /*context*/) {
  ++refusedLoads;
  return nullptr;
}

bool IsUtf8(const std::string& name) {
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper == "UTF-8" || upper == "UTF8";
}

struct BufferDeleter {
  void operator()(xmlBufferPtr buffer) const { xmlBufferFree(buffer); }
};
using UniqueBuffer = std::unique_ptr<xmlBuffer, BufferDeleter>;

struct HandlerCloser {
  void operator()(xmlCharEncodingHandlerPtr handler) const { xmlCharEncCloseFunc(handler); }
};
using UniqueHandler = std::unique_ptr<xmlCharEncodingHandler, HandlerCloser>;

}  // namespace

ExternalLoadBlocker::ExternalLoadBlocker()
    : previous_(xmlGetExternalEntityLoader()), refusedAtStart_(refusedLoads) {
  xmlSetExternalEntityLoader(RefuseLoad);
}

ExternalLoadBlocker::~ExternalLoadBlocker() { xmlSetExternalEntityLoader(previous_); }

int ExternalLoadBlocker::Refused() const { return refusedLoads - refusedAtStart_; }

UniqueXmlDoc ParseUntrustedXml(const Utf8Text& text) {
  if (!text) return nullptr;
  ExternalLoadBlocker blocker;
  // The length counts the terminating zero byte, which libxml2 takes as the end of the input.
  // Parser options override libxml2's process-wide defaults, so entity substitution is asked for
  // here: references to the internal subset's entities resolve, as callers rely on. The external
  // subset is asked for too, as the process-wide default would have it, so that the blocker sees
  // (and refuses) it: a document whose DTD lives elsewhere fails instead of parsing silently
  // without the defaults and entities its author meant it to have.
  constexpr int kOptions =
      XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  UniqueXmlDoc doc(xmlReadMemory(text.data(), text.length, "noname.xml", "UTF-8", kOptions));
  if (!doc || blocker.Refused() > 0) return nullptr;

  const std::string declared = DeclaredXmlEncoding(std::string_view(text.data(), static_cast<std::size_t>(text.length - 1)));
  if (!declared.empty() && !IsUtf8(declared)) {
    // Only keep an encoding that libxml2 can write; otherwise the document stays UTF-8.
    if (UniqueHandler handler{xmlFindCharEncodingHandler(declared.c_str())}) {
      xmlFree(const_cast<xmlChar*>(doc->encoding));
      doc->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>(declared.c_str()));
    }
  }
  return doc;
}

bool NamespaceNamesSerialise(xmlDocPtr doc) {
  // Iterative: a result tree can be deeper than the stack should go.
  xmlNodePtr node = doc != nullptr ? doc->children : nullptr;
  while (node != nullptr) {
    if (node->type == XML_ELEMENT_NODE) {
      for (xmlNsPtr ns = node->nsDef; ns != nullptr; ns = ns->next) {
        if (ns->href != nullptr && std::strpbrk(reinterpret_cast<const char*>(ns->href), "&<") != nullptr) return false;
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

BSTR SerializedXmlToBstr(const xmlChar* bytes, int size, const xmlChar* encoding) {
  if (size <= 0 || bytes == nullptr) return SysAllocStringLen(u"", 0);
  const std::string name = encoding != nullptr ? reinterpret_cast<const char*>(encoding) : "";
  if (name.empty() || IsUtf8(name)) return Utf8ToBstr(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));

  UniqueHandler handler{xmlFindCharEncodingHandler(name.c_str())};
  if (!handler) return nullptr;
  UniqueBuffer in{xmlBufferCreateStatic(const_cast<xmlChar*>(bytes), static_cast<std::size_t>(size))};
  UniqueBuffer out{xmlBufferCreateSize(static_cast<std::size_t>(size) * 2 + 16)};
  if (!in || !out) return nullptr;
  if (xmlCharEncInFunc(handler.get(), out.get(), in.get()) < 0) return nullptr;
  std::string_view decoded(reinterpret_cast<const char*>(xmlBufferContent(out.get())),
                           static_cast<std::size_t>(xmlBufferLength(out.get())));
  // The serialiser starts UTF-16 output with a byte-order mark; it describes the bytes, which
  // the string no longer has, so it is not part of the text.
  if (decoded.starts_with(kUtf8ByteOrderMark)) decoded.remove_prefix(kUtf8ByteOrderMark.size());
  return Utf8ToBstr(decoded.data(), decoded.size());
}

}  // namespace quillbox
