#include "host/xml_file.h"

#include "common/libxml_owners.h"
#include "common/xml_declaration.h"
#include "common/xml_encoding_handler.h"

#include "host/files.h"
#include "host/text.h"

#include <windows.h>

#include <libxml/encoding.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
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

// Enough of a file's start to hold its XML declaration, whatever the piece size.
constexpr std::size_t kHeadBytes = 4096;

// Whether a file that starts with `head` (all of it when `whole`) is UTF-8 as DecodeXmlBytesToBstr
// decides: a UTF-8 byte-order mark, or no other mark and a declaration that names UTF-8 or no
// encoding. A declaration that does not end within the head leaves it undecided: no.
bool ReadsAsUtf8(std::string_view head, bool whole) {
  if (head.starts_with(kUtf8ByteOrderMark)) return true;
  if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF")) return false;
  if (!whole && head.starts_with("<?xml") && head.find("?>") == std::string_view::npos) return false;
  return IsUtf8Name(DeclaredEncoding(head));
}

// How many of `bytes` end with a whole UTF-8 sequence: a sequence the piece cuts off (at most three
// bytes) waits for the next piece. Bytes that are no sequence at all count as whole, for the
// converter to refuse.
std::size_t WholeSequences(const char* bytes, std::size_t size) {
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(bytes[size - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: the lead is further back
    std::size_t length = 1;
    if (byte >= 0xC0 && byte < 0xE0) length = 2;
    if (byte >= 0xE0 && byte < 0xF0) length = 3;
    if (byte >= 0xF0 && byte < 0xF8) length = 4;
    return length > back ? size - back : size;
  }
  return size;
}

// UTF-8 decoded strictly into a BSTR, whole or as it comes in pieces that end where
// WholeSequences says. `encodingName` is what a refusal says the document is not valid in (the
// bytes of other encodings are made UTF-8 first).
class Utf8BstrBuilder {
 public:
  Utf8BstrBuilder(std::size_t expectedUnits, std::string encodingName)
      : text_(UnfilledBstr(Checked(expectedUnits))), room_(expectedUnits), encodingName_(std::move(encodingName)) {}

  void Add(std::string_view bytes) {
    if (bytes.empty()) return;
    // A unit per byte at most.
    if (bytes.size() > room_ - used_) Grow(used_ + bytes.size());
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                          text_.get() + used_, static_cast<int>(room_ - used_));
    if (units <= 0 && GetLastError() == ERROR_NO_UNICODE_TRANSLATION)
      throw EncodingError("the document is not valid " + encodingName_);
    if (units <= 0) throw std::bad_alloc();
    used_ += static_cast<std::size_t>(units);
  }

  UniqueBstr Finish() {
    if (used_ != room_) Resize(used_);
    return std::move(text_);
  }

 private:
  void Grow(std::size_t units) { Resize(std::max(units, room_ + room_ / 2)); }

  // Every length the converter is handed is an int.
  static std::size_t Checked(std::size_t units) {
    if (units > static_cast<std::size_t>(std::numeric_limits<int>::max())) throw EncodingError("the document is too large");
    return units;
  }

  void Resize(std::size_t units) {
    BSTR text = text_.release();
    if (!SysReAllocStringLen(&text, nullptr, static_cast<UINT>(Checked(units)))) {
      text_.reset(text);
      throw std::bad_alloc();
    }
    text_.reset(text);
    room_ = units;
  }

  UniqueBstr text_;
  std::size_t room_;
  std::size_t used_ = 0;
  std::string encodingName_;
};

UniqueBstr StrictUtf8ToUtf16(std::string_view bytes, const std::string& encodingName) {
  Utf8BstrBuilder text(bytes.size(), encodingName);
  text.Add(bytes);
  return text.Finish();
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
  if (bytes.starts_with(kUtf8ByteOrderMark)) return StrictUtf8ToUtf16(bytes.substr(kUtf8ByteOrderMark.size()), "UTF-8");
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

UniqueBstr ReadXmlFile(const std::string& path, std::size_t pieceBytes) {
  FileReader file(path);
  pieceBytes = std::max<std::size_t>(pieceBytes, 1);
  // The piece in front, where what the last piece cut off (three bytes at most) waits.
  std::string buffer(std::max(pieceBytes, kHeadBytes) + 3, '\0');
  std::size_t held = file.Read(buffer.data(), buffer.size() - 3);
  const bool whole = held < buffer.size() - 3;
  if (!ReadsAsUtf8(std::string_view(buffer.data(), held), whole)) {
    buffer.resize(held);
    file.ReadToEnd(buffer);
    return DecodeXmlBytesToBstr(buffer);
  }
  std::size_t skip = std::string_view(buffer.data(), held).starts_with(kUtf8ByteOrderMark) ? kUtf8ByteOrderMark.size() : 0;
  // A unit per byte at most: room for a regular file's every byte, grown if it grows meanwhile.
  Utf8BstrBuilder text(file.Size() ? *file.Size() : held, "UTF-8");
  while (true) {
    const std::size_t complete = skip + WholeSequences(buffer.data() + skip, held - skip);
    text.Add(std::string_view(buffer.data() + skip, complete - skip));
    const std::size_t left = held - complete;
    std::memmove(buffer.data(), buffer.data() + complete, left);
    skip = 0;
    const std::size_t got = file.Read(buffer.data() + left, pieceBytes);
    held = left + got;
    if (got == 0) {
      text.Add(std::string_view(buffer.data(), left));  // a sequence cut off by the end of the file: refused
      return text.Finish();
    }
  }
}

void WriteXmlFile(const std::string& path, std::u16string_view text, std::size_t pieceUnits) {
  if (!IsUtf8Name(DeclaredEncoding(text))) return WriteAll(path, EncodeXmlText(text));
  pieceUnits = std::max<std::size_t>(pieceUnits, 2);
  FileWriter file(path);
  std::string piece(pieceUnits * 3, '\0');
  while (!text.empty()) {
    std::size_t units = std::min(pieceUnits, text.size());
    // A surrogate pair goes whole into one piece, to come out as the one character it is.
    if (units < text.size() && text[units - 1] >= 0xD800 && text[units - 1] < 0xDC00) --units;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(units), piece.data(),
                                          static_cast<int>(piece.size()), nullptr, nullptr);
    if (bytes <= 0) throw std::bad_alloc();
    file.Write(std::string_view(piece.data(), static_cast<std::size_t>(bytes)));
    text.remove_prefix(units);
  }
  file.Commit();
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
