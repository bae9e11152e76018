#include "host/xml_file.h"

#include "host/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>

namespace quillbox::host {
namespace {

// "Žiga Čebašek, Šentjur" in windows-1250: Ž=8E, Č=C8, š=9A, Š=8A.
const std::string kCp1250Form =
    "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\n<form><name>\x8Eiga \xC8" "eba\x9A" "ek</name><town>\x8A"
    "entjur</town></form>\n";
const std::u16string kForm =
    u"<?xml version=\"1.0\" encoding=\"windows-1250\"?>\n<form><name>Žiga Čebašek</name><town>Šentjur</town></form>\n";

TEST(XmlFile, DeclaredEncodingIsReadFromTheDeclarationOnly) {
  EXPECT_EQ(DeclaredEncoding(std::string_view("<?xml version='1.0' encoding = 'ISO-8859-2' ?><a/>")), "ISO-8859-2");
  EXPECT_EQ(DeclaredEncoding(std::string_view("<?xml version=\"1.0\"?><a encoding=\"x\"/>")), "");
  EXPECT_EQ(DeclaredEncoding(std::string_view("<a/>")), "");
  EXPECT_EQ(DeclaredEncoding(std::u16string_view(u"<?xml version=\"1.0\" encoding=\"windows-1250\"?><a/>")), "windows-1250");
}

TEST(XmlFile, Windows1250FileDecodesWithEveryCharacterIntact) {
  EXPECT_EQ(DecodeXmlBytes(kCp1250Form), kForm);
}

TEST(XmlFile, Windows1250TextEncodesBackByteForByte) {
  EXPECT_EQ(EncodeXmlText(kForm), kCp1250Form);
}

TEST(XmlFile, CharacterOutsideTheEncodingBecomesACharacterReference) {
  const std::string bytes = EncodeXmlText(u"<?xml version=\"1.0\" encoding=\"windows-1250\"?><a>€ 😀</a>");
  EXPECT_NE(bytes.find("&#128512;"), std::string::npos) << bytes;
  EXPECT_NE(bytes.find('\x80'), std::string::npos);  // the euro sign exists in windows-1250
}

// A Shift_JIS file as Windows makes it (code page 932): 0x5C and 0x7E are the backslash and the
// tilde, read and written alike; the yen sign, which the code page lacks, is a reference.
TEST(XmlFile, ShiftJisIsCodePage932BothWays) {
  const std::string file = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><a>C:\\\x93\xFA~</a>";
  const std::u16string text = u"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><a>C:\\\u65e5~</a>";
  EXPECT_EQ(DecodeXmlBytes(file), text);
  EXPECT_EQ(EncodeXmlText(text), file);
  EXPECT_EQ(EncodeXmlText(u"<?xml version=\"1.0\" encoding=\"sjis\"?><a>\u00a5\u301c</a>"),
            "<?xml version=\"1.0\" encoding=\"sjis\"?><a>&#165;&#12316;</a>");
}

TEST(XmlFile, NoDeclarationMeansUtf8) {
  EXPECT_EQ(DecodeXmlBytes("<a>\xC5\xBD</a>"), u"<a>Ž</a>");
  EXPECT_EQ(EncodeXmlText(u"<a>Ž</a>"), "<a>\xC5\xBD</a>");
}

TEST(XmlFile, ByteOrderMarksDecideAndAreDropped) {
  EXPECT_EQ(DecodeXmlBytes("\xEF\xBB\xBF<a/>"), u"<a/>");
  EXPECT_EQ(DecodeXmlBytes(std::string("\xFF\xFE<\0a\0/\0>\0", 10)), u"<a/>");
  EXPECT_EQ(DecodeXmlBytes(std::string("\xFE\xFF\0<\0a\0/\0>", 10)), u"<a/>");
}

TEST(XmlFile, InvalidUtf8IsRefusedRatherThanAltered) {
  EXPECT_THROW(DecodeXmlBytes("<a>\xC5</a>"), EncodingError);
  EXPECT_THROW(DecodeXmlBytes("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xFF</a>"), EncodingError);
}

TEST(XmlFile, UnknownEncodingIsRefused) {
  EXPECT_THROW(DecodeXmlBytes("<?xml version=\"1.0\" encoding=\"x-no-such\"?><a/>"), EncodingError);
  EXPECT_THROW(EncodeXmlText(u"<?xml version=\"1.0\" encoding=\"x-no-such\"?><a/>"), EncodingError);
}

// What decoding `bytes` whole gives, or nothing when it refuses them.
std::optional<std::u16string> DecodedWhole(const std::string& bytes) {
  try {
    return DecodeXmlBytes(bytes);
  } catch (const EncodingError&) {
    return std::nullopt;
  }
}

std::optional<std::u16string> ReadInPieces(const std::string& path, std::size_t piece) {
  try {
    return std::u16string(ReadXmlFile(path, piece).view());
  } catch (const EncodingError&) {
    return std::nullopt;
  }
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// Pieces of every small size cut sequences of every length at every place; the files that are
// not UTF-8, or whose declaration does not end early, are decoded whole.
TEST(XmlFile, FilesReadInPiecesDecodeAsTheirWholeBytesDo) {
  const std::string mixed = Repeat("a\xC5\xBD\xE6\x97\xA5\xF0\x9F\x98\x80", 40);
  const std::string files[] = {
      "<a>" + mixed + "</a>",
      "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?><a>" + mixed + "</a>",
      kCp1250Form,
      "<?xml version='1.0'" + std::string(5000, ' ') + "encoding='windows-1250'?><a>\x8E</a>",
      std::string("\xFF\xFE<\0a\0/\0>\0", 10),
      "",
      // Refused: a byte no sequence starts with, a sequence cut off inside and at the end.
      "<a>" + mixed + "\xFF" + mixed + "</a>",
      "<a>" + mixed + "\xE6\x97</a>",
      "<a>" + mixed + "\xF0\x9F\x98",
  };
  test::TempDir dir;
  for (const std::string& bytes : files) {
    dir.Write("in.xml", bytes);
    const std::optional<std::u16string> whole = DecodedWhole(bytes);
    for (std::size_t piece : {1, 2, 3, 5, 7, 4096, 1 << 20}) {
      EXPECT_EQ(ReadInPieces(dir / "in.xml", piece), whole) << "pieces of " << piece << ": " << bytes.substr(0, 60);
    }
  }
  EXPECT_FALSE(DecodedWhole(files[6]));
  EXPECT_FALSE(DecodedWhole(files[8]));
  EXPECT_EQ(DecodedWhole(files[3]), u"<?xml version='1.0'" + std::u16string(5000, u' ') + u"encoding='windows-1250'?><a>Ž</a>");
}

TEST(XmlFile, TextWrittenInPiecesIsTheTextEncodedWhole) {
  const std::u16string pairs = u"<a>" + std::u16string(u"😀Ž") + u"x😀";
  const std::u16string texts[] = {
      pairs + pairs + pairs + u"</a>",
      u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + pairs + u"\xD800" + pairs + u"\xDC00</a>\xD83D",
      kForm,
      u"",
  };
  test::TempDir dir;
  for (const std::u16string& text : texts) {
    for (std::size_t piece : {1, 2, 3, 4, 7, 1 << 20}) {
      WriteXmlFile(dir / "out.xml", text, piece);
      EXPECT_EQ(ReadAll(dir / "out.xml"), EncodeXmlText(text)) << "pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace quillbox::host
