#include "windows/codepage_encoding.h"

#include <windows.h>

#include <libxml/encoding.h>

#include <array>
#include <cstddef>

namespace quillbox {
namespace {

// Appends `c` to `out` as UTF-8; false, with nothing written, when fewer bytes than it needs
// are left before `end`.
bool PutUtf8(char32_t c, unsigned char*& out, const unsigned char* end) {
  const std::ptrdiff_t size = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  if (end - out < size) return false;
  if (size == 1) {
    *out++ = static_cast<unsigned char>(c);
    return true;
  }
  static constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (std::ptrdiff_t i = size - 1; i > 0; --i) {
    out[i] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    c >>= 6;
  }
  out[0] = static_cast<unsigned char>(kLead[size] | c);
  out += size;
  return true;
}

// The UTF-8 character at `in`: its length, 0 when its last bytes are still to come, -1 when the
// bytes are no UTF-8 (libxml2 hands over only what it produced itself, so never in practice).
int GetUtf8(const unsigned char* in, const unsigned char* end, char32_t& c) {
  const unsigned char lead = *in;
  const int size = lead < 0xC2 ? -1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : -1;
  if (size < 0) return -1;
  c = lead & (0x7F >> size);
  for (int i = 1; i < size; ++i) {
    if (in + i == end) return 0;
    if ((in[i] & 0xC0) != 0x80) return -1;
    c = (c << 6) | (in[i] & 0x3F);
  }
  return size;
}

// libxml2's input converter: bytes of the code page in `in`, UTF-8 out. As libxml2 wants it,
// *inlen and *outlen come back as the bytes consumed and produced; a character whose second
// byte is not in this chunk waits for the next one. Bytes below 0x80 are ASCII in every code
// page of the table, and most of a document is ASCII markup: they need no call into the system.
template <UINT CodePage>
int CodePageToUtf8(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
  if (out == nullptr || outlen == nullptr || inlen == nullptr) return -1;
  if (in == nullptr) {
    *outlen = *inlen = 0;
    return 0;
  }
  const unsigned char* const inStart = in;
  const unsigned char* const inEnd = in + *inlen;
  unsigned char* const outStart = out;
  const unsigned char* const outEnd = out + *outlen;
  int result = 0;
  while (in < inEnd) {
    if (*in < 0x80) {
      if (out == outEnd) break;
      *out++ = *in++;
      continue;
    }
    const int size = IsDBCSLeadByteEx(CodePage, *in) ? 2 : 1;
    if (inEnd - in < size) break;
    WCHAR wide[2];
    const int units =
        MultiByteToWideChar(CodePage, MB_ERR_INVALID_CHARS, reinterpret_cast<LPCCH>(in), size, wide, 2);
    if (units == 0) {
      result = -2;  // bytes the code page does not define
      break;
    }
    char32_t c = wide[0];
    if (units == 2 && IS_HIGH_SURROGATE(wide[0]) && IS_LOW_SURROGATE(wide[1])) {
      c = 0x10000 + ((static_cast<char32_t>(wide[0]) - 0xD800) << 10) + (wide[1] - 0xDC00);
    }
    if (!PutUtf8(c, out, outEnd)) break;
    in += size;
  }
  *outlen = static_cast<int>(out - outStart);
  *inlen = static_cast<int>(in - inStart);
  return result < 0 ? result : *outlen;
}

// libxml2's output converter: UTF-8 in, bytes of the code page out. A character the code page
// does not hold exactly answers -2 with *inlen at it, on which libxml2 writes a character
// reference in its place and goes on.
template <UINT CodePage>
int Utf8ToCodePage(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
  if (out == nullptr || outlen == nullptr || inlen == nullptr) return -1;
  if (in == nullptr) {
    *outlen = *inlen = 0;
    return 0;
  }
  const unsigned char* const inStart = in;
  const unsigned char* const inEnd = in + *inlen;
  unsigned char* const outStart = out;
  const unsigned char* const outEnd = out + *outlen;
  int result = 0;
  while (in < inEnd) {
    if (*in < 0x80) {
      if (out == outEnd) break;
      *out++ = *in++;
      continue;
    }
    char32_t c = 0;
    const int length = GetUtf8(in, inEnd, c);
    if (length == 0) break;
    WCHAR wide[2] = {static_cast<WCHAR>(c), 0};
    int units = 1;
    if (c >= 0x10000) {
      wide[0] = static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10));
      wide[1] = static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
      units = 2;
    }
    char bytes[8];
    BOOL usedDefault = FALSE;
    // Without WC_NO_BEST_FIT_CHARS the system writes, say, U+0101 as "a" in code page 1250.
    const int size = length < 0 ? 0
                                : WideCharToMultiByte(CodePage, WC_NO_BEST_FIT_CHARS, wide, units, bytes,
                                                      sizeof bytes, nullptr, &usedDefault);
    if (size == 0 || usedDefault) {
      result = -2;
      break;
    }
    if (outEnd - out < size) break;
    for (int i = 0; i < size; ++i) *out++ = static_cast<unsigned char>(bytes[i]);
    in += length;
  }
  *outlen = static_cast<int>(out - outStart);
  *inlen = static_cast<int>(in - inStart);
  return result < 0 ? result : *outlen;
}

