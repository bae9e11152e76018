// A Signature object with the process-wide error report reset, and the library calls of Sign
// counted: the base of the Sign tests.
#pragma once

#include "common/bstr.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "signing/faulty_library.h"
#include "support/bstr_helpers.h"
#include "support/module_lock_audit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace quillbox::test {

class SignFixture : public ModuleLockAudit {
 protected:
  void SetUp() override {
    unsetenv("QUILLBOX_DLL_PATH");  // no browser library: not in protected mode
    ClearErrorState();
  }
  void TearDown() override {
    ClearErrorState();
    held_.Release();
    ModuleLockAudit::TearDown();
  }

  void SetXmlDoc(const std::u16string& text) { object_.put_XmlDoc(UniqueBstr::Copy(text).get()); }
  std::u16string XmlDoc() {
    BSTR value = nullptr;
    object_.get_XmlDoc(&value);
    return Take(value).value_or(u"<null>");
  }
  static LONG ErrorNo() { return TheErrorState()->ErrorNo; }
  static std::optional<std::u16string> ErrorStr() { return Take(CopyWhole(TheErrorState()->ErrorStr)); }
  static std::optional<std::u16string> ErrorDesc() { return Take(CopyWhole(TheErrorState()->ErrorDesc)); }

  // Runs Sign through `library_`; true for VARIANT_TRUE, and the status must be S_OK.
  bool RunSign() {
    ScopedSignatureLibrary scoped(library_);
    VARIANT_BOOL result = 7;
    EXPECT_EQ(object_.Sign(&result), S_OK);
    EXPECT_TRUE(result == VARIANT_TRUE || result == VARIANT_FALSE) << result;
    return result == VARIANT_TRUE;
  }

  // Sign failed with `error`, left XmlDoc as `before` and ended the library session.
  void ExpectFailure(Error error, const std::u16string& before) {
    EXPECT_EQ(ErrorNo(), static_cast<LONG>(error));
    EXPECT_EQ(ErrorStr(), std::u16string(ErrorName(static_cast<LONG>(error))));
    EXPECT_EQ(XmlDoc(), before);
    ExpectSessionEnded();
  }
  void ExpectSessionEnded() {
    EXPECT_EQ(library_.Calls("CryptoShutdown"), 1);
    EXPECT_EQ(library_.Calls("CryptoAppShutdown"), 1);
    EXPECT_EQ(library_.Calls("Shutdown"), 1);
  }

  HeldSignature held_;
  Signature& object_ = *held_;
  FaultyLibrary library_;
};

}  // namespace quillbox::test
