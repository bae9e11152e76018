// libxml2's converters for the Windows code pages.
//
// On Windows libxml2 is built without iconv, so by itself it reads and writes only UTF-8,
// UTF-16, ISO-8859-1 to -16 and ASCII: a document that declares windows-1250, Shift_JIS or
// KOI8-R would neither parse nor serialise. These converters go through the system's own
// MultiByteToWideChar and WideCharToMultiByte, so a document reads as every other program on the
// machine reads it, and a character the code page does not hold exactly is written as a
// character reference (never as the system's "best fit" look-alike, which would read back as
// another character than the one that was signed).
#pragma once

namespace quillbox {

// Registers, under its usual name and aliases, a converter for each code page the system knows
// of those the component reads and writes (windows-1250 to -1258, windows-874, Shift_JIS, GBK,
// CP949, Big5, KOI8-R, KOI8-U and the DOS code pages 437, 850, 852, 866). A converter already
// registered is left as it is, so this may be called before every use; xmlCleanupParser forgets
// them all, and the next call registers them again. Like every change to libxml2's tables it
// must not run while another thread parses. False when libxml2 refused one (it holds at most 50
// converters, its own included).
bool RegisterCodePageEncodings();

}  // namespace quillbox
