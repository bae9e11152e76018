// XML documents as files hold them: bytes in the encoding their XML declaration names (UTF-8 when
// none does), turned into the UTF-16 text the component takes, and back.
#pragma once

#include "common/bstr_owner.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace quillbox::host {

class EncodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The encoding named by the XML declaration at the start of `text` (read as ASCII), or "".
std::string DeclaredEncoding(std::string_view text);
std::string DeclaredEncoding(std::u16string_view text);

// Decodes a file's bytes. A byte-order mark decides first (and is dropped); then the declaration.
// Throws EncodingError for an encoding that cannot be read or bytes that are not valid in it.
std::u16string DecodeXmlBytes(std::string_view bytes);
// The same, decoded straight into the BSTR the component is handed: a large document is held
// once in UTF-16, not once in a string and again in its copy.
UniqueBstr DecodeXmlBytesToBstr(std::string_view bytes);

// Encodes XML text in the encoding its own declaration names. A character the encoding cannot
// hold is written as a character reference, as XML serialisers do.
std::string EncodeXmlText(std::u16string_view text);

// How much of a document the file functions below convert at a time: bytes read, units written.
inline constexpr std::size_t kXmlFilePiece = std::size_t{1} << 20;

// A document file (or standard input, "-") decoded as DecodeXmlBytesToBstr decodes its bytes. A
// UTF-8 file, the usual kind, is decoded piece by piece as it is read, straight into the BSTR:
// its bytes are never held whole beside their UTF-16 text. Throws EncodingError as the decoding
// does, CommandError when the file cannot be read.
UniqueBstr ReadXmlFile(const std::string& path, std::size_t pieceBytes = kXmlFilePiece);

// Writes XML text to a file (or "-") as WriteAll writes EncodeXmlText's bytes. UTF-8 is encoded a
// piece at a time as it is written, never held whole beside the text.
void WriteXmlFile(const std::string& path, std::u16string_view text, std::size_t pieceUnits = kXmlFilePiece);

}  // namespace quillbox::host
