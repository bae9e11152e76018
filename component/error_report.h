// The process-wide error report that every Signature object reads: the number and name of the
// last failure and the first crypto-library report of the current operation. Objects on any
// thread write and read it at once (checks before a call reaches the XML libraries, object
// creation and the property reads run outside the libraries' lock), so it has a lock of its own.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <mutex>

namespace quillbox {

enum class Error : LONG {
  None = 0,
  DuplicateCertData = 1,
  AllocX509Data = 2,
  AdoptCertKeyToX509 = 3,
  AdoptCertDataToX509 = 4,
  AllocKey = 5,
  AdoptCertKey = 6,
  SettingKeyData = 7,
  SettingX509Data = 8,
  InitXmlSec = 9,
  XmlSecVersion = 10,
  InitCrypto = 11,
  InitXmlSecCrypto = 12,
  ParsingXml = 13,
  CreatingSignNode = 14,
  AddingSignNode = 15,
  AddingEnvelopedRef = 16,
  AddingEnvelopedTransform = 17,
  AddingObjectNode = 18,
  AddingPropertiesNode = 19,
  AddingPropertyNode = 20,
  AddingKvPropNode = 21,
  AddingKvNamespace = 22,
  AddingKvCustomNode = 23,
  AddingEnvelopingRef = 24,
  AddingKeyInfoNode = 25,
  AddingX509DataNode = 26,
  AddingX509CertificateNode = 27,
  AddingX509SubjectNode = 28,
  AddingX509IssuerNode = 29,
  OpenCertStore = 30,
  CertNotFound = 31,
  CreatingSigContext = 32,
  SigningDoc = 33,
  XmlDocEmpty = 34,
  CertSubjectEmpty = 35,
  CertUniqueIdEmpty = 36,
  ParsingSchemaXml = 37,
  ParsingXsltSchema = 38,
  TransformingXml = 39,
  NoCertSelected = 40,
  AccessDenied = 41,
};

inline constexpr LONG kLastErrorNumber = 41;

// The name that goes with an error number ("ERR_SIGNING_DOC"), or null outside 1 to 41.
const OLECHAR* ErrorName(LONG number);

// The four process-wide variables, with their values at module load.
struct ErrorState {
  LONG ErrorNo = 0;
  BSTR ErrorStr = nullptr;
  BSTR ErrorDesc = nullptr;
  LONG ErrorDescTaken = 0;
};
// The report, locked for as long as the returned object lives: to the end of the full expression
// for a temporary (`TheErrorState()->ErrorNo`). The lock is not recursive, so no other function
// of this file may be called while one is held.
class LockedErrorState {
 public:
  LockedErrorState(std::mutex& mutex, ErrorState& state) : lock_(mutex), state_(state) {}
  ErrorState* operator->() const { return &state_; }

 private:
  std::unique_lock<std::mutex> lock_;
  ErrorState& state_;
};
LockedErrorState TheErrorState();

// Records a failure: number and a copy of the name; the description is left alone.
void SetError(LONG number, const OLECHAR* name);
void SetError(Error error);

// At the start of Sign and Transform: everything, the description-taken flag included.
void ClearErrorState();
// When an object is created: name and description only.
void ClearErrorTexts();

// Builds ErrorDesc from the first report of the crypto library in the current operation. Its
// signature is xmlsec's error callback.
void CryptoErrorCallback(const char* file, int line, const char* func, const char* errorObject,
                         const char* errorSubject, int reason, const char* msg);

}  // namespace quillbox
