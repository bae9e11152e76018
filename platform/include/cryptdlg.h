// The certificate selection dialog of cryptdlg.dll. The module is reached at run time through
// LoadLibraryA("cryptdlg.dll"); this header only describes its entry point.
#pragma once

#include "windef.h"
#include "wincrypt.h"

using PFNCMHOOKPROC = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
using PFNCMFILTERPROC = BOOL(WINAPI*)(PCCERT_CONTEXT, LPARAM, DWORD, DWORD);

struct CERT_SELECT_STRUCT_A {
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
};
using PCERT_SELECT_STRUCT_A = CERT_SELECT_STRUCT_A*;

using PFNCERTSELECTCERTIFICATEA = BOOL(WINAPI*)(PCERT_SELECT_STRUCT_A request);
