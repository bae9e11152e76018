// CertSerial's upper-casing passes through the ANSI code page: under a single-byte locale a
// character the code page lacks reads back as '?'.
#include "component/signature.h"
#include "support/bstr_helpers.h"
#include "support/module_lock_audit.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillbox {
namespace {

using SerialThroughSingleByteCodePage = test::ModuleLockAudit;

TEST_F(SerialThroughSingleByteCodePage, LettersOfTheCodePageAreUpperCased) {
  Signature object;
  object.put_CertSerial(UniqueBstr::Copy(u"0a\u010d").get());  // c-caron is in ISO-8859-2
  BSTR value = nullptr;
  object.get_CertSerial(&value);
  EXPECT_EQ(test::Take(value), u"0A\u010c");
}

TEST_F(SerialThroughSingleByteCodePage, CharacterOutsideTheCodePageBecomesQuestionMark) {
  Signature object;
  object.put_CertSerial(UniqueBstr::Copy(u"ab\u20ac").get());  // the euro sign is not
  BSTR value = nullptr;
  object.get_CertSerial(&value);
  EXPECT_EQ(test::Take(value), u"AB?");
}

}  // namespace
}  // namespace quillbox

int main(int argc, char** argv) {
  setenv("LC_ALL", "sl_SI.ISO-8859-2", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
