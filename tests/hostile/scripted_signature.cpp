#include "hostile/scripted_signature.h"

#include "hostile/texts.h"

namespace quillbox::test {

void ScriptedSignature::SetUp() {
  RegisteredModule::SetUp();
  if (HasFatalFailure()) return;
  unsetenv("QUILLBOX_DLL_PATH");  // no browser library: not in protected mode
  object_ = Create();
  ASSERT_NE(object_, nullptr);
}

void ScriptedSignature::TearDown() {
  if (object_ != nullptr) object_->Release();
  object_ = nullptr;
  RegisteredModule::TearDown();
}

HRESULT ScriptedSignature::PutVariant(const char16_t* name, VARIANT value) {
  return Script(object_).Call(name, DISPATCH_PROPERTYPUT, &value, 1, nullptr);
}

HRESULT ScriptedSignature::Put(const char16_t* name, BSTR value) {
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_BSTR;
  argument.bstrVal = value;
  return PutVariant(name, argument);
}

HRESULT ScriptedSignature::PutText(const char16_t* name, const std::u16string& text) {
  UniqueBstr value(MakeBstr(text));
  return Put(name, value.get());
}

UniqueBstr ScriptedSignature::Get(const char16_t* name) {
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr = Script(object_).Call(name, DISPATCH_PROPERTYGET, nullptr, 0, &result);
  EXPECT_EQ(hr, S_OK) << "get " << std::string(name, name + std::char_traits<char16_t>::length(name));
  if (FAILED(hr) || result.vt != VT_BSTR) {
    VariantClear(&result);
    return UniqueBstr();
  }
  return UniqueBstr(result.bstrVal);
}

std::u16string ScriptedSignature::Text(const char16_t* name) {
  const UniqueBstr value = Get(name);
  return value ? std::u16string(value.view()) : u"<null>";
}

bool ScriptedSignature::Sign() {
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(Script(object_).Call(u"Sign", DISPATCH_METHOD, nullptr, 0, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  EXPECT_TRUE(result.boolVal == VARIANT_TRUE || result.boolVal == VARIANT_FALSE) << result.boolVal;
  return result.vt == VT_BOOL && result.boolVal == VARIANT_TRUE;
}

UniqueBstr ScriptedSignature::Transform(BSTR xsl) {
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_BSTR;
  argument.bstrVal = xsl;
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(Script(object_).Call(u"Transform", DISPATCH_METHOD, &argument, 1, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BSTR);
  if (result.vt != VT_BSTR) {
    VariantClear(&result);
    return UniqueBstr();
  }
  EXPECT_NE(result.bstrVal, nullptr) << "Transform hands back a string, empty on failure";
  return UniqueBstr(result.bstrVal);
}

std::u16string ScriptedSignature::TransformText(const std::u16string& xsl) {
  UniqueBstr stylesheet(MakeBstr(xsl));
  const UniqueBstr result = Transform(stylesheet.get());
  return result ? std::u16string(result.view()) : u"<null>";
}

LONG ScriptedSignature::ErrorNo() {
  VARIANT value = Script(object_).Get(u"ErrorNo");
  EXPECT_EQ(value.vt, VT_I4);
  return value.lVal;
}

std::optional<std::u16string> ScriptedSignature::ErrorStr() {
  const UniqueBstr name = Get(u"ErrorStr");
  if (!name) return std::nullopt;
  return std::u16string(name.view());
}

void ScriptedSignature::UseSigner() {
  ASSERT_EQ(PutVariant(u"CertFindOption", MakeI4(1)), S_OK);
  ASSERT_EQ(PutText(u"CertSubject", u"Test Signer"), S_OK);
}

std::string ScriptedSignature::SignAdvanced(const std::u16string& document) {
  UseSigner();
  EXPECT_EQ(PutVariant(u"Advanced", MakeI4(-1)), S_OK);
  EXPECT_EQ(PutText(u"XmlDoc", document), S_OK);
  EXPECT_TRUE(Sign()) << "error " << ErrorNo();
  EXPECT_EQ(ErrorNo(), 0);
  return ToUtf8(Text(u"XmlDoc"));
}

void ScriptedSignature::ExpectXmlDoc(const std::u16string& document) {
  const UniqueBstr now = Get(u"XmlDoc");
  EXPECT_TRUE(HoldsExactly(now.get(), document.size(), [&](std::size_t i) { return document[i]; }));
}

void ScriptedSignature::ExpectSignFails(LONG error, const std::u16string& document) {
  EXPECT_FALSE(Sign());
  EXPECT_EQ(ErrorNo(), error);
  ExpectXmlDoc(document);
}

void ScriptedSignature::ExpectTransformFails(const std::u16string& xsl, LONG error, const std::u16string& document) {
  EXPECT_EQ(TransformText(xsl), u"");
  EXPECT_EQ(ErrorNo(), error);
  ExpectXmlDoc(document);
}

::testing::AssertionResult HoldsExactly(BSTR text, std::size_t length,
                                        const std::function<char16_t(std::size_t)>& expected) {
  if (text == nullptr) return ::testing::AssertionFailure() << "the text is null";
  const std::size_t actual = SysStringLen(text);
  if (actual != length) return ::testing::AssertionFailure() << "length " << actual << ", expected " << length;
  for (std::size_t i = 0; i < length; ++i) {
    const char16_t want = expected(i);
    if (text[i] != want)
      return ::testing::AssertionFailure() << "unit " << i << " is U+" << std::hex << static_cast<unsigned>(text[i])
                                           << ", expected U+" << static_cast<unsigned>(want);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace quillbox::test
