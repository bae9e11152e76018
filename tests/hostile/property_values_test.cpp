// Property values a page can make up: NUL characters inside, unpaired surrogates, characters that
// XML cannot carry, values of tens of megabytes. Each is kept and used as documented or refused
// with the error of the step that meets it, and a failed call leaves XmlDoc exactly as it was.
#include "hostile/scripted_signature.h"
#include "hostile/signer_store.h"
#include "hostile/texts.h"

namespace quillbox::test {
namespace {

constexpr const char16_t* kStringProperties[] = {u"XmlDoc",         u"CertSubject",    u"UserName",
                                                 u"LocalTimeStamp", u"CertIssuerName", u"CertSerial"};
// Every string property but CertSerial, which is stored upper-cased through the ANSI code page.
constexpr const char16_t* kVerbatimProperties[] = {u"XmlDoc", u"CertSubject", u"UserName", u"LocalTimeStamp",
                                                   u"CertIssuerName"};

constexpr char16_t kHighSurrogate = 0xD83D;
constexpr char16_t kLowSurrogate = 0xDE00;

using PropertyValues = ScriptedSignature;

TEST_F(PropertyValues, EveryStringPropertyKeepsTheTextBeforeItsFirstNul) {
  const std::u16string withNul(u"ab\0cd", 5);
  for (const char16_t* name : kStringProperties) {
    ASSERT_EQ(PutText(name, withNul), S_OK);
    EXPECT_EQ(Text(name), std::u16string(name) == u"CertSerial" ? u"AB" : u"ab") << ToUtf8(name);
  }
  ASSERT_EQ(PutText(u"XmlDoc", std::u16string(u"\0<a/>", 5)), S_OK);
  EXPECT_EQ(Text(u"XmlDoc"), u"");  // present and empty, not missing
}

TEST_F(PropertyValues, UnpairedSurrogatesAreStoredAsGiven) {
  const std::u16string lone = {u'x', kHighSurrogate, u'y', kLowSurrogate, kLowSurrogate, kHighSurrogate};
  for (const char16_t* name : kVerbatimProperties) {
    ASSERT_EQ(PutText(name, lone), S_OK);
    EXPECT_EQ(Text(name), lone) << ToUtf8(name);
  }
  // The serial passes through the ANSI code page, which has no character for a lone surrogate.
  ASSERT_EQ(PutText(u"CertSerial", lone), S_OK);
  const char16_t replaced = GetACP() == CP_UTF8 ? char16_t{0xFFFD} : u'?';
  EXPECT_EQ(Text(u"CertSerial"), (std::u16string{u'X', replaced, u'Y', replaced, replaced, replaced}));
}

TEST_F(PropertyValues, ValuesOfTensOfMegabytesRoundTripWhole) {
  constexpr std::size_t kUnits = 24 << 20;
  std::u16string value(kUnits, u'a');
  for (std::size_t i = 0; i < kUnits; i += 7) value[i] = static_cast<char16_t>(0x100 + i % 0xD000);
  for (std::size_t i = 3; i + 1 < kUnits; i += 1001) {
    value[i] = kHighSurrogate;
    value[i + 1] = kLowSurrogate;
  }
  for (const char16_t* name : kVerbatimProperties) {
    ASSERT_EQ(PutText(name, value), S_OK);
    const UniqueBstr back = Get(name);
    EXPECT_TRUE(HoldsExactly(back.get(), kUnits, [&](std::size_t i) { return value[i]; })) << ToUtf8(name);
  }
  const std::u16string serial(kUnits, u'f');
  ASSERT_EQ(PutText(u"CertSerial", serial), S_OK);
  const UniqueBstr back = Get(u"CertSerial");
  EXPECT_TRUE(HoldsExactly(back.get(), kUnits, [](std::size_t) { return u'F'; }));
}

TEST_F(PropertyValues, ADocumentWithAnUnpairedSurrogateIsNotSigned) {
  UseSigner();
  for (const std::u16string& document :
       {std::u16string{u'<', u'a', u'>', kHighSurrogate, u'<', u'/', u'a', u'>'},
        std::u16string{u'<', u'a', u'>', kLowSurrogate, u'x', u'<', u'/', u'a', u'>'},
        std::u16string{u'<', u'a', u'>', u'<', u'/', u'a', u'>', kHighSurrogate},
        std::u16string{u'<', u'a', u' ', u'b', u'=', u'\'', kLowSurrogate, u'\'', u'/', u'>'}}) {
    ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
    ExpectSignFails(13, document);
    EXPECT_EQ(ErrorStr(), u"ERR_PARSING_XML");
  }
}

TEST_F(PropertyValues, TransformRefusesAnUnpairedSurrogateInEitherText) {
  const std::u16string lone = {u'<', u'a', u'>', kHighSurrogate, u'<', u'/', u'a', u'>'};
  ASSERT_EQ(PutText(u"XmlDoc", lone), S_OK);
  ExpectTransformFails(kCopyDocument, 13, lone);
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  ExpectTransformFails(Stylesheet(std::u16string{u'<', u'!', u'-', u'-', kLowSurrogate, u'-', u'-', u'>'}), 37,
                       u"<a/>");
}

TEST_F(PropertyValues, DocumentCharactersXmlCannotCarryFailToParse) {
  UseSigner();
  for (const std::u16string& document : {std::u16string(u"<a>\u0001</a>"), std::u16string(u"<a>\u001F</a>"),
                                         std::u16string(u"<a>\uFFFE</a>"), std::u16string(u"<a>\uFFFF</a>"),
                                         std::u16string(u"<a>&#1;</a>"), std::u16string(u"<a>&#xD800;</a>")}) {
    ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
    ExpectSignFails(13, document);
  }
}

TEST_F(PropertyValues, EveryOtherCharacterIsSignedAsGiven) {
  const std::u16string text = std::u16string(u"\t\u00E9\u010D\u4E2D\uE000\uFFFD") + kHighSurrogate + kLowSurrogate;
  const std::string signedText = SignAdvanced(u"<a>" + text + u"</a>");
  ParsedDoc doc = ParseUtf8(signedText);
  ASSERT_TRUE(doc);
  EXPECT_EQ(ElementText(doc.get(), "a").value_or("").substr(0, ToUtf8(text).size()), ToUtf8(text));
  ExpectSignedBySigner(signedText);
}

TEST_F(PropertyValues, OnlyTheDocumentBeforeTheFirstNulIsSigned) {
  const std::string signedText = SignAdvanced(std::u16string(u"<a>kept</a>\0<b>dropped</b>", 26));
  EXPECT_NE(signedText.find("<a>kept"), std::string::npos) << signedText;
  EXPECT_EQ(signedText.find("dropped"), std::string::npos) << signedText;
  ExpectSignedBySigner(signedText);
}

TEST_F(PropertyValues, SignaturePropertiesXmlCannotCarryFailTheTemplate) {
  UseSigner();
  ASSERT_EQ(PutVariant(u"Advanced", MakeI4(-1)), S_OK);
  const std::u16string document = u"<a>unchanged</a>";
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  for (const char16_t* name : {u"UserName", u"LocalTimeStamp"}) {
    for (const std::u16string& value :
         {std::u16string(u"x\u0001y"), std::u16string(u"\u001B[31m"), std::u16string(u"\uFFFE"),
          std::u16string(u"end\uFFFF"), std::u16string{u'a', kHighSurrogate}, std::u16string{kLowSurrogate, u'b'}}) {
      ASSERT_EQ(PutText(name, value), S_OK);
      ExpectSignFails(23, document);
      EXPECT_EQ(ErrorStr(), u"ERR_ADDING_KV_CUSTOM_NODE");
    }
    ASSERT_EQ(PutText(name, u"fine"), S_OK);
  }
  // Without Advanced the properties are not written, so they cannot fail anything.
  ASSERT_EQ(PutVariant(u"Advanced", MakeI4(0)), S_OK);
  ASSERT_EQ(PutText(u"UserName", u"x\u0001y"), S_OK);
  EXPECT_TRUE(Sign()) << ErrorNo();
}

TEST_F(PropertyValues, ReferencesToNonCharactersInSignaturePropertiesStayLiteral) {
  ASSERT_EQ(PutText(u"UserName", u"&#1;&#xFFFE;&#55357;"), S_OK);
  ASSERT_EQ(PutText(u"LocalTimeStamp", u"&#x1F600;&lt;"), S_OK);
  const std::string signedText = SignAdvanced(u"<a/>");
  ParsedDoc doc = ParseUtf8(signedText);
  ASSERT_TRUE(doc) << signedText;
  EXPECT_EQ(ElementText(doc.get(), "UserName"), "&#1;&#xFFFE;&#55357;");
  EXPECT_EQ(ElementText(doc.get(), "LocalTimeStamp"), "\xF0\x9F\x98\x80<");
  ExpectSignedBySigner(signedText);
}

TEST_F(PropertyValues, LongSignaturePropertiesAreSignedWholeUpToOneTextRun) {
  // As long as libxml2 reads back one run of text: the signed document can be read and signed again.
  std::u16string userName(kLongestTextRun / 2 - 1, u'\u00E9');  // two bytes each in UTF-8
  userName += u"ok";
  ASSERT_EQ(ToUtf8(userName).size(), kLongestTextRun);
  const std::u16string localTimeStamp(kLongestTextRun, u'7');
  ASSERT_EQ(PutText(u"UserName", userName), S_OK);
  ASSERT_EQ(PutText(u"LocalTimeStamp", localTimeStamp), S_OK);
  const std::string signedText = SignAdvanced(u"<a/>");
  ParsedDoc doc = ParseUtf8(signedText);
  ASSERT_TRUE(doc);
  EXPECT_EQ(ElementText(doc.get(), "UserName"), ToUtf8(userName));
  EXPECT_EQ(ElementText(doc.get(), "LocalTimeStamp"), ToUtf8(localTimeStamp));
  const std::u16string once = Text(u"XmlDoc");
  EXPECT_TRUE(Sign()) << "the signed document signs again: " << ErrorNo();

  // One byte more could make a document that the component does not read again: refused.
  ASSERT_EQ(PutText(u"XmlDoc", once), S_OK);
  ASSERT_EQ(PutText(u"UserName", userName + u"!"), S_OK);
  ExpectSignFails(23, once);
  ASSERT_EQ(PutText(u"UserName", u"fine"), S_OK);
  ASSERT_EQ(PutText(u"LocalTimeStamp", std::u16string(20 << 20, u'7')), S_OK);
  ExpectSignFails(23, once);
}

TEST_F(PropertyValues, HostileLookupTextsFindNothing) {
  const std::u16string document = u"<a>unchanged</a>";
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  const std::u16string huge(20 << 20, u'\u4E2D');
  const std::u16string lone = {u'C', u'N', u'=', kHighSurrogate};
  ASSERT_EQ(PutVariant(u"CertFindOption", MakeI4(1)), S_OK);
  for (const std::u16string& subject : {huge, lone, std::u16string(u"Test\u0001Signer")}) {
    ASSERT_EQ(PutText(u"CertSubject", subject), S_OK);
    ExpectSignFails(31, document);
  }
  ASSERT_EQ(PutVariant(u"CertFindOption", MakeI4(0)), S_OK);
  for (const std::u16string& text : {huge, lone}) {
    ASSERT_EQ(PutText(u"CertIssuerName", text), S_OK);
    ASSERT_EQ(PutText(u"CertSerial", text), S_OK);
    ExpectSignFails(31, document);
  }
}

}  // namespace
}  // namespace quillbox::test
