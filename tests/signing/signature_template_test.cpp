#include "signing/signature_template.h"

#include "common/bstr.h"
#include "component/error_report.h"
#include "xml/xml_text.h"
#include "signing/crypto_session.h"
#include "signing/faulty_library.h"
#include "signing/xml_tree_helpers.h"
#include "support/bstr_helpers.h"

#include "support/recorded.h"

#include <gtest/gtest.h>

#include <set>

namespace quillbox {
namespace {

using test::Attribute;
using test::AttributeNames;
using test::Content;
using test::ElementChildren;
using test::ElementNames;
using test::FindElement;
using test::kDsigNs;
using test::Namespace;
using Names = std::vector<std::string>;

class SignatureTemplate : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearErrorState();
    ASSERT_EQ(StartCryptoSession(), Error::None);
  }
  void TearDown() override {
    EndCryptoSession();
    ClearErrorState();
  }

  static UniqueXmlDoc Parse(const std::u16string& text) {
    const auto b = UniqueBstr::Copy(text);
    return ParseUntrustedXml(BstrToUtf8(b.get()));
  }
  static std::string Dump(xmlDocPtr doc) {
    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpFormatMemory(doc, &bytes, &size, 0);
    UniqueXmlChars owned(bytes);
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
  }
  xmlNodePtr Build(xmlDocPtr doc, VARIANT_BOOL advanced, const char16_t* user = nullptr, const char16_t* time = nullptr) {
    const auto userName = UniqueBstr::Copy(user != nullptr ? user : u"");
    const auto timeStamp = UniqueBstr::Copy(time != nullptr ? time : u"");
    return test::Recorded(BuildSignatureTemplate(doc, advanced, user != nullptr ? userName.get() : nullptr,
                                  time != nullptr ? timeStamp.get() : nullptr));
  }
};

TEST(GuidText, IsThirtySixUpperCaseHexDigitsInGroupsAndFresh) {
  std::set<std::u16string> seen;
  for (int i = 0; i < 50; ++i) {
    const std::u16string guid = CreateGuidText();
    EXPECT_TRUE(test::IsGuidText(std::string(guid.begin(), guid.end()))) << std::string(guid.begin(), guid.end());
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 50u);
}

