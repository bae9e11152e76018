// A stand-in for cryptdlg.dll's selection dialog. Built once per behaviour:
//   FAKE_CRYPTDLG_CHOOSE    chooses the first certificate of the store whose subject contains the
//                           text in QUILLBOX_FAKE_CHOICE
//   FAKE_CRYPTDLG_CANCEL    the user cancels
//   FAKE_CRYPTDLG_NONE      the dialog closes with success but nothing chosen
//   FAKE_CRYPTDLG_NOEXPORT  the module lacks the entry point
// Every variant with the entry point keeps a copy of the last request for the test to inspect.
// Built for Linux by the certificate tests and for Windows by the tests under Wine, whose own
// cryptdlg has no dialog.
#include "fake_cryptdlg.h"
#include "support/fake_export.h"

#include <cstdlib>
#include <string>

namespace {
FakeRequestRecord gRecord;
}

FAKE_EXPORT const FakeRequestRecord* FakeLastRequest() { return &gRecord; }

#if defined(FAKE_CRYPTDLG_NOEXPORT)

FAKE_EXPORT BOOL WINAPI CertSelectCertificateW(void*) { return FALSE; }

#else

FAKE_EXPORT BOOL WINAPI CertSelectCertificateA(PCERT_SELECT_STRUCT_A request) {
  ++gRecord.calls;
  gRecord.request = *request;
  gRecord.title = request->szTitle != nullptr ? request->szTitle : "";
  gRecord.helpFileNull = request->szHelpFileName == nullptr;
  gRecord.helpFile = request->szHelpFileName != nullptr ? request->szHelpFileName : "";
  gRecord.firstStore = request->cCertStore > 0 ? request->arrayCertStore[0] : nullptr;
  gRecord.firstPreset = request->arrayCertContext != nullptr ? request->arrayCertContext[0] : nullptr;
#if defined(FAKE_CRYPTDLG_CHOOSE)
  const char* choice = std::getenv("QUILLBOX_FAKE_CHOICE");
  std::basic_string<WCHAR> wanted(64, 0);
  const int units = MultiByteToWideChar(CP_UTF8, 0, choice != nullptr ? choice : "", -1, wanted.data(), 64);
  wanted.resize(units > 0 ? static_cast<std::size_t>(units - 1) : 0);
  PCCERT_CONTEXT found = CertFindCertificateInStore(request->arrayCertStore[0], X509_ASN_ENCODING, 0,
                                                    CERT_FIND_SUBJECT_STR_W, wanted.c_str(), nullptr);
  if (found == nullptr) return FALSE;
  request->arrayCertContext[0] = found;
  request->cCertContext = 1;
  return TRUE;
#elif defined(FAKE_CRYPTDLG_NONE)
  request->cCertContext = 0;
  return TRUE;
#else
  return FALSE;
#endif
}

#endif
