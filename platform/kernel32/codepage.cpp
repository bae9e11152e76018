// MultiByteToWideChar / WideCharToMultiByte / CharUpperA for UTF-8 and the ANSI code page.
#include "codepage.h"
#include "utf_blocks.h"

#include "shared/case_folding.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace qb::platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kUndefined = 0xFFFF;

bool IsUtf8Name(std::string_view codeset) {
  const std::string u = AsciiUpper(codeset);
  return u == "UTF-8" || u == "UTF8";
}

// Windows code page numbers for the code sets a Linux locale commonly names.
UINT CodePageNumber(const std::string& codeset) {
  const std::string u = AsciiUpper(codeset);
  struct Entry {
    const char* name;
    UINT number;
  };
  static constexpr Entry table[] = {
      {"UTF-8", 65001},      {"UTF8", 65001},        {"ISO-8859-1", 28591},  {"ISO8859-1", 28591},
      {"ISO-8859-2", 28592}, {"ISO8859-2", 28592},   {"ISO-8859-5", 28595},  {"ISO8859-5", 28595},
      {"ISO-8859-7", 28597}, {"ISO8859-7", 28597},   {"ISO-8859-15", 28605}, {"ISO8859-15", 28605},
      {"KOI8-R", 20866},     {"KOI8-U", 21866},      {"CP1250", 1250},       {"WINDOWS-1250", 1250},
      {"CP1251", 1251},      {"WINDOWS-1251", 1251}, {"CP1252", 1252},       {"WINDOWS-1252", 1252},
      {"ANSI_X3.4-1968", 20127}, {"US-ASCII", 20127}, {"ASCII", 20127},      {"EUC-JP", 20932},
      {"SHIFT_JIS", 932},    {"SJIS", 932},          {"GB2312", 936},        {"GBK", 936},
      {"GB18030", 54936},    {"BIG5", 950},          {"EUC-KR", 51949},
  };
  for (const Entry& e : table)
    if (u == e.name) return e.number;
  return 0;
}

// glibc calls plain ASCII "ANSI_X3.4-1968"; a C or POSIX locale is treated as UTF-8 here, as the
// rest of a modern Linux desktop treats it.
std::string CodesetOf(const std::string& localeName) {
  if (localeName.empty() || localeName == "C" || localeName == "POSIX") return "UTF-8";
  std::string_view name(localeName);
  if (auto at = name.find('@'); at != std::string_view::npos) name = name.substr(0, at);
  if (auto dot = name.find('.'); dot != std::string_view::npos) {
    std::string_view codeset = name.substr(dot + 1);
    if (AsciiUpper(name.substr(0, dot)) == "C") {
      if (IsUtf8Name(codeset)) return "UTF-8";
    }
    return std::string(codeset);
  }
  // No code set in the name: ask the installed locale, if there is one.
  if (locale_t loc = newlocale(LC_CTYPE_MASK, localeName.c_str(), locale_t{}); loc != locale_t{}) {
    std::string codeset = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    if (!codeset.empty() && codeset != "ANSI_X3.4-1968") return codeset;
  }
  return "UTF-8";
}

// An iconv conversion descriptor, closed when it goes out of scope.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (valid()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Decodes one byte string through iconv into UTF-16 units; false when iconv rejects it.
bool IconvDecode(iconv_t cd, const char* bytes, std::size_t size, std::u16string& out) {
  char16_t buffer[8];
  char* in = const_cast<char*>(bytes);
  std::size_t inLeft = size;
  char* outPtr = reinterpret_cast<char*>(buffer);
  std::size_t outLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) return false;
  out.assign(buffer, (sizeof buffer - outLeft) / sizeof(char16_t));
  return true;
}

// iconv is asked for "UTF-16LE" and "UTF-32LE" and its output read as char16_t and char32_t: the
// host's own order only on a little-endian machine.
static_assert(std::endian::native == std::endian::little,
              "code-page conversions name little-endian UTF-16 and UTF-32 for the host's char16_t/char32_t");