TEST_F(SignatureTemplate, AdvancedLayoutNodeByNode) {
  UniqueXmlDoc doc = Parse(u"<root a=\"1\"><child/></root>");
  ASSERT_TRUE(doc);
  xmlNodePtr signature = Build(doc.get(), VARIANT_TRUE, u"Ana", u"2024-05-01T10:00:00");
  ASSERT_NE(signature, nullptr);
  EXPECT_EQ(TheErrorState()->ErrorNo, 0);

  xmlNodePtr root = xmlDocGetRootElement(doc.get());
  EXPECT_EQ(ElementNames(root), (Names{"child", "Signature"}));
  EXPECT_EQ(root->last, signature);

  // Signature: the signature namespace declared as default, and only an Id.
  EXPECT_EQ(Namespace(signature), kDsigNs);
  ASSERT_NE(signature->nsDef, nullptr);
  EXPECT_EQ(signature->nsDef->prefix, nullptr);
  EXPECT_EQ(AttributeNames(signature), (Names{"Id"}));
  const std::string signatureId = *Attribute(signature, "Id");
  ASSERT_TRUE(signatureId.starts_with("Signature-"));
  EXPECT_TRUE(test::IsGuidText(signatureId.substr(10))) << signatureId;
  EXPECT_EQ(ElementNames(signature), (Names{"SignedInfo", "SignatureValue", "KeyInfo", "Object"}));

  const auto parts = ElementChildren(signature);
  xmlNodePtr signedInfo = parts[0];
  EXPECT_EQ(ElementNames(signedInfo), (Names{"CanonicalizationMethod", "SignatureMethod", "Reference", "Reference"}));
  const auto info = ElementChildren(signedInfo);
  EXPECT_EQ(Attribute(info[0], "Algorithm"), "http://www.w3.org/TR/2001/REC-xml-c14n-20010315");
  EXPECT_EQ(Attribute(info[1], "Algorithm"), "http://www.w3.org/2000/09/xmldsig#rsa-sha1");

  // The enveloped reference: the empty URI, its one transform, SHA-1.
  xmlNodePtr whole = info[2];
  EXPECT_EQ(AttributeNames(whole), (Names{"URI"}));
  EXPECT_EQ(Attribute(whole, "URI"), "");
  EXPECT_EQ(ElementNames(whole), (Names{"Transforms", "DigestMethod", "DigestValue"}));
  xmlNodePtr transforms = ElementChildren(whole)[0];
  EXPECT_EQ(ElementNames(transforms), (Names{"Transform"}));
  EXPECT_EQ(Attribute(ElementChildren(transforms)[0], "Algorithm"), "http://www.w3.org/2000/09/xmldsig#enveloped-signature");
  EXPECT_EQ(Attribute(ElementChildren(whole)[1], "Algorithm"), "http://www.w3.org/2000/09/xmldsig#sha1");

  // The reference to the Object: no transforms.
  xmlNodePtr objectReference = info[3];
  EXPECT_EQ(AttributeNames(objectReference), (Names{"URI"}));
  EXPECT_EQ(ElementNames(objectReference), (Names{"DigestMethod", "DigestValue"}));
  EXPECT_EQ(Attribute(ElementChildren(objectReference)[0], "Algorithm"), "http://www.w3.org/2000/09/xmldsig#sha1");

  xmlNodePtr keyInfo = parts[2];
  EXPECT_TRUE(AttributeNames(keyInfo).empty());
  EXPECT_EQ(ElementNames(keyInfo), (Names{"X509Data"}));
  xmlNodePtr x509Data = ElementChildren(keyInfo)[0];
  EXPECT_TRUE(AttributeNames(x509Data).empty());
  EXPECT_EQ(ElementNames(x509Data), (Names{"X509Certificate", "X509SubjectName", "X509IssuerSerial"}));
  for (xmlNodePtr child : ElementChildren(x509Data)) EXPECT_EQ(child->children, nullptr);

  xmlNodePtr object = parts[3];
  EXPECT_EQ(AttributeNames(object), (Names{"Id"}));
  const std::string objectId = *Attribute(object, "Id");
  ASSERT_TRUE(objectId.starts_with("SignProp-"));
  EXPECT_TRUE(test::IsGuidText(objectId.substr(9))) << objectId;
  EXPECT_NE(objectId.substr(9), signatureId.substr(10));
  EXPECT_EQ(Attribute(objectReference, "URI"), "#" + objectId);

  EXPECT_EQ(ElementNames(object), (Names{"SignatureProperties"}));
  xmlNodePtr properties = ElementChildren(object)[0];
  EXPECT_TRUE(AttributeNames(properties).empty());
  EXPECT_EQ(ElementNames(properties), (Names{"SignatureProperty"}));
  xmlNodePtr property = ElementChildren(properties)[0];
  EXPECT_EQ(Namespace(property), kDsigNs);
  EXPECT_EQ(AttributeNames(property), (Names{"Target"}));
  EXPECT_EQ(Attribute(property, "Target"), "#" + signatureId);

  xmlNodePtr clientSignature = ElementChildren(property)[0];
  EXPECT_EQ(ElementNames(property), (Names{"ClientSignature"}));
  EXPECT_EQ(Namespace(clientSignature), kClientSignatureNamespace);
  ASSERT_NE(clientSignature->nsDef, nullptr);
  EXPECT_EQ(clientSignature->nsDef->prefix, nullptr);
  EXPECT_EQ(ElementNames(clientSignature), (Names{"UserName", "LocalTimeStamp"}));
  for (xmlNodePtr value : ElementChildren(clientSignature)) EXPECT_EQ(Namespace(value), kClientSignatureNamespace);
  EXPECT_EQ(Content(ElementChildren(clientSignature)[0]), "Ana");
  EXPECT_EQ(Content(ElementChildren(clientSignature)[1]), "2024-05-01T10:00:00");

  // Written out: the line breaks around SignatureProperties are the template calls' own; from
  // SignatureProperty down there is no whitespace at all.
  const std::string written = Dump(doc.get());
  const std::string expectedObject = "<Object Id=\"" + objectId +
                                     "\">\n<SignatureProperties><SignatureProperty Target=\"#" + signatureId +
                                     "\"><ClientSignature xmlns=\"" + kClientSignatureNamespace +
                                     "\"><UserName>Ana</UserName><LocalTimeStamp>2024-05-01T10:00:00</LocalTimeStamp>"
                                     "</ClientSignature></SignatureProperty></SignatureProperties>\n</Object>";
  EXPECT_NE(written.find(expectedObject), std::string::npos) << written;
  EXPECT_NE(written.find("<root a=\"1\"><child/><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\" Id=\"" + signatureId + "\">"),
            std::string::npos)
      << written;
}

