// Property values of a gibibyte and more: kept as they are where the component only stores them,
// refused where it would have to convert or search them, never wrapped, and at little cost
// beyond the value itself.
#include "hostile/huge_text.h"
#include "hostile/scripted_signature.h"

#include <climits>

namespace quillbox::test {
namespace {

constexpr std::size_t kGibi = std::size_t{1} << 30;
constexpr std::size_t kCallBudget = std::size_t{64} << 20;

class HugeProperties : public ScriptedSignature {
 protected:
  void SetUp() override {
    QUILLBOX_SKIP_UNDER_VALGRIND();
    ScriptedSignature::SetUp();
  }
  void TearDown() override {
    if (!UnderValgrind()) ScriptedSignature::TearDown();
  }
  void PutHuge(const char16_t* name, const HugeText& text) {
    UniqueBstr value(text.Make());
    ASSERT_TRUE(value);
    ASSERT_EQ(Put(name, value.get()), S_OK);
  }
  static void ExpectCheap(const PeakMemoryWatch& watch) {
    if (const std::optional<std::size_t> growth = watch.Growth()) {
      EXPECT_LT(*growth, kCallBudget);
    }
  }
};

TEST_F(HugeProperties, ASerialWhoseAnsiFormPassesAnIntIsDropped) {
  if (GetACP() != CP_UTF8) GTEST_SKIP() << "needs a UTF-8 ANSI code page, where the euro sign takes three bytes";
  // 715,827,883 euro signs: one byte more than an int counts, as the ANSI text the serial is
  // upper-cased through. The setter cannot convert it and the property becomes null.
  const HugeText serial{u"", u"\u20AC", INT_MAX / 3 + 1, u""};
  PutHuge(u"CertSerial", serial);
  EXPECT_EQ(Text(u"CertSerial"), u"");
  UseSigner();
  ASSERT_EQ(PutVariant(u"CertFindOption", MakeI4(0)), S_OK);
  ASSERT_EQ(PutText(u"CertIssuerName", u"CN=Quillbox Test CA, O=Example, C=SI"), S_OK);
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  ExpectSignFails(36, u"<a/>");  // the serial is missing
}

TEST_F(HugeProperties, AGibibyteUserNameIsKeptAndRefusedBySignCheaply) {
  const HugeText userName{u"", u"u", kGibi, u""};
  PutHuge(u"UserName", userName);
  {
    const UniqueBstr back = Get(u"UserName");
    EXPECT_TRUE(userName.Matches(back.get()));
  }
  UseSigner();
  ASSERT_EQ(PutVariant(u"Advanced", MakeI4(-1)), S_OK);
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  PeakMemoryWatch watch;
  ExpectSignFails(23, u"<a/>");
  ExpectCheap(watch);
}

TEST_F(HugeProperties, ASubjectOfHundredsOfMillionsOfCharactersFindsNothing) {
  const HugeText subject{u"", u"\u4E2D", 700'000'000, u""};
  PutHuge(u"CertSubject", subject);
  ASSERT_EQ(PutVariant(u"CertFindOption", MakeI4(1)), S_OK);
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  ExpectSignFails(31, u"<a/>");
}

}  // namespace
}  // namespace quillbox::test
