#include "component/error_report.h"
#include "component/signature.h"
#include "support/bstr_helpers.h"
#include "support/module_lock_audit.h"

#include <gtest/gtest.h>

#include <string>

namespace quillbox {
namespace {

using test::Take;

class ErrorReport : public test::ModuleLockAudit {
 protected:
  void SetUp() override {
    ClearErrorState();
  }
  void TearDown() override {
    ClearErrorState();
    ModuleLockAudit::TearDown();
  }
  static std::optional<std::u16string> Desc() { return Take(CopyWhole(TheErrorState()->ErrorDesc)); }
  static BSTR CopyWhole(BSTR b) { return b ? SysAllocStringLen(b, SysStringLen(b)) : nullptr; }
};

TEST_F(ErrorReport, TableRunsOneToFortyOneWithoutGaps) {
  EXPECT_EQ(ErrorName(0), nullptr);
  EXPECT_EQ(ErrorName(42), nullptr);
  for (LONG n = 1; n <= kLastErrorNumber; ++n) {
    ASSERT_NE(ErrorName(n), nullptr) << n;
    EXPECT_EQ(std::u16string(ErrorName(n)).rfind(u"ERR_", 0), 0u) << n;
  }
  EXPECT_EQ(std::u16string(ErrorName(1)), u"ERR_DUPLICATE_CERT_DATA");
  EXPECT_EQ(std::u16string(ErrorName(13)), u"ERR_PARSING_XML");
  EXPECT_EQ(std::u16string(ErrorName(33)), u"ERR_SIGNING_DOC");
  EXPECT_EQ(std::u16string(ErrorName(41)), u"ERR_ACCESS_DENIED");
}

TEST_F(ErrorReport, SetErrorLeavesTheDescriptionAlone) {
  CryptoErrorCallback(nullptr, 0, nullptr, nullptr, nullptr, 0, "boom");
  SetError(Error::SigningDoc);
  EXPECT_EQ(TheErrorState()->ErrorNo, 33);
  EXPECT_EQ(Take(CopyWhole(TheErrorState()->ErrorStr)), u"ERR_SIGNING_DOC");
  EXPECT_EQ(Desc(), u"Message: boom, ");
  SetError(Error::CertNotFound);  // a later site wins
  EXPECT_EQ(TheErrorState()->ErrorNo, 31);
  EXPECT_EQ(Take(CopyWhole(TheErrorState()->ErrorStr)), u"ERR_CERT_NOT_FOUND");
}

TEST_F(ErrorReport, DescriptionJoinsPresentPartsInOrder) {
  CryptoErrorCallback("src", 10, "fn", nullptr, nullptr, 5, "msg");
  EXPECT_EQ(Desc(), u"Error in src, Function: fn, Message: msg, ");
}

TEST_F(ErrorReport, AllFivePartsWithLabels) {
  CryptoErrorCallback("f.c", 1, "fn", "obj", "subj", 2, "m");
  EXPECT_EQ(Desc(), u"Error in f.c, Function: fn, Object: obj, Subject: subj, Message: m, ");
}

TEST_F(ErrorReport, OnlyTheFirstReportIsTaken) {
  CryptoErrorCallback(nullptr, 0, nullptr, nullptr, nullptr, 0, "first");
  CryptoErrorCallback(nullptr, 0, nullptr, nullptr, nullptr, 0, "second");
  CryptoErrorCallback(nullptr, 0, nullptr, nullptr, nullptr, 0, "third");
  EXPECT_EQ(Desc(), u"Message: first, ");
  EXPECT_EQ(TheErrorState()->ErrorDescTaken, 1);
}

TEST_F(ErrorReport, AllNullReportGivesEmptyNotNull) {
  CryptoErrorCallback(nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr);
  EXPECT_EQ(Desc(), u"");
}

TEST_F(ErrorReport, LongReportIsCutInsideTheBuffer) {
  const std::string huge(2000, 'x');
  CryptoErrorCallback(huge.c_str(), 0, huge.c_str(), huge.c_str(), huge.c_str(), 0, huge.c_str());
  const auto desc = Desc();
  ASSERT_TRUE(desc.has_value());
  EXPECT_EQ(desc->size(), 499u);
  EXPECT_EQ(desc->substr(0, 9), u"Error in ");
}

TEST_F(ErrorReport, ClearingRules) {
  SetError(Error::ParsingXml);
  CryptoErrorCallback(nullptr, 0, nullptr, nullptr, nullptr, 0, "m");
  ClearErrorTexts();  // object creation
  EXPECT_EQ(TheErrorState()->ErrorNo, 13);
  EXPECT_EQ(TheErrorState()->ErrorStr, nullptr);
  EXPECT_EQ(TheErrorState()->ErrorDesc, nullptr);
  EXPECT_EQ(TheErrorState()->ErrorDescTaken, 1);  // kept: only Sign, Transform and Finalize reset it
  ClearErrorState();
  EXPECT_EQ(TheErrorState()->ErrorNo, 0);
  EXPECT_EQ(TheErrorState()->ErrorDescTaken, 0);
}

TEST_F(ErrorReport, FreshProcessStateReadsAsNone) {
  Signature object;
  LONG number = -1;
  object.get_ErrorNo(&number);
  EXPECT_EQ(number, 0);
  BSTR text = reinterpret_cast<BSTR>(1);
  object.get_ErrorStr(&text);
  EXPECT_EQ(text, nullptr);
  text = reinterpret_cast<BSTR>(1);
  object.get_ErrorDesc(&text);
  EXPECT_EQ(text, nullptr);
}

TEST_F(ErrorReport, SharedByEveryObjectAndEmptiedByCreation) {
  Signature first;
  SetError(Error::SigningDoc);
  CryptoErrorCallback(nullptr, 0, nullptr, nullptr, nullptr, 0, "why");
  Signature second;  // creation empties name and description, keeps the number
  LONG number = 0;
  first.get_ErrorNo(&number);
  EXPECT_EQ(number, 33);
  BSTR text = nullptr;
  first.get_ErrorStr(&text);
  EXPECT_EQ(text, nullptr);
  SetError(Error::CertNotFound);
  EXPECT_EQ(Take([&] { BSTR t = nullptr; first.get_ErrorStr(&t); return t; }()), u"ERR_CERT_NOT_FOUND");
  EXPECT_EQ(Take([&] { BSTR t = nullptr; second.get_ErrorStr(&t); return t; }()), u"ERR_CERT_NOT_FOUND");
}

TEST_F(ErrorReport, FinalizeEmptiesTextsAndFlagButKeepsNumber) {
  Signature object;
  SetError(Error::SigningDoc);
  CryptoErrorCallback(nullptr, 0, nullptr, nullptr, nullptr, 0, "why");
  EXPECT_EQ(object.Finalize(), S_OK);
  EXPECT_EQ(TheErrorState()->ErrorNo, 33);
  EXPECT_EQ(TheErrorState()->ErrorStr, nullptr);
  EXPECT_EQ(TheErrorState()->ErrorDesc, nullptr);
  EXPECT_EQ(TheErrorState()->ErrorDescTaken, 0);
  EXPECT_EQ(object.Finalize(), S_OK);  // twice is harmless
}

}  // namespace
}  // namespace quillbox