void BuildSingleByteTables(AnsiCodePage& page) {
  iconv_t cd = iconv_open("UTF-16LE", page.codeset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    page = AnsiCodePage{};  // unknown to iconv: fall back to UTF-8
    return;
  }
  bool singleByte = true;
  std::u16string unit;
  for (int b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    if (IconvDecode(cd, &byte, 1, unit) && unit.size() == 1) {
      page.toWide[b] = unit[0];
    } else if (b >= 0x80) {
      // An undefined byte in a single-byte set, or a lead byte of a multi-byte set: tell them apart
      // by whether any two-byte sequence starting with it decodes.
      page.toWide[b] = kUndefined;
      for (int t = 0x40; t < 0x100 && singleByte; ++t) {
        const char pair[2] = {byte, static_cast<char>(t)};
        if (IconvDecode(cd, pair, 2, unit)) singleByte = false;
      }
    } else {
      page.toWide[b] = kUndefined;
    }
  }
  iconv_close(cd);
  if (!singleByte) {
    page.kind = AnsiCodePage::Kind::MultiByte;
    return;
  }
  page.kind = AnsiCodePage::Kind::SingleByte;
  page.toNarrow.assign(0x10000, 0);
  for (int b = 255; b >= 1; --b)
    if (page.toWide[b] != kUndefined) page.toNarrow[page.toWide[b]] = static_cast<unsigned char>(b);
}

}  // namespace

std::string LocaleNameFromEnvironment() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "";
}

AnsiCodePage MakeAnsiCodePage(const std::string& localeName) {
  AnsiCodePage page;
  const std::string codeset = CodesetOf(localeName);
  if (IsUtf8Name(codeset)) return page;
  page.codeset = codeset;
  page.number = CodePageNumber(codeset);
  // Code page 932 is Windows' Shift_JIS, in which 0x5C is the backslash and 0x7E the tilde; the
  // standard's table that iconv's SHIFT_JIS follows reads them as yen sign and overline, which
  // would turn every path and escape in such text into other characters.
  if (page.number == 932) page.codeset = "CP932";
  BuildSingleByteTables(page);
  return page;
}

const AnsiCodePage& TheAnsiCodePage() {
  static const AnsiCodePage page = MakeAnsiCodePage(LocaleNameFromEnvironment());
  return page;
}

}  // namespace qb::platform

namespace {

using qb::platform::AnsiCodePage;
using qb::platform::kReplacement;
using qb::platform::Iconv;
using qb::platform::IconvDecode;

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// Writes UTF-16 units into an optional bounded destination, counting them all. The count is kept
// wider than the int the API answers in: a text whose converted form would not fit an int is
// refused (ERROR_ARITHMETIC_OVERFLOW), never answered with a wrapped length.
class WideSink {
 public:
  WideSink(LPWSTR dest, int capacity) : dest_(dest), capacity_(dest ? static_cast<std::size_t>(capacity) : 0) {}
  void Put(char16_t unit) {
    if (dest_ != nullptr) {
      if (count_ >= capacity_) {
        overflow_ = true;
        return;
      }
      dest_[count_] = unit;
    }
    ++count_;
  }
  // The stretch the blocks take at the start of text[0, size) (qb::platform::WidenPrefix: ASCII,
  // and with AVX2 two-byte sequences too), each unit as Put would store or count it. Answers the
  // bytes taken; 0 when the blocks take none, and the caller decodes. Where the destination has
  // room the blocks write straight into it, given no more bytes than that room (they never make
  // more units than bytes); once it is full, they count.
  std::size_t PutBlocks(const unsigned char* text, std::size_t size) {
    qb::platform::Widened taken{0, 0};
    const std::size_t room = count_ < capacity_ ? capacity_ - count_ : 0;
    if (dest_ != nullptr && room > 0) {
      taken = qb::platform::WidenPrefix(text, std::min(size, room), dest_ + count_);
    } else {
      taken = qb::platform::WidenPrefix(text, size, nullptr);
      if (dest_ != nullptr && taken.written > 0) overflow_ = true;
    }
    count_ += taken.written;
    return taken.read;
  }
  void PutCodePoint(char32_t cp) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      Put(static_cast<char16_t>(0xD800 + (cp >> 10)));
      Put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      Put(static_cast<char16_t>(cp));
    }
  }
  std::size_t Count() const { return count_; }
  bool Overflow() const { return overflow_; }

 private:
  LPWSTR dest_;
  std::size_t capacity_;
  std::size_t count_ = 0;
  bool overflow_ = false;
};

