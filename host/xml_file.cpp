#include "host/xml_file.h"

#include "common/bstr.h"
#include "common/libxml_owners.h"
#include "common/xml_declaration.h"
#include "common/xml_encoding_handler.h"

#include "host/text.h"

#include <windows.h>

#include <libxml/encoding.h>
#include <libxml/tree.h>

#include <limits>
#include <memory>
#include <new>

namespace quillbox::host {
namespace {

bool IsUtf8Name(const std::string& name) { return name.empty() || IsUtf8EncodingName(name); }

// The component's converters for the name, so that a file is read and written as the component
// writes the signed document (Shift_JIS as code page 932).
UniqueHandler HandlerFor(const std::string& name, bool writing) {
  UniqueHandler handler = writing ? FindXmlWriteHandler(name) : FindXmlReadHandler(name);
  if (!handler) throw EncodingError("the encoding '" + name + "' is not supported");
  return handler;
}

// Room for `units` UTF-16 units, not yet written: the decoders fill it in place, so that the
// document is decoded straight into the string the component is handed.
UniqueBstr UnfilledBstr(std::size_t units) {
  if (units > std::numeric_limits<UINT>::max()) throw std::bad_alloc();
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (text == nullptr) throw std::bad_alloc();
  return UniqueBstr(text);
}

UniqueBstr StrictUtf8ToUtf16(std::string_view bytes, const std::string& encodingName) {
  if (bytes.empty()) return UnfilledBstr(0);
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw EncodingError("the document is too large");
  }
  BSTR text = Utf8ToBstr(bytes.data(), bytes.size(), MB_ERR_INVALID_CHARS);
  if (text == nullptr && GetLastError() == ERROR_NO_UNICODE_TRANSLATION)
    throw EncodingError("the document is not valid " + encodingName);
  if (text == nullptr) throw std::bad_alloc();
  return UniqueBstr(text);
}

UniqueBstr Utf16Bytes(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2 != 0) throw EncodingError("the document is not valid UTF-16");
  UniqueBstr out = UnfilledBstr(bytes.size() / 2);
  char16_t* units = out.get();
  for (std::size_t i = 0; i < bytes.size() / 2; ++i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    units[i] = static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  }
  return out;
}

}  // namespace

std::string DeclaredEncoding(std::string_view text) { return DeclaredXmlEncoding(text); }

std::string DeclaredEncoding(std::u16string_view text) {
  // The declaration is ASCII; anything else ends the part worth looking at.
  std::string ascii;
  for (char16_t unit : text.substr(0, 512)) {
    if (unit >= 0x80) break;
    ascii += static_cast<char>(unit);
  }
  return DeclaredEncoding(std::string_view(ascii));
}

std::u16string DecodeXmlBytes(std::string_view bytes) { return std::u16string(DecodeXmlBytesToBstr(bytes).view()); }

UniqueBstr DecodeXmlBytesToBstr(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return StrictUtf8ToUtf16(bytes.substr(3), "UTF-8");
  if (bytes.starts_with("\xFF\xFE")) return Utf16Bytes(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return Utf16Bytes(bytes.substr(2), true);

  const std::string name = DeclaredEncoding(bytes);
  if (IsUtf8Name(name)) return StrictUtf8ToUtf16(bytes, "UTF-8");

  UniqueHandler handler = HandlerFor(name, false);
  UniqueBuffer in(xmlBufferCreateStatic(const_cast<char*>(bytes.data()), bytes.size()));
  UniqueBuffer out(xmlBufferCreateSize(bytes.size() * 2 + 16));
  if (!in || !out) throw std::bad_alloc();
  if (xmlCharEncInFunc(handler.get(), out.get(), in.get()) < 0 ||
      static_cast<std::size_t>(xmlBufferLength(in.get())) != 0) {
    throw EncodingError("the document is not valid " + name);
  }
  const auto* utf8 = reinterpret_cast<const char*>(xmlBufferContent(out.get()));
  return StrictUtf8ToUtf16(std::string_view(utf8, static_cast<std::size_t>(xmlBufferLength(out.get()))), name);
}

std::string EncodeXmlText(std::u16string_view text) {
  const std::string name = DeclaredEncoding(text);
  std::string utf8 = Utf16ToUtf8(text);
  if (IsUtf8Name(name)) return utf8;

  UniqueHandler handler = HandlerFor(name, true);
  UniqueBuffer in(xmlBufferCreateStatic(utf8.data(), utf8.size()));
  UniqueBuffer out(xmlBufferCreateSize(utf8.size() + 16));
  if (!in || !out) throw std::bad_alloc();
  if (xmlCharEncOutFunc(handler.get(), out.get(), in.get()) < 0) {
    throw EncodingError("the document cannot be written in " + name);
  }
  const auto* encoded = reinterpret_cast<const char*>(xmlBufferContent(out.get()));
  return std::string(encoded, static_cast<std::size_t>(xmlBufferLength(out.get())));
}

}  // namespace quillbox::host
