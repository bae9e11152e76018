// PickCertificate: the user chooses a certificate in the system's selection dialog, which is
// loaded for the one call and unloaded after it.
#include "certs/certificate_query.h"

#include "common/proc_address.h"

#include <cryptdlg.h>

namespace quillbox {
namespace {

// The dialog's entry point as cryptdlg.h declares CertSelectCertificateA; the module is loaded
// for the call, so the function is reached through its address.
using SelectCertificateA = BOOL(WINAPI*)(PCERT_SELECT_STRUCT_A request);

}  // namespace

Result<UniqueCertContext> PickCertificate(HCERTSTORE store) {
  // A store that could not be opened offers nothing to choose from; no dialog is shown for it.
  if (store == nullptr) return Error::NoCertSelected;

  HCERTSTORE stores[1] = {store};
  PCCERT_CONTEXT chosen[1] = {nullptr};
  char helpFile[1] = "";
  CERT_SELECT_STRUCT_A request{};
  request.dwSize = sizeof request;
  request.hwndParent = nullptr;  // never the page's Handle: the dialog has no owner window
  request.szTitle = "Izberite certifikat";
  request.cCertStore = 1;
  request.arrayCertStore = stores;
  request.cCertContext = 0;
  request.arrayCertContext = chosen;
  request.szHelpFileName = helpFile;

  UniqueModule dialog(LoadLibraryA("cryptdlg.dll"));
  if (!dialog) return Error::NoCertSelected;
  const auto select =
      ProcAddress<SelectCertificateA>(dialog.get(), "CertSelectCertificateA");
  if (select == nullptr) return Error::NoCertSelected;
  // A dialog that reports a choice hands over the certificate even with a count of 0.
  const BOOL answered = select(&request);
  UniqueCertContext certificate(chosen[0]);
  if (!answered || request.cCertContext == 0) return Error::NoCertSelected;
  return certificate;
}

}  // namespace quillbox