// The narrow counterpart of WideSink, with the same wide count.
class NarrowSink {
 public:
  NarrowSink(LPSTR dest, int capacity) : dest_(dest), capacity_(dest ? static_cast<std::size_t>(capacity) : 0) {}
  void Put(char byte) {
    if (dest_ != nullptr) {
      if (count_ >= capacity_) {
        overflow_ = true;
        return;
      }
      dest_[count_] = byte;
    }
    ++count_;
  }
  // The stretch the blocks take at the start of text[0, size) (qb::platform::NarrowPrefix: ASCII,
  // and with AVX2 units below 0x800 too), each byte as Put would store or count it; answers the
  // units taken, as WideSink::PutBlocks does. The blocks write into the destination's room alone.
  std::size_t PutBlocks(const char16_t* text, std::size_t size) {
    qb::platform::Narrowed taken{0, 0};
    const std::size_t room = count_ < capacity_ ? capacity_ - count_ : 0;
    if (dest_ != nullptr && room > 0) {
      taken = qb::platform::NarrowPrefix(text, size, dest_ + count_, room);
    } else {
      taken = qb::platform::NarrowPrefix(text, size, nullptr, 0);
      if (dest_ != nullptr && taken.written > 0) overflow_ = true;
    }
    count_ += taken.written;
    return taken.read;
  }
  std::size_t Count() const { return count_; }
  bool Overflow() const { return overflow_; }

 private:
  LPSTR dest_;
  std::size_t capacity_;
  std::size_t count_ = 0;
  bool overflow_ = false;
};

// What a conversion answers once its sink has seen the whole text: the count, or a failure when
// the destination was too small or the count does not fit the int the API answers in.
template <typename Sink>
int Finish(const Sink& sink) {
  if (sink.Count() > static_cast<std::size_t>(INT_MAX)) return Fail(ERROR_ARITHMETIC_OVERFLOW);
  if (sink.Overflow()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  return static_cast<int>(sink.Count());
}

// Decodes one UTF-8 sequence at text[i]; returns the bytes consumed and the code point, or 0 in
// `valid` with the length of the maximal ill-formed subpart (each becomes one U+FFFD).
std::size_t DecodeUtf8(const unsigned char* text, std::size_t size, std::size_t i, char32_t& cp, bool& valid) {
  const unsigned char lead = text[i];
  valid = false;
  if (lead < 0x80) {
    cp = lead;
    valid = true;
    return 1;
  }
  std::size_t need;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no encoded surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 1;
  }
  std::size_t used = 1;
  for (std::size_t k = 0; k < need; ++k) {
    if (i + used >= size) return used;
    const unsigned char c = text[i + used];
    if (c < low || c > high) return used;
    low = 0x80;
    high = 0xBF;
    cp = (cp << 6) | (c & 0x3F);
    ++used;
  }
  valid = true;
  return used;
}

