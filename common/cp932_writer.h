// A libxml2 output converter for code page 932 (Windows' Shift_JIS) that writes a character only
// as bytes that read back as that very character.
//
// iconv's CP932 writes some characters the code page does not hold by a "best fit": the yen sign
// and the overline as the backslash and tilde bytes 0x5C and 0x7E, the wave dash U+301C as the
// fullwidth tilde's 0x8160, and more. Read back, such bytes are another character than the one
// that was written (and signed). This converter writes only what the code page holds exactly and
// answers -2 for anything else, on which libxml2 writes a character reference instead, as it does
// for any character an encoding lacks. Reading back is iconv's CP932, which is exact.
#pragma once

#include <iconv.h>

#include <libxml/encoding.h>
#include <libxml/xmlstring.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillbox::cp932 {

// For each character of the Basic Multilingual Plane that code page 932 holds exactly, its bytes:
// below 0x100 one byte, else lead byte and trail byte. Zero where it holds none (and for U+0000,
// which no XML text holds). Built once from iconv: a character counts when the bytes iconv writes
// for it read back as it.
struct ExactTable {
  std::array<std::uint16_t, 0x10000> bytes{};
};

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // All of `in` converted into `out`; the number of bytes written, or -1.
  int Convert(const char* in, std::size_t inSize, char* out, std::size_t outSize) const {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* from = const_cast<char*>(in);
    char* to = out;
    std::size_t inLeft = inSize;
    std::size_t outLeft = outSize;
    if (iconv(cd_, &from, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) return -1;
    return static_cast<int>(outSize - outLeft);
  }

 private:
  iconv_t cd_;
};

inline const ExactTable& TheExactTable() {
  static const ExactTable table = [] {
    ExactTable made;
    const Converter encode("CP932", "UTF-16LE");
    const Converter decode("UTF-16LE", "CP932");
    if (!encode.valid() || !decode.valid()) return made;
    for (std::uint32_t unit = 1; unit < 0x10000; ++unit) {
      if (unit >= 0xD800 && unit < 0xE000) continue;
      const char utf16[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
      char bytes[4];
      const int written = encode.Convert(utf16, 2, bytes, sizeof bytes);
      if (written != 1 && written != 2) continue;
      char back[4];
      if (decode.Convert(bytes, static_cast<std::size_t>(written), back, sizeof back) != 2 || back[0] != utf16[0] ||
          back[1] != utf16[1])
        continue;
      const auto lead = static_cast<unsigned char>(bytes[0]);
      made.bytes[unit] =
          written == 1 ? lead : static_cast<std::uint16_t>(lead << 8 | static_cast<unsigned char>(bytes[1]));
    }
    return made;
  }();
  return table;
}

// libxml2's xmlCharEncodingOutputFunc: UTF-8 in, code page 932 out. Stops before a sequence that
// the input cuts off (the rest comes with the next call), and answers -2 at a character the code
// page does not hold exactly, with what came before it converted.
inline int WriteExactly(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
  if (in == nullptr || inlen == nullptr) {  // the call that starts a converter: nothing to write
    *outlen = 0;
    if (inlen != nullptr) *inlen = 0;
    return 0;
  }
  const ExactTable& table = TheExactTable();
  int read = 0;
  int written = 0;
  int result = 0;
  while (read < *inlen) {
    const unsigned char lead = in[read];
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (length > *inlen - read) break;
    int available = length;
    const int character = xmlGetUTF8Char(in + read, &available);
    if (character < 0 || available != length) {
      result = -2;
      break;
    }
    const std::uint16_t bytes = character < 0x10000 ? table.bytes[static_cast<std::size_t>(character)] : 0;
    if (bytes == 0) {
      result = -2;
      break;
    }
    const int need = bytes < 0x100 ? 1 : 2;
    if (need > *outlen - written) break;
    if (need == 2) out[written++] = static_cast<unsigned char>(bytes >> 8);
    out[written++] = static_cast<unsigned char>(bytes & 0xFF);
    read += length;
  }
  *inlen = read;
  *outlen = written;
  return result == 0 ? written : result;
}

// The converter as libxml2 takes it. It holds no iconv descriptor of its own and is in no list of
// libxml2's, so closing it (xmlCharEncCloseFunc) frees nothing: one object serves every writer.
inline xmlCharEncodingHandlerPtr ExactWriter() {
  static xmlCharEncodingHandler handler = [] {
    xmlCharEncodingHandler made{};
    made.name = const_cast<char*>("CP932");
    made.output = WriteExactly;
    return made;
  }();
  return &handler;
}

}  // namespace quillbox::cp932
