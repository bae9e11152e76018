// The certificate selection dialog of cryptdlg.dll, as the Windows SDK declares it; mingw-w64
// ships no cryptdlg.h. Only the part the component uses: the module is reached at run time through
// LoadLibraryA("cryptdlg.dll") and GetProcAddress("CertSelectCertificateA").
#pragma once

#include <windows.h>
#include <wincrypt.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef UINT(WINAPI* PFNCMHOOKPROC)(HWND hwndDialog, UINT message, WPARAM wParam, LPARAM lParam);
typedef BOOL(WINAPI* PFNCMFILTERPROC)(PCCERT_CONTEXT pCertContext, LPARAM lCustData, DWORD dwFlags,
                                      DWORD dwDisplayWell);

typedef struct tagCSSA {
  DWORD dwSize;
  HWND hwndParent;
  HINSTANCE hInstance;
  LPCSTR pTemplateName;
  DWORD dwFlags;
  LPCSTR szTitle;
  DWORD cCertStore;
  HCERTSTORE* arrayCertStore;
  LPCSTR szPurposeOid;
  DWORD cCertContext;
  PCCERT_CONTEXT* arrayCertContext;
  LPARAM lCustData;
  PFNCMHOOKPROC pfnHook;
  PFNCMFILTERPROC pfnFilter;
  LPCSTR szHelpFileName;
  DWORD dwHelpId;
  HCRYPTPROV hprov;
} CERT_SELECT_STRUCT_A, *PCERT_SELECT_STRUCT_A;

BOOL WINAPI CertSelectCertificateA(PCERT_SELECT_STRUCT_A pCertSelectInfo);

#ifdef __cplusplus
}
#endif