int Utf8ToWide(DWORD flags, const unsigned char* text, std::size_t size, LPWSTR dest, int destChars) {
  WideSink sink(dest, destChars);
  for (std::size_t i = 0; i < size;) {
    // Documents are mostly ASCII with some two-byte letters: the blocks take such stretches
    // whole rather than byte by byte. Everything else, valid or not, is decoded here one sequence
    // at a time, and so is whatever the blocks leave.
    if (text[i] < 0x80 || (text[i] >= 0xC2 && text[i] <= 0xDF)) {
      if (const std::size_t taken = sink.PutBlocks(text + i, size - i); taken > 0) {
        i += taken;
        continue;
      }
    }
    char32_t cp = 0;
    bool valid = false;
    i += DecodeUtf8(text, size, i, cp, valid);
    if (!valid) {
      if (flags & MB_ERR_INVALID_CHARS) return Fail(ERROR_NO_UNICODE_TRANSLATION);
      cp = kReplacement;
    }
    sink.PutCodePoint(cp);
  }
  return Finish(sink);
}

int AnsiToWide(const AnsiCodePage& page, DWORD flags, const unsigned char* text, std::size_t size, LPWSTR dest,
               int destChars) {
  if (page.kind == AnsiCodePage::Kind::Utf8) return Utf8ToWide(flags, text, size, dest, destChars);
  WideSink sink(dest, destChars);
  if (page.kind == AnsiCodePage::Kind::SingleByte) {
    for (std::size_t i = 0; i < size; ++i) {
      char16_t unit = page.toWide[text[i]];
      if (unit == qb::platform::kUndefined) {
        if (flags & MB_ERR_INVALID_CHARS) return Fail(ERROR_NO_UNICODE_TRANSLATION);
        unit = kReplacement;
      }
      sink.Put(unit);
    }
  } else {
    iconv_t cd = iconv_open("UTF-16LE", page.codeset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return Fail(ERROR_INVALID_PARAMETER);
    char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(text));
    std::size_t inLeft = size;
    while (inLeft > 0) {
      char16_t buffer[256];
      char* out = reinterpret_cast<char*>(buffer);
      std::size_t outLeft = sizeof buffer;
      const std::size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
      const std::size_t produced = (sizeof buffer - outLeft) / sizeof(char16_t);
      for (std::size_t k = 0; k < produced; ++k) sink.Put(buffer[k]);
      if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
        if (flags & MB_ERR_INVALID_CHARS) {
          iconv_close(cd);
          return Fail(ERROR_NO_UNICODE_TRANSLATION);
        }
        sink.Put(kReplacement);  // skip the offending byte
        ++in;
        --inLeft;
      }
    }
    iconv_close(cd);
  }
  return Finish(sink);
}

// Reads one code point from UTF-16; an unpaired surrogate yields U+FFFD.
char32_t NextCodePoint(LPCWSTR text, std::size_t size, std::size_t& i, bool& unpaired) {
  const char16_t unit = text[i++];
  unpaired = false;
  if (unit >= 0xD800 && unit <= 0xDBFF && i < size && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
    return 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i++] - 0xDC00);
  }
  if (unit >= 0xD800 && unit <= 0xDFFF) {
    unpaired = true;
    return kReplacement;
  }
  return unit;
}