TEST_F(SignatureTemplate, WithoutAdvancedOneReferenceAndNoObject) {
  for (VARIANT_BOOL advanced : {VARIANT_BOOL{0}, VARIANT_BOOL{1}, VARIANT_BOOL{-2}}) {
    UniqueXmlDoc doc = Parse(u"<root/>");
    ASSERT_TRUE(doc);
    xmlNodePtr signature = Build(doc.get(), advanced, u"Ana", u"now");
    ASSERT_NE(signature, nullptr);
    EXPECT_EQ(ElementNames(signature), (Names{"SignedInfo", "SignatureValue", "KeyInfo"})) << advanced;
    EXPECT_EQ(ElementNames(ElementChildren(signature)[0]), (Names{"CanonicalizationMethod", "SignatureMethod", "Reference"}));
    EXPECT_EQ(Dump(doc.get()).find("SignProp-"), std::string::npos);
  }
}

TEST_F(SignatureTemplate, NullAndEmptyPropertiesGiveEmptyElements) {
  for (const char16_t* value : {static_cast<const char16_t*>(nullptr), u""}) {
    UniqueXmlDoc doc = Parse(u"<root/>");
    ASSERT_TRUE(doc);
    ASSERT_NE(Build(doc.get(), VARIANT_TRUE, value, value), nullptr);
    xmlNodePtr clientSignature = FindElement(xmlDocGetRootElement(doc.get()), "ClientSignature");
    ASSERT_NE(clientSignature, nullptr);
    for (xmlNodePtr element : ElementChildren(clientSignature)) EXPECT_EQ(element->children, nullptr);
    EXPECT_NE(Dump(doc.get()).find("<UserName/><LocalTimeStamp/>"), std::string::npos);
  }
}

TEST_F(SignatureTemplate, PropertyReferencesResolveAndBareAmpersandsKeepTheirText) {
  UniqueXmlDoc doc = Parse(u"<!DOCTYPE root [<!ENTITY co \"ACME\">]><root/>");
  ASSERT_TRUE(doc);
  ASSERT_NE(Build(doc.get(), VARIANT_TRUE, u"Smith & Sons &amp; &#269;&#x161; &co;", u"10 < 11 & 12 > 3"), nullptr);
  xmlNodePtr root = xmlDocGetRootElement(doc.get());
  EXPECT_EQ(Content(FindElement(root, "UserName")), "Smith & Sons & \xC4\x8D\xC5\xA1 &co;");
  EXPECT_EQ(Content(FindElement(root, "LocalTimeStamp")), "10 < 11 & 12 > 3");
  // Text only: no entity-reference node, which canonicalisation could not take.
  for (xmlNodePtr child = FindElement(root, "UserName")->children; child != nullptr; child = child->next)
    EXPECT_EQ(child->type, XML_TEXT_NODE);
}

// Written out, a control character would make the signed document unreadable to every parser.
TEST_F(SignatureTemplate, APropertyWithACharacterXmlCannotHoldIsRefused) {
  for (auto [user, time] : {std::pair{u"Ana\u0001", u"now"}, std::pair{u"Ana", u"10:00\u001B[0m"}}) {
    UniqueXmlDoc doc = Parse(u"<root/>");
    ASSERT_TRUE(doc);
    ClearErrorState();
    EXPECT_EQ(Build(doc.get(), VARIANT_TRUE, user, time), nullptr);
    EXPECT_EQ(TheErrorState()->ErrorNo, static_cast<LONG>(Error::AddingKvCustomNode));
  }
}

