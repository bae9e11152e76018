// Memory running out at each of the C++ allocations a Signature member makes, in turn: the member
// still answers S_OK and fails as it fails for any other reason (false or an empty text, with an
// error recorded, the object's document untouched), or absorbs the failure and does its job. No
// exception crosses the member, nothing leaks (the sanitizer build's leak check), and the next
// call works.
#include "signing/sign_fixture.h"
#include "support/failing_allocator.h"
#include "support/nss_store.h"

#include <gtest/gtest.h>

#include <string>

namespace quillbox::test {
namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new StandardStoreEnvironment);

// Far more than any member makes: a sweep that reaches it never ran to the end.
constexpr long kMostAllocations = 200'000;

class SignatureOutOfMemory : public SignFixture {
 protected:
  void SetUp() override {
    if (!FailureInjectionWorks()) GTEST_SKIP() << "the allocator is not this program's";
    SignFixture::SetUp();
  }

  std::u16string CertSerial() {
    BSTR value = nullptr;
    object_.get_CertSerial(&value);
    return Take(value).value_or(u"<null>");
  }
};

// A signed document with its signature's Id, a fresh GUID each time, left out.
std::u16string WithoutId(std::u16string signedDocument) {
  const std::u16string attribute = u"Id=\"Signature-";
  if (const auto at = signedDocument.find(attribute); at != std::u16string::npos) {
    const auto from = at + attribute.size();
    signedDocument.erase(from, signedDocument.find(u'"', from) - from);
  }
  return signedDocument;
}

const std::u16string kDocument = u"<form><field name=\"amount\">12.50</field><field>čšž</field></form>";

TEST_F(SignatureOutOfMemory, SignFailsCleanlyOrSignsWherever) {
  object_.put_CertFindOption(1);  // by subject
  object_.put_CertSubject(UniqueBstr::Copy(u"Test Signer").get());
  SetXmlDoc(kDocument);
  VARIANT_BOOL signedOnce = VARIANT_FALSE;
  ASSERT_EQ(object_.Sign(&signedOnce), S_OK);  // the one-time start-up of the libraries, unfailed
  ASSERT_EQ(signedOnce, VARIANT_TRUE) << ErrorNo();
  const std::u16string expected = WithoutId(XmlDoc());

  long failures = 0;
  for (long at = 1;; ++at) {
    ASSERT_LT(at, kMostAllocations) << "Sign never ran without failing";
    SetXmlDoc(kDocument);
    VARIANT_BOOL result = 7;
    FailAllocation(at);
    const HRESULT hr = object_.Sign(&result);
    const bool failedOne = StopFailing();
    ASSERT_EQ(hr, S_OK) << "allocation " << at;
    if (!failedOne) {
      EXPECT_EQ(result, VARIANT_TRUE);
      EXPECT_EQ(WithoutId(XmlDoc()), expected);
      break;
    }
    if (result == VARIANT_FALSE) {
      ++failures;
      EXPECT_NE(ErrorNo(), 0) << "allocation " << at;
      EXPECT_EQ(XmlDoc(), kDocument) << "allocation " << at;
    } else {
      EXPECT_EQ(result, VARIANT_TRUE) << "allocation " << at;
      EXPECT_EQ(WithoutId(XmlDoc()), expected) << "allocation " << at;
    }
  }
  EXPECT_GT(failures, 0);
}

TEST_F(SignatureOutOfMemory, TransformAnswersEmptyWithAnErrorOrTheResult) {
  const std::u16string stylesheet =
      u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
      u"<xsl:output method='text'/><xsl:template match='/'><xsl:value-of select='//field[1]'/>"
      u"<xsl:text>|</xsl:text><xsl:value-of select='//field[2]'/></xsl:template></xsl:stylesheet>";
  const auto xsl = UniqueBstr::Copy(stylesheet);
  SetXmlDoc(kDocument);

  long failures = 0;
  for (long at = 1;; ++at) {
    ASSERT_LT(at, kMostAllocations) << "Transform never ran without failing";
    BSTR result = nullptr;
    FailAllocation(at);
    const HRESULT hr = object_.Transform(xsl.get(), &result);
    const bool failedOne = StopFailing();
    ASSERT_EQ(hr, S_OK) << "allocation " << at;
    const std::u16string text = Take(result).value_or(u"<null>");
    EXPECT_EQ(XmlDoc(), kDocument) << "allocation " << at;
    if (!failedOne) {
      EXPECT_EQ(text, u"12.50|čšž");
      EXPECT_EQ(ErrorNo(), 0);
      break;
    }
    if (text.empty()) {
      ++failures;
      EXPECT_NE(ErrorNo(), 0) << "allocation " << at;
    } else {
      EXPECT_EQ(text, u"12.50|čšž") << "allocation " << at;
    }
  }
  EXPECT_GT(failures, 0);
}

TEST_F(SignatureOutOfMemory, ACertSerialThatCannotBeCopiedIsLeftUnset) {
  long failures = 0;
  for (long at = 1;; ++at) {
    ASSERT_LT(at, kMostAllocations) << "put_CertSerial never ran without failing";
    // Longer than a short string keeps in place, so that its narrow copy allocates.
    const auto serial = UniqueBstr::Copy(u"0a ff 3c 01 0a ff 3c 01");
    FailAllocation(at);
    const HRESULT hr = object_.put_CertSerial(serial.get());
    const bool failedOne = StopFailing();
    ASSERT_EQ(hr, S_OK) << "allocation " << at;
    const std::u16string value = CertSerial();
    if (!failedOne) {
      EXPECT_EQ(value, u"0A FF 3C 01 0A FF 3C 01");
      break;
    }
    if (value.empty())
      ++failures;
    else
      EXPECT_EQ(value, u"0A FF 3C 01 0A FF 3C 01") << "allocation " << at;
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace quillbox::test
