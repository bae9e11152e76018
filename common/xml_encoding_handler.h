// The converter for the encoding an XML declaration names, as the component and the command-line
// host read and write documents in it. Header-only: the host uses it without linking the engine.
#pragma once

#ifndef _WIN32
#include "common/cp932_writer.h"  // over iconv, which Windows has not
#endif
#include "common/libxml_owners.h"

#include <libxml/encoding.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace quillbox {

inline std::string UpperEncodingName(std::string_view name) {
  std::string upper(name);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper;
}

// Whether `name` names UTF-8, the encoding text is held in without any converter.
inline bool IsUtf8EncodingName(std::string_view name) {
  const std::string upper = UpperEncodingName(name);
  return upper == "UTF-8" || upper == "UTF8";
}

// Whether `name` is one of the names iconv knows Shift_JIS by.
inline bool IsShiftJisName(std::string_view name) {
  const std::string upper = UpperEncodingName(name);
  return upper == "SHIFT_JIS" || upper == "SHIFT-JIS" || upper == "SJIS" || upper == "MS_KANJI" ||
         upper == "CSSHIFTJIS" || upper == "X-SJIS";
}

// libxml2's converters for `name` (null when it has none), except that Shift_JIS is converted as
// Windows converts it, by code page 932. iconv's SHIFT_JIS follows JIS X 0201 and reads the bytes
// 0x5C and 0x7E as yen sign and overline, while it writes the backslash and the tilde as those
// same bytes: a document written and read back through it holds other characters than the ones
// that were signed. In code page 932, as in every Shift_JIS document made on Windows, those bytes
// are the backslash and the tilde. The declaration keeps the name the document gave.
//
// Writing, code page 932 goes through cp932::ExactWriter, which writes a character reference for
// a character the code page holds only by iconv's best fit; reading, through iconv's CP932.
// Windows' libxml2 has no iconv: the code-page converters the module registers there convert
// Shift_JIS and CP932 by code page 932 themselves, and write no best-fit character either.
inline UniqueHandler FindXmlWriteHandler(const std::string& name) {
#ifndef _WIN32
  if (IsShiftJisName(name)) return UniqueHandler{cp932::ExactWriter()};
#endif
  return UniqueHandler{xmlFindCharEncodingHandler(name.c_str())};
}

inline UniqueHandler FindXmlReadHandler(const std::string& name) {
  return UniqueHandler{xmlFindCharEncodingHandler(IsShiftJisName(name) ? "CP932" : name.c_str())};
}

}  // namespace quillbox