struct CodePageEncoding {
  UINT codePage;
  const char* name;
  std::array<const char*, 7> aliases;
  xmlCharEncodingInputFunc read;
  xmlCharEncodingOutputFunc write;
};

// libxml2's converters take no context, so each code page has functions of its own.
template <UINT CodePage>
constexpr CodePageEncoding Encoding(const char* name, std::array<const char*, 7> aliases = {}) {
  return {CodePage, name, aliases, &CodePageToUtf8<CodePage>, &Utf8ToCodePage<CodePage>};
}

// The names are IANA's, each with the aliases other programs write in declarations. GB2312 is
// read and written as GBK, its superset, as Windows does it.
constexpr std::array kEncodings = {
    Encoding<1250>("windows-1250", {"CP1250", "X-CP1250"}),
    Encoding<1251>("windows-1251", {"CP1251", "X-CP1251"}),
    Encoding<1252>("windows-1252", {"CP1252", "X-CP1252"}),
    Encoding<1253>("windows-1253", {"CP1253"}),
    Encoding<1254>("windows-1254", {"CP1254"}),
    Encoding<1255>("windows-1255", {"CP1255"}),
    Encoding<1256>("windows-1256", {"CP1256"}),
    Encoding<1257>("windows-1257", {"CP1257"}),
    Encoding<1258>("windows-1258", {"CP1258"}),
    Encoding<874>("windows-874", {"CP874"}),
    Encoding<932>("Shift_JIS", {"CP932", "SHIFT-JIS", "SJIS", "MS_KANJI", "CSSHIFTJIS", "X-SJIS", "WINDOWS-31J"}),
    Encoding<936>("GBK", {"CP936", "MS936", "WINDOWS-936", "GB2312", "CSGB2312"}),
    Encoding<949>("CP949", {"UHC", "KS_C_5601-1987"}),
    Encoding<950>("Big5", {"CP950", "BIG-5", "CSBIG5"}),
    Encoding<20866>("KOI8-R", {"CSKOI8R"}),
    Encoding<21866>("KOI8-U"),
    Encoding<437>("IBM437", {"CP437", "437"}),
    Encoding<850>("IBM850", {"CP850", "850"}),
    Encoding<852>("IBM852", {"CP852", "852"}),
    Encoding<866>("IBM866", {"CP866", "866"}),
};

}  // namespace

bool RegisterCodePageEncodings() {
  bool all = true;
  for (const CodePageEncoding& encoding : kEncodings) {
    if (!IsValidCodePage(encoding.codePage)) continue;
    const xmlCharEncodingHandlerPtr known = xmlFindCharEncodingHandler(encoding.name);
    if (known == nullptr || known->input != encoding.read) {
      // libxml2 owns the handler from here on, and frees it in xmlCleanupCharEncodingHandlers.
      if (xmlNewCharEncodingHandler(encoding.name, encoding.read, encoding.write) == nullptr) all = false;
    }
    for (const char* alias : encoding.aliases) {
      if (alias != nullptr && xmlAddEncodingAlias(encoding.name, alias) != 0) all = false;
    }
  }
  // xmlNewCharEncodingHandler says nothing when the table is full; a look-up does.
  for (const CodePageEncoding& encoding : kEncodings) {
    if (!IsValidCodePage(encoding.codePage)) continue;
    const xmlCharEncodingHandlerPtr known = xmlFindCharEncodingHandler(encoding.name);
    if (known == nullptr || known->input != encoding.read) all = false;
  }
  return all;
}

}  // namespace quillbox
