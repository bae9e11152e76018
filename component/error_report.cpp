#include "component/error_report.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace quillbox {
namespace {

constexpr const OLECHAR* kErrorNames[] = {
    OLESTR("ERR_DUPLICATE_CERT_DATA"),
    OLESTR("ERR_ALLOC_X509_DATA"),
    OLESTR("ERR_ADOPT_CERT_KEY_TO_X509"),
    OLESTR("ERR_ADOPT_CERT_DATA_TO_X509"),
    OLESTR("ERR_ALLOC_KEY"),
    OLESTR("ERR_ADOPT_CERT_KEY"),
    OLESTR("ERR_SETTING_KEY_DATA"),
    OLESTR("ERR_SETTING_X509_DATA"),
    OLESTR("ERR_INIT_XML_SEC"),
    OLESTR("ERR_XML_SEC_VERSION"),
    OLESTR("ERR_INIT_CRYPTO"),
    OLESTR("ERR_INIT_XML_SEC_CRYPTO"),
    OLESTR("ERR_PARSING_XML"),
    OLESTR("ERR_CREATING_SIGN_NODE"),
    OLESTR("ERR_ADDING_SIGN_NODE"),
    OLESTR("ERR_ADDING_ENVELOPED_REF"),
    OLESTR("ERR_ADDING_ENVELOPED_TRANSFORM"),
    OLESTR("ERR_ADDING_OBJECT_NODE"),
    OLESTR("ERR_ADDING_PROPERTIES_NODE"),
    OLESTR("ERR_ADDING_PROPERTY_NODE"),
    OLESTR("ERR_ADDING_KV_PROP_NODE"),
    OLESTR("ERR_ADDING_KV_NAMESPACE"),
    OLESTR("ERR_ADDING_KV_CUSTOM_NODE"),
    OLESTR("ERR_ADDING_ENVELOPING_REF"),
    OLESTR("ERR_ADDING_KEYINFO_NODE"),
    OLESTR("ERR_ADDING_X509DATA_NODE"),
    OLESTR("ERR_ADDING_X509CERTIFICATE_NODE"),
    OLESTR("ERR_ADDING_X509SUBJECT_NODE"),
    OLESTR("ERR_ADDING_X509ISSUER_NODE"),
    OLESTR("ERR_OPEN_CERT_STORE"),
    OLESTR("ERR_CERT_NOT_FOUND"),
    OLESTR("ERR_CREATING_SIG_CONTEXT"),
    OLESTR("ERR_SIGNING_DOC"),
    OLESTR("ERR_XMLDOC_EMPTY"),
    OLESTR("ERR_CERT_SUBJECT_EMPTY"),
    OLESTR("ERR_CERT_UNIQUE_ID_EMPTY"),
    OLESTR("ERR_PARSING_SCHEMA_XML"),
    OLESTR("ERR_PARSING_XSLT_SCHEMA"),
    OLESTR("ERR_TRANSFORMING_XML"),
    OLESTR("ERR_NO_CERT_SELECTED"),
    OLESTR("ERR_ACCESS_DENIED"),
};
static_assert(std::size(kErrorNames) == kLastErrorNumber, "the error table runs 1 to 41 without a gap");

// The description buffer holds at most this many bytes of text and a terminating zero.
constexpr std::size_t kDescriptionBuffer = 500;

void Replace(BSTR& slot, BSTR value) {
  SysFreeString(slot);
  slot = value;
}

// Appends label and text and the ", " separator, cutting at the buffer's last text byte.
void Append(char* buffer, std::size_t& used, const char* label, const char* text) {
  for (const char* part : {label, text, ", "}) {
    const std::size_t room = kDescriptionBuffer - 1 - used;
    const std::size_t n = std::min(std::strlen(part), room);
    std::copy_n(part, n, buffer + used);  // the buffer is terminated once, after the last part
    used += n;
  }
}

}  // namespace

const OLECHAR* ErrorName(LONG number) {
  if (number < 1 || number > kLastErrorNumber) return nullptr;
  return kErrorNames[number - 1];
}

LockedErrorState TheErrorState() {
  static std::mutex mutex;
  static ErrorState state;
  return {mutex, state};
}

void SetError(LONG number, const OLECHAR* name) {
  BSTR copy = SysAllocString(name);
  const LockedErrorState state = TheErrorState();
  state->ErrorNo = number;
  Replace(state->ErrorStr, copy);
}

void SetError(Error error) {
  const auto number = static_cast<LONG>(error);
  SetError(number, ErrorName(number));
}

void ClearErrorState() {
  const LockedErrorState state = TheErrorState();
  state->ErrorDescTaken = 0;
  state->ErrorNo = 0;
  Replace(state->ErrorStr, nullptr);
  Replace(state->ErrorDesc, nullptr);
}

void ClearErrorTexts() {
  const LockedErrorState state = TheErrorState();
  Replace(state->ErrorStr, nullptr);
  Replace(state->ErrorDesc, nullptr);
}

void CryptoErrorCallback(const char* file, int /*line*/, const char* func, const char* errorObject,
                         const char* errorSubject, int /*reason*/, const char* msg) {
  const LockedErrorState state = TheErrorState();
  if (state->ErrorDescTaken != 0) return;
  state->ErrorDescTaken = 1;
  Replace(state->ErrorDesc, nullptr);

  char buffer[kDescriptionBuffer] = {};
  std::size_t used = 0;
  if (file != nullptr) Append(buffer, used, "Error in ", file);
  if (func != nullptr) Append(buffer, used, "Function: ", func);
  if (errorObject != nullptr) Append(buffer, used, "Object: ", errorObject);
  if (errorSubject != nullptr) Append(buffer, used, "Subject: ", errorSubject);
  if (msg != nullptr) Append(buffer, used, "Message: ", msg);

  // The library's texts are read in the ANSI code page, as the rest of the system reads them.
  if (used == 0) {
    state->ErrorDesc = SysAllocStringLen(OLESTR(""), 0);
    return;
  }
  const int units = MultiByteToWideChar(CP_ACP, 0, buffer, static_cast<int>(used), nullptr, 0);
  if (units <= 0) return;
  state->ErrorDesc = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (state->ErrorDesc != nullptr) MultiByteToWideChar(CP_ACP, 0, buffer, static_cast<int>(used), state->ErrorDesc, units);
}

}  // namespace quillbox