void PutUtf8(NarrowSink& sink, char32_t cp) {
  if (cp < 0x80) {
    sink.Put(static_cast<char>(cp));
  } else if (cp < 0x800) {
    sink.Put(static_cast<char>(0xC0 | (cp >> 6)));
    sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    sink.Put(static_cast<char>(0xE0 | (cp >> 12)));
    sink.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    sink.Put(static_cast<char>(0xF0 | (cp >> 18)));
    sink.Put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    sink.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int WideToUtf8(DWORD flags, LPCWSTR text, std::size_t size, LPSTR dest, int destBytes) {
  NarrowSink sink(dest, destBytes);
  for (std::size_t i = 0; i < size;) {
    // As in Utf8ToWide: the blocks take ASCII and two-byte letters where they can; surrogates,
    // paired or not, and the rest are encoded here one character at a time.
    if (text[i] < 0x800) {
      if (const std::size_t taken = sink.PutBlocks(text + i, size - i); taken > 0) {
        i += taken;
        continue;
      }
    }
    bool unpaired = false;
    const char32_t cp = NextCodePoint(text, size, i, unpaired);
    if (unpaired && (flags & WC_ERR_INVALID_CHARS)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    PutUtf8(sink, cp);
  }
  return Finish(sink);
}

int WideToAnsi(const AnsiCodePage& page, DWORD flags, LPCWSTR text, std::size_t size, LPSTR dest, int destBytes,
               LPCSTR defaultChar, LPBOOL usedDefault) {
  if (page.kind == AnsiCodePage::Kind::Utf8) {
    if (usedDefault) *usedDefault = FALSE;
    return WideToUtf8(flags, text, size, dest, destBytes);
  }
  const char fallback = defaultChar != nullptr ? *defaultChar : '?';
  bool used = false;
  NarrowSink sink(dest, destBytes);
  if (page.kind == AnsiCodePage::Kind::SingleByte) {
    for (std::size_t i = 0; i < size; ++i) {
      const char16_t unit = text[i];
      const unsigned char byte = page.toNarrow[unit];
      if (byte == 0 && unit != 0) {
        used = true;
        sink.Put(fallback);
      } else {
        sink.Put(static_cast<char>(byte));
      }
    }
  } else {
    iconv_t cd = iconv_open(page.codeset.c_str(), "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return Fail(ERROR_INVALID_PARAMETER);
    for (std::size_t i = 0; i < size;) {
      bool unpaired = false;
      char32_t cp = NextCodePoint(text, size, i, unpaired);
      char out[16];
      char* in = reinterpret_cast<char*>(&cp);
      std::size_t inLeft = sizeof cp;
      char* outPtr = out;
      std::size_t outLeft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (unpaired || iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
        used = true;
        sink.Put(fallback);
      } else {
        for (char* p = out; p < outPtr; ++p) sink.Put(*p);
      }
    }
    iconv_close(cd);
  }
  if (usedDefault) *usedDefault = used ? TRUE : FALSE;
  return Finish(sink);
}

void UpperInPlace(const AnsiCodePage& page, unsigned char* text, std::size_t size) {
  if (page.kind == AnsiCodePage::Kind::SingleByte) {
    for (std::size_t i = 0; i < size; ++i) {
      const char16_t unit = page.toWide[text[i]];
      if (unit == qb::platform::kUndefined) continue;
      const char32_t upper = qb::platform::UnicodeUpper(unit);
      if (upper < 0x10000 && upper != unit) {
        const unsigned char byte = page.toNarrow[upper];
        if (byte != 0) text[i] = byte;
      }
    }
    return;
  }
  if (page.kind == AnsiCodePage::Kind::Utf8) {
    for (std::size_t i = 0; i < size;) {
      char32_t cp = 0;
      bool valid = false;
      const std::size_t used = DecodeUtf8(text, size, i, cp, valid);
      if (valid) {
        const char32_t upper = qb::platform::UnicodeUpper(cp);
        char encoded[4];
        NarrowSink sink(encoded, 4);
        PutUtf8(sink, upper);
        // Only same-length mappings can be made in place; the rest keep their letter.
        if (sink.Count() == used) std::memcpy(text + i, encoded, used);
      }
      i += used;
    }
    return;
  }
  // A double-byte code page: only a byte that stands for an ASCII letter on its own is one. A
  // trail byte below 0x80 (Shift_JIS "82 61" is one character) belongs to its lead byte and must
  // be left alone, so the text is walked a character at a time.
  Iconv cd("UTF-16LE", page.codeset.c_str());
  if (!cd.valid()) return;
  std::u16string decoded;
  for (std::size_t i = 0; i < size;) {
    std::size_t used = 0;
    for (std::size_t n = 1; n <= 4 && i + n <= size && used == 0; ++n) {
      if (IconvDecode(cd.get(), reinterpret_cast<const char*>(text + i), n, decoded) && decoded.size() == 1) used = n;
    }
    if (used == 1 && decoded[0] < 0x80 && decoded[0] == text[i]) {
      text[i] = static_cast<unsigned char>(qb::platform::AsciiUpper(static_cast<char>(text[i])));
    }
    i += used != 0 ? used : 1;
  }
}

}  // namespace

extern "C" {

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR dest,
                               int destChars) {
  if (source == nullptr || sourceBytes == 0 || sourceBytes < -1 || destChars < 0 ||
      (dest == nullptr && destChars != 0) || (dest != nullptr && static_cast<const void*>(dest) == source))
    return Fail(ERROR_INVALID_PARAMETER);
  const std::size_t size = sourceBytes == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceBytes);
  const auto* bytes = reinterpret_cast<const unsigned char*>(source);
  if (destChars == 0) dest = nullptr;
  switch (codePage) {
    case CP_UTF8:
      if (flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) return Fail(ERROR_INVALID_FLAGS);
      return Utf8ToWide(flags, bytes, size, dest, destChars);
    case CP_ACP:
    case CP_OEMCP:
      return AnsiToWide(qb::platform::TheAnsiCodePage(), flags, bytes, size, dest, destChars);
    default:
      if (codePage == qb::platform::TheAnsiCodePage().number)
        return AnsiToWide(qb::platform::TheAnsiCodePage(), flags, bytes, size, dest, destChars);
      return Fail(ERROR_INVALID_PARAMETER);
  }
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceChars, LPSTR dest,
                               int destBytes, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  if (source == nullptr || sourceChars == 0 || sourceChars < -1 || destBytes < 0 ||
      (dest == nullptr && destBytes != 0) || (dest != nullptr && static_cast<const void*>(dest) == source))
    return Fail(ERROR_INVALID_PARAMETER);
  std::size_t size;
  if (sourceChars == -1) {
    size = 0;
    while (source[size] != 0) ++size;
    ++size;
  } else {
    size = static_cast<std::size_t>(sourceChars);
  }
  if (destBytes == 0) dest = nullptr;
  const auto& page = qb::platform::TheAnsiCodePage();
  switch (codePage) {
    case CP_UTF8:
      // Windows refuses a default character for UTF-8: every code point has an encoding.
      if (defaultChar != nullptr || usedDefaultChar != nullptr) return Fail(ERROR_INVALID_PARAMETER);
      if (flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) return Fail(ERROR_INVALID_FLAGS);
      return WideToUtf8(flags, source, size, dest, destBytes);
    case CP_ACP:
    case CP_OEMCP:
      return WideToAnsi(page, flags, source, size, dest, destBytes, defaultChar, usedDefaultChar);
    default:
      if (codePage == page.number)
        return WideToAnsi(page, flags, source, size, dest, destBytes, defaultChar, usedDefaultChar);
      return Fail(ERROR_INVALID_PARAMETER);
  }
}

UINT WINAPI GetACP() { return qb::platform::TheAnsiCodePage().number; }

LPSTR WINAPI CharUpperA(LPSTR text) {
  if (text == nullptr) return nullptr;
  if (IS_INTRESOURCE(text)) {
    // A single character passed in the low word, as Windows allows.
    auto value = static_cast<unsigned char>(reinterpret_cast<ULONG_PTR>(text));
    UpperInPlace(qb::platform::TheAnsiCodePage(), &value, 1);
    return reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(value));
  }
  UpperInPlace(qb::platform::TheAnsiCodePage(), reinterpret_cast<unsigned char*>(text), std::strlen(text));
  return text;
}

DWORD WINAPI CharUpperBuffA(LPSTR text, DWORD length) {
  if (text == nullptr) return 0;
  UpperInPlace(qb::platform::TheAnsiCodePage(), reinterpret_cast<unsigned char*>(text), length);
  return length;
}

}  // extern "C"
