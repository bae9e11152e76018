#include "host/xml_file.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quillbox::host