TEST_F(SignatureTemplate, FollowsATrailingTextOrCommentDirectly) {
  for (const char16_t* input : {u"<root><a/>tail text</root>", u"<root><a/><!-- note --></root>", u"<root>\n  <a/>\n</root>"}) {
    UniqueXmlDoc doc = Parse(input);
    ASSERT_TRUE(doc);
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    xmlNodePtr last = root->last;
    xmlNodePtr signature = Build(doc.get(), VARIANT_FALSE);
    ASSERT_NE(signature, nullptr);
    EXPECT_EQ(signature->prev, last);
    EXPECT_EQ(root->last, signature);
  }
}

TEST_F(SignatureTemplate, EveryBuildHasFreshIdentifiers) {
  UniqueXmlDoc first = Parse(u"<root/>");
  UniqueXmlDoc second = Parse(u"<root/>");
  xmlNodePtr a = Build(first.get(), VARIANT_TRUE);
  xmlNodePtr b = Build(second.get(), VARIANT_TRUE);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(Attribute(a, "Id"), Attribute(b, "Id"));
  EXPECT_NE(Attribute(FindElement(a, "Object"), "Id"), Attribute(FindElement(b, "Object"), "Id"));
}

struct StepFailure {
  const char* call;
  int occurrence;
  Error error;
};

class SignatureTemplateFailure : public SignatureTemplate, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(SignatureTemplateFailure, RecordsTheStepsErrorAndStops) {
  const StepFailure failure = GetParam();
  UniqueXmlDoc doc = Parse(u"<root><a/></root>");
  ASSERT_TRUE(doc);
  test::FaultyLibrary library;
  library.FailAt(failure.call, failure.occurrence);
  ScopedSignatureLibrary scoped(library);
  EXPECT_EQ(Build(doc.get(), VARIANT_TRUE, u"Ana", u"now"), nullptr);
  EXPECT_EQ(TheErrorState()->ErrorNo, static_cast<LONG>(failure.error));
  EXPECT_EQ(test::Take(CopyWhole(TheErrorState()->ErrorStr)), std::u16string(ErrorName(static_cast<LONG>(failure.error))));
  if (failure.error != Error::AddingX509IssuerNode) {
    EXPECT_EQ(library.Calls("TmplX509DataAddIssuerSerial"), 0) << "a later step ran";
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, SignatureTemplateFailure,
    ::testing::Values(StepFailure{"TmplSignatureCreate", 1, Error::CreatingSignNode},
                      StepFailure{"AddChild", 1, Error::AddingSignNode},
                      StepFailure{"TmplSignatureAddReference", 1, Error::AddingEnvelopedRef},
                      StepFailure{"TmplReferenceAddTransform", 1, Error::AddingEnvelopedTransform},
                      StepFailure{"TmplSignatureAddObject", 1, Error::AddingObjectNode},
                      StepFailure{"TmplObjectAddSignProperties", 1, Error::AddingPropertiesNode},
                      StepFailure{"NewChild", 1, Error::AddingPropertyNode},
                      StepFailure{"NewChild", 2, Error::AddingKvPropNode},
                      StepFailure{"NewNs", 1, Error::AddingKvNamespace},
                      StepFailure{"NewChild", 3, Error::AddingKvCustomNode},
                      StepFailure{"NewChild", 4, Error::AddingKvCustomNode},
                      StepFailure{"TmplSignatureAddReference", 2, Error::AddingEnvelopingRef},
                      StepFailure{"TmplSignatureEnsureKeyInfo", 1, Error::AddingKeyInfoNode},
                      StepFailure{"TmplKeyInfoAddX509Data", 1, Error::AddingX509DataNode},
                      StepFailure{"TmplX509DataAddCertificate", 1, Error::AddingX509CertificateNode},
                      StepFailure{"TmplX509DataAddSubjectName", 1, Error::AddingX509SubjectNode},
                      StepFailure{"TmplX509DataAddIssuerSerial", 1, Error::AddingX509IssuerNode}),
    [](const auto& info) { return std::string(info.param.call) + std::to_string(info.param.occurrence); });

}  // namespace
}  // namespace quillbox
