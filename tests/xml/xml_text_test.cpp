#include "xml/xml_text.h"
#include "support/bstr_helpers.h"
#include "support/utf_text.h"

#include <gtest/gtest.h>

#include <libxml/HTMLtree.h>

#include <string>

#include <unistd.h>

namespace quillbox {
namespace {

Utf8Text Utf8(const std::u16string& text) {
  const auto b = UniqueBstr::Copy(text);
  return BstrToUtf8(b.get());
}

std::u16string Serialise(xmlDocPtr doc) {
  xmlChar* bytes = nullptr;
  int size = 0;
  xmlDocDumpFormatMemory(doc, &bytes, &size, 0);
  UniqueXmlChars owned(bytes);
  return test::Take(SerializedXmlToBstr(bytes, size, doc->encoding)).value_or(u"<failed>");
}

TEST(XmlText, Utf8TextStopsAtTheFirstNulAndRefusesUnpairedSurrogates) {
  EXPECT_EQ(Utf8(std::u16string(u"a\u010D\0b", 4)).view(), "a\xC4\x8D");
  EXPECT_EQ(Utf8(std::u16string(u"a\u010D\0b", 4)).length, 4);  // the terminating zero counted
  EXPECT_EQ(Utf8(u"\U0001F600").view(), "\xF0\x9F\x98\x80");
  EXPECT_FALSE(Utf8(std::u16string{u'a', 0xD800}));
  EXPECT_FALSE(Utf8(std::u16string{0xDC00, u'a'}));
  EXPECT_FALSE(Utf8(std::u16string{0xDC00, 0xD800}));
  EXPECT_FALSE(Utf8(std::u16string{u'a', 0xD800, 0, 0xDC00}));  // before the NUL it is unpaired
  EXPECT_TRUE(Utf8(std::u16string{u'a', 0, 0xD800}));  // after the NUL it is not part of the text
}

TEST(XmlText, Utf8TextLongerThanAllowedIsRefused) {
  const auto text = UniqueBstr::Copy(u"\u010D\u010D");  // four bytes of UTF-8
  EXPECT_EQ(BstrToUtf8(text.get(), 4).view(), "\xC4\x8D\xC4\x8D");
  EXPECT_FALSE(BstrToUtf8(text.get(), 3));
  EXPECT_FALSE(BstrToUtf8(text.get(), 1));  // more units than bytes allowed
  EXPECT_EQ(BstrToUtf8(UniqueBstr::Copy(u"").get(), 0).length, 1);
}

// The zero unit is looked for four units at a time: one at each place within and after a group,
// and none at all, whatever the text's length.
TEST(XmlText, Utf8TextEndsAtAZeroUnitInAnyPlace) {
  for (std::size_t length = 0; length <= 13; ++length) {
    const std::u16string whole(length, u'\u00E9');
    EXPECT_EQ(UnitsBeforeNul(UniqueBstr::Copy(whole).get()), length);
    EXPECT_EQ(Utf8(whole).view().size(), 2 * length);
    for (std::size_t zero = 0; zero < length; ++zero) {
      std::u16string text = whole;
      text[zero] = u'\0';
      EXPECT_EQ(UnitsBeforeNul(UniqueBstr::Copy(text).get()), zero) << "length " << length;
      EXPECT_EQ(Utf8(text).view().size(), 2 * zero) << "length " << length;
    }
  }
  // Units whose bytes are zero, or whose top bits are set, are not zero units.
  EXPECT_EQ(UnitsBeforeNul(UniqueBstr::Copy(u"\u0100\u8000\uFFFF\u0001\u0100").get()), 5u);
  EXPECT_EQ(UnitsBeforeNul(nullptr), 0u);
}

// Three bytes a unit is the longest UTF-8 form; a surrogate pair takes four for its two units.
TEST(XmlText, Utf8TextOfTheLongestFormsFitsExactly) {
  const auto yen = UniqueBstr::Copy(u"\u5186\u5186\u5186");
  EXPECT_EQ(BstrToUtf8(yen.get(), 9).length, 10);
  EXPECT_FALSE(BstrToUtf8(yen.get(), 8));
  const auto faces = UniqueBstr::Copy(u"\U0001F600\U0001F600");
  EXPECT_EQ(BstrToUtf8(faces.get(), 8).view(), "\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
  EXPECT_FALSE(BstrToUtf8(faces.get(), 7));
}

TEST(XmlText, DeclaredSingleByteEncodingKeepsCharactersAndDeclaration) {
  const std::u16string input = u"<?xml version=\"1.0\" encoding=\"windows-1250\"?><a>\u010d\u0161\u017e \u20ac \u4e2d</a>";
  UniqueXmlDoc doc = ParseUntrustedXml(Utf8(input));
  ASSERT_TRUE(doc);
  const std::u16string out = Serialise(doc.get());
  EXPECT_NE(out.find(u"encoding=\"windows-1250\""), std::u16string::npos) << std::string(out.begin(), out.end());
  EXPECT_NE(out.find(u"\u010d\u0161\u017e \u20ac "), std::u16string::npos);
  // A character the encoding lacks survives as a character reference.
  EXPECT_NE(out.find(u"&#20013;"), std::u16string::npos);
}

TEST(XmlText, Utf8AndUndeclaredDocumentsStayUtf8) {
  for (const std::u16string input : {u"<a>\u010d</a>", u"<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\u010d</a>"}) {
    UniqueXmlDoc doc = ParseUntrustedXml(Utf8(input));
    ASSERT_TRUE(doc);
    const std::u16string out = Serialise(doc.get());
    EXPECT_NE(out.find(u"<a>\u010d</a>"), std::u16string::npos);
  }
}

TEST(XmlText, UnknownEncodingNameIsAParseError) {
  EXPECT_FALSE(ParseUntrustedXml(Utf8(u"<?xml version=\"1.0\" encoding=\"x-no-such\"?><a>\u010d</a>")));
}

TEST(XmlText, InternalSubsetAloneIsNoExternalLoad) {
  EXPECT_TRUE(ParseUntrustedXml(Utf8(u"<!DOCTYPE a [<!ATTLIST a x CDATA 'd'>]><a/>")));
}

TEST(XmlText, InternalEntitiesStillExpand) {
  UniqueXmlDoc doc = ParseUntrustedXml(Utf8(u"<!DOCTYPE a [<!ENTITY n \"Ana\">]><a>&n;</a>"));
  ASSERT_TRUE(doc);
  EXPECT_NE(Serialise(doc.get()).find(u"<a>Ana</a>"), std::u16string::npos);
}

TEST(XmlText, ExternalEntitiesAreRefused) {
  EXPECT_FALSE(ParseUntrustedXml(Utf8(u"<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/hostname\">]><a>&x;</a>")));
  EXPECT_FALSE(ParseUntrustedXml(Utf8(u"<!DOCTYPE a [<!ENTITY x SYSTEM \"http://127.0.0.1:9/x\">]><a>&x;</a>")));
  EXPECT_FALSE(ParseUntrustedXml(Utf8(u"<!DOCTYPE a [<!ENTITY % p SYSTEM \"file:///etc/hostname\"> %p;]><a/>")));
}

TEST(XmlText, ExternalDtdIsNeverRead) {
  char path[] = "/tmp/quillbox-dtd-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string dtd = "<!ENTITY secret \"TOP-SECRET\">";
  ASSERT_EQ(write(fd, dtd.data(), dtd.size()), static_cast<ssize_t>(dtd.size()));
  close(fd);
  xmlLoadExtDtdDefaultValue = 1;  // even with the process-wide default asking for it
  const std::string url = std::string("file://") + path;
  const std::u16string doc = u"<!DOCTYPE a SYSTEM \"" + std::u16string(url.begin(), url.end()) + u"\"><a>&secret;</a>";
  EXPECT_FALSE(ParseUntrustedXml(Utf8(doc)));
  // Also when nothing in the document needs the external subset: it is refused, not skipped.
  EXPECT_FALSE(ParseUntrustedXml(Utf8(u"<!DOCTYPE a SYSTEM \"" + std::u16string(url.begin(), url.end()) + u"\"><a/>")));
  xmlLoadExtDtdDefaultValue = 0;
  unlink(path);
}

TEST(XmlText, BillionLaughsFailsInsteadOfExhaustingMemory) {
  std::u16string doc = u"<!DOCTYPE a [<!ENTITY l0 \"ha\">";
  auto number = [](int n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
  };
  for (int i = 1; i <= 12; ++i) {
    doc += u"<!ENTITY l" + number(i) + u" \"";
    for (int k = 0; k < 10; ++k) doc += u"&l" + number(i - 1) + u";";
    doc += u"\">";
  }
  doc += u"]><a>&l12;</a>";
  EXPECT_FALSE(ParseUntrustedXml(Utf8(doc)));
}

TEST(XmlText, Utf16SerialisationLosesItsByteOrderMark) {
  UniqueXmlDoc doc = ParseUntrustedXml(Utf8(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\u010d\U0001F600</a>"));
  ASSERT_TRUE(doc);
  EXPECT_EQ(Serialise(doc.get()), u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<a>\u010d\U0001F600</a>\n");
}

TEST(XmlText, SingleByteSerialisationIsDecodedInItsEncoding) {
  const xmlChar bytes[] = {'<', 'a', '>', 0xE8, 0x9A, '<', '/', 'a', '>'};  // windows-1250
  EXPECT_EQ(test::Take(SerializedXmlToBstr(bytes, sizeof bytes, reinterpret_cast<const xmlChar*>("windows-1250"))),
            u"<a>\u010d\u0161</a>");
  EXPECT_EQ(test::Take(SerializedXmlToBstr(bytes, sizeof bytes, reinterpret_cast<const xmlChar*>("ISO-8859-2"))),
            u"<a>\u010d\u009a</a>");  // the same byte is a control character there
}

// Shift_JIS as Windows writes and reads it (code page 932): 0x5C and 0x7E are the backslash and
// the tilde, and a character the code page holds only by iconv's best fit is a reference.
TEST(XmlText, ShiftJisIsWrittenAndReadAsCodePage932) {
  for (const std::u16string name : {u"Shift_JIS", u"SJIS", u"ms_kanji"}) {
    UniqueXmlDoc doc = ParseUntrustedXml(
        Utf8(u"<?xml version=\"1.0\" encoding=\"" + name + u"\"?><a b=\"\\~\">\\~\u65e5\u672c\u00a5\u203e\u301c</a>"));
    ASSERT_TRUE(doc);
    const std::optional<SerializedXml> serialised = SerializeXml(doc.get());
    ASSERT_TRUE(serialised);
    EXPECT_EQ(serialised->bytes, "<?xml version=\"1.0\" encoding=\"" + test::ToUtf8(name) +
                                     "\"?>\n<a b=\"\\~\">\\~\x93\xFA\x96\x7B&#165;&#8254;&#12316;</a>\n");
    EXPECT_EQ(test::Take(SerializedXmlToBstr(*serialised)),
              u"<?xml version=\"1.0\" encoding=\"" + name + u"\"?>\n<a b=\"\\~\">\\~\u65e5\u672c&#165;&#8254;&#12316;</a>\n");
  }
  // Bytes named Shift_JIS are read as code page 932 too, whoever wrote them.
  const xmlChar bytes[] = {'<', 'a', '>', 0x5C, 0x7E, 0x81, 0x60, '<', '/', 'a', '>'};
  EXPECT_EQ(test::Take(SerializedXmlToBstr(bytes, sizeof bytes, reinterpret_cast<const xmlChar*>("Shift_JIS"))),
            u"<a>\\~\uff5e</a>");
}

// libxml2 writes namespace names and attribute defaults as they are; "&" or "<" in one would make
// the output unreadable. A parse for writing back refuses exactly the documents the walk finds,
// those whose entities bring such a name included.
TEST(XmlText, NamesAndDefaultsThatWouldNotSerialiseAreFound) {
  for (const char16_t* text : {u"<r xmlns='urn:x?a=1&amp;b=2'/>", u"<a><b><p:c xmlns:p='urn:&lt;'/></b><d/></a>",
                               u"<!DOCTYPE r [<!ATTLIST r d CDATA \"a&amp;b\">]><r/>",
                               u"<!DOCTYPE r [<!ELEMENT r ANY><!ATTLIST r e CDATA 'x' d CDATA '&#60;'>]><r/>",
                               u"<!DOCTYPE r [<!ENTITY e \"<p:c xmlns:p='urn:&#38;#60;'/>\">]><r>&e;&e;</r>"}) {
    UniqueXmlDoc doc = ParseUntrustedXml(Utf8(text));
    ASSERT_TRUE(doc);
    EXPECT_FALSE(SerialisesWellFormed(doc.get()));
    EXPECT_FALSE(ParseUntrustedXml(Utf8(text), 0, ParseFor::WritingBack)) << Utf8(text).view();
  }
  for (const char16_t* text : {u"<r xmlns='urn:x' xmlns:q='http://e/?a=1;b=\"2\"'><q:s/>&amp;</r>", u"<!--c--><a><b/><c>t</c></a><?pi?>",
                               u"<!DOCTYPE r [<!ATTLIST r d CDATA \"a'b\" e CDATA '\"'>]><r/>",
                               u"<!DOCTYPE r [<!ENTITY e \"<p:c xmlns:p='urn:&#38;#62;'/>\">]><r>&e;</r>"}) {
    UniqueXmlDoc doc = ParseUntrustedXml(Utf8(text));
    ASSERT_TRUE(doc);
    EXPECT_TRUE(SerialisesWellFormed(doc.get()));
    UniqueXmlDoc again = ParseUntrustedXml(Utf8(Serialise(doc.get())));
    EXPECT_TRUE(again) << "the check passed a document that does not serialise";
    EXPECT_TRUE(ParseUntrustedXml(Utf8(text), 0, ParseFor::WritingBack)) << Utf8(text).view();
  }
}

TEST(XmlText, SerialisedBytesDecodeWholeOrNotAtAll) {
  // Three bytes of UTF-8 for each byte of windows-1252: every one comes back.
  const std::string euros(100'000, '\x80');
  EXPECT_EQ(test::Take(SerializedXmlToBstr(reinterpret_cast<const xmlChar*>(euros.data()), static_cast<int>(euros.size()),
                                           reinterpret_cast<const xmlChar*>("windows-1252"))),
            std::u16string(100'000, u'\u20AC'));
  // A byte the encoding lacks, or a sequence cut off at the end, gives nothing rather than a part.
  const xmlChar undefined[] = {'<', 'a', '>', 0x81, '<', '/', 'a', '>'};
  EXPECT_EQ(SerializedXmlToBstr(undefined, sizeof undefined, reinterpret_cast<const xmlChar*>("windows-1252")), nullptr);
  const xmlChar cutOff[] = {'<', 0, 'a', 0, '>', 0, 0x3D};  // UTF-16LE with half a unit at the end
  EXPECT_EQ(SerializedXmlToBstr(cutOff, sizeof cutOff, reinterpret_cast<const xmlChar*>("UTF-16LE")), nullptr);
}

// What xmlDocDumpFormatMemory writes with formatting off, for comparison.
std::string Dump(xmlDocPtr doc) {
  xmlChar* bytes = nullptr;
  int size = 0;
  xmlDocDumpFormatMemory(doc, &bytes, &size, 0);
  UniqueXmlChars dumped(bytes);
  return dumped ? std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size)) : "<none>";
}

TEST(XmlText, SerialisationMatchesTheDumpOfTheDocument) {
  for (const std::u16string& text : {std::u16string(u"<a b='1'>x<c/><!--n--><?p q?></a>"),
                                     std::u16string(u"<?xml version='1.0' encoding='ISO-8859-2'?><a>\u010d\u4E2D</a>"),
                                     std::u16string(u"<?xml version='1.0' encoding='UTF-16'?><a>\U0001F600</a>"),
                                     std::u16string(u"<!DOCTYPE a [<!ENTITY e 'v'>]><a>&e;&amp;&lt;</a>")}) {
    UniqueXmlDoc doc = ParseUntrustedXml(Utf8(text));
    ASSERT_TRUE(doc);
    const std::optional<SerializedXml> serialised = SerializeXml(doc.get());
    ASSERT_TRUE(serialised);
    EXPECT_EQ(serialised->bytes, Dump(doc.get()));
  }
  // An HTML result document (xsl:output method="html") is written as XML, as the dump writes it.
  UniqueXmlDoc html(htmlNewDoc(nullptr, nullptr));
  xmlDocSetRootElement(html.get(), xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("br")));
  const std::optional<SerializedXml> serialised = SerializeXml(html.get());
  ASSERT_TRUE(serialised);
  EXPECT_EQ(serialised->bytes, Dump(html.get()));
  EXPECT_NE(serialised->bytes.find("<br/>"), std::string::npos);
}

TEST(XmlText, NoBytesGiveEmptyString) { EXPECT_EQ(test::Take(SerializedXmlToBstr(nullptr, 0, nullptr)), u""); }

// The check Sign makes before it hands back a document in a legacy encoding.
TEST(XmlText, DocumentTextComparesCharacterReferencesAsTheCharactersTheyName) {
  const std::u16string_view reference = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<d a=\"\u65e5&#10;\">\U0001F600 x\\</d>";
  // Another declaration, the characters the encoding lacks as references, decimal or hex.
  EXPECT_TRUE(SameDocumentText(u"<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\n<d a=\"&#26085;&#10;\">&#x1F600; x\\</d>",
                               reference));
  EXPECT_TRUE(SameDocumentText(reference, reference));
  // A character read back as another (iconv's SHIFT_JIS: the backslash as the yen sign).
  EXPECT_FALSE(SameDocumentText(u"<?xml version=\"1.0\"?>\n<d a=\"&#26085;&#10;\">&#x1F600; x\u00a5</d>", reference));
  // A reference to another character, a reference cut off, text lost or added at the end.
  EXPECT_FALSE(SameDocumentText(u"<d a=\"&#26086;&#10;\">&#x1F600; x\\</d>", std::u16string_view(u"<d a=\"\u65e5&#10;\">\U0001F600 x\\</d>")));
  EXPECT_FALSE(SameDocumentText(u"<d a=\"&#26085\"", u"<d a=\"\u65e5\""));
  // Digits past the last code point name no character, however far they would wrap round.
  EXPECT_FALSE(SameDocumentText(u"<d>&#x1000000E9;</d>", u"<d>\u00e9</d>"));
  EXPECT_FALSE(SameDocumentText(u"<d>&#4294967529;</d>", u"<d>\u00e9</d>"));
  EXPECT_FALSE(SameDocumentText(u"<d>&#x110000;</d>", u"<d>\U00010000</d>"));
  // Where a reference is not one: a CDATA section, a comment, a processing instruction, a name.
  EXPECT_FALSE(SameDocumentText(u"<d><![CDATA[&#26085;]]></d>", u"<d><![CDATA[\u65e5]]></d>"));
  EXPECT_FALSE(SameDocumentText(u"<d><!-- &#26085; --></d>", u"<d><!-- \u65e5 --></d>"));
  EXPECT_FALSE(SameDocumentText(u"<d><?p &#26085;?></d>", u"<d><?p \u65e5?></d>"));
  EXPECT_FALSE(SameDocumentText(u"<d&#26085;/>", u"<d\u65e5/>"));
  EXPECT_FALSE(SameDocumentText(u"<!DOCTYPE d [<!ENTITY e '&#26085;'>]><d/>", u"<!DOCTYPE d [<!ENTITY e '\u65e5'>]><d/>"));
  // After each of them, text takes references again.
  EXPECT_TRUE(SameDocumentText(u"<!DOCTYPE d [<!ENTITY e 'x'>]><d a='&#26085;'><![CDATA[x]]><!--y--><?p z?>&#26085;</d>",
                               u"<!DOCTYPE d [<!ENTITY e 'x'>]><d a='\u65e5'><![CDATA[x]]><!--y--><?p z?>\u65e5</d>"));
  // '>', ']' and quotes inside the internal subset's literals and comments, '<' and '>' in a
  // comment or a CDATA section: the text after them is character data again, and markup before
  // them takes no reference.
  const std::u16string subset = u"<!DOCTYPE d [\n<!ENTITY e \"a>b']\">\n<!-- ]> ' -->\n<?pi ]>?>\n]>\n";
  EXPECT_TRUE(SameDocumentText(subset + u"<d><!-- <x> --><![CDATA[<y>]]>&#233;</d>",
                               subset + u"<d><!-- <x> --><![CDATA[<y>]]>\u00e9</d>"));
  EXPECT_FALSE(SameDocumentText(u"<!DOCTYPE d [\n<!ENTITY e \"]>&#233;\">\n]>\n<d/>",
                                u"<!DOCTYPE d [\n<!ENTITY e \"]>\u00e9\">\n]>\n<d/>"));
  EXPECT_FALSE(SameDocumentText(u"<!DOCTYPE d [\n<!-- ]> &#233; -->\n]>\n<d/>", u"<!DOCTYPE d [\n<!-- ]> \u00e9 -->\n]>\n<d/>"));
  EXPECT_TRUE(SameDocumentText(u"<d a=\"'>&#233;\" b='\">'>&#233;</d>", u"<d a=\"'>\u00e9\" b='\">'>\u00e9</d>"));
  // A reference to markup's own characters is never the character itself.
  EXPECT_FALSE(SameDocumentText(u"<d>&#60;</d>", u"<d><</d>"));
  EXPECT_FALSE(SameDocumentText(u"<d/>", u"<d/>x"));
  EXPECT_FALSE(SameDocumentText(u"<d/>x", u"<d/>"));
}

}  // namespace
}  // namespace quillbox
