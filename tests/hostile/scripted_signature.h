// A Signature created by its programmatic identifier from the registered module and driven through
// IDispatch, as a page's script drives it. The texts a test hands over go into the call as they are
// (no copy on the test's side), so that documents of gigabytes cost no more than they must.
#pragma once

#include "server/com_fixture.h"
#include "common/bstr.h"

#include <functional>
#include <optional>
#include <string>

namespace quillbox::test {

class ScriptedSignature : public RegisteredModule {
 protected:
  void SetUp() override;
  // Releases the object before the module's lock count is checked.
  void TearDown() override;

  // Property put through Invoke; `value` stays the caller's. Returns Invoke's status.
  HRESULT Put(const char16_t* name, BSTR value);
  HRESULT PutText(const char16_t* name, const std::u16string& text);
  HRESULT PutVariant(const char16_t* name, VARIANT value);
  // Property get through Invoke; null when Invoke fails or hands back no string.
  UniqueBstr Get(const char16_t* name);
  std::u16string Text(const char16_t* name);

  // Sign through Invoke: its result, which must come with S_OK and be -1 or 0.
  bool Sign();
  // Transform through Invoke; the result text (empty after a failure).
  UniqueBstr Transform(BSTR xsl);
  std::u16string TransformText(const std::u16string& xsl);

  LONG ErrorNo();
  // Null when no error name is recorded.
  std::optional<std::u16string> ErrorStr();

  // Sets the certificate properties so that Sign finds the standard store's signer.
  void UseSigner();
  // Signs `document` with the signer and Advanced set; the signed text as UTF-8.
  std::string SignAdvanced(const std::u16string& document);

  // XmlDoc holds exactly `document`, length included.
  void ExpectXmlDoc(const std::u16string& document);
  // The call fails with `error` and leaves XmlDoc as `document`.
  void ExpectSignFails(LONG error, const std::u16string& document);
  void ExpectTransformFails(const std::u16string& xsl, LONG error, const std::u16string& document);

  IDispatch* object_ = nullptr;
};

// Whether `text` holds exactly the units `expected` produces, one at a time, with no more and no
// fewer: compares texts of any size without a second copy.
::testing::AssertionResult HoldsExactly(BSTR text, std::size_t length, const std::function<char16_t(std::size_t)>& expected);

}  // namespace quillbox::test
