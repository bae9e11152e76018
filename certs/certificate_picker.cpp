// Signature::PickCertificate and the script method ShowCertsDlg: the user chooses a certificate
// in the system's selection dialog, which is loaded for the one call and unloaded after it.
#include "component/bstr.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "certs/cert_handles.h"
#include "certs/text_forms.h"

#include <cryptdlg.h>

namespace quillbox {

PCCERT_CONTEXT Signature::PickCertificate(HCERTSTORE store) {
  // A store that could not be opened offers nothing to choose from; no dialog is shown for it.
  if (store == nullptr) return nullptr;

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
  if (!dialog) return nullptr;
  const auto select =
      reinterpret_cast<PFNCERTSELECTCERTIFICATEA>(GetProcAddress(dialog.get(), "CertSelectCertificateA"));
  if (select == nullptr) return nullptr;
  if (!select(&request) || request.cCertContext == 0) {
    // A dialog that reports a choice hands over the certificate even with a count of 0.
    CertFreeCertificateContext(chosen[0]);
    SetError(Error::NoCertSelected);
    return nullptr;
  }
  return chosen[0];
}

HRESULT Signature::ShowCertsDlg(VARIANT_BOOL* pvbResult) {
  if (pvbResult != nullptr) *pvbResult = VARIANT_FALSE;
  UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
  UniqueCertContext chosen(PickCertificate(store.get()));
  if (!chosen) {
    SetError(Error::NoCertSelected);
    return S_OK;
  }
  UniqueBstr issuer(IssuerNameText(chosen.get()));
  put_CertIssuerName(issuer.get());
  UniqueBstr serial(SerialNumberText(chosen.get()));
  put_CertSerial(serial.get());
  if (pvbResult != nullptr) *pvbResult = VARIANT_TRUE;
  return S_OK;
}

}  // namespace quillbox
