// The library entry point and the four exports of the component module.
#include <dllentry.h>
#include <windows.h>

#include <libxslt/xslt.h>

#include "common/boundary.h"
#include "component/error_report.h"
#include "quillbox_h.h"
#include "server/registration.h"
#include "server/server_module.h"
#include "server/signature_class.h"
#ifdef _WIN32
#include "windows/codepage_encoding.h"
#endif

namespace {

HRESULT UpdateSignatureRegistry(BOOL doRegister) {
  return doRegister ? quillbox::RegisterServer() : quillbox::UnregisterServer();
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  using quillbox::ServerModule;
  if (reason == DLL_PROCESS_ATTACH) {
    ServerModule.typeLibId = LIBID_QUILLBOXLib;
    ServerModule.classTable[0] = quillbox::ClassRow{&CLSID_Signature, UpdateSignatureRegistry,
                                                    quillbox::CreateSignatureClassObject,
                                                    quillbox::CreateSignatureInstance, nullptr};
    quillbox::AttachModule(instance);
#ifdef _WIN32
    // The module's own libxml2 has no iconv: without these a document that declares windows-1250,
    // Shift_JIS or KOI8-R could be neither read nor written back. Nothing else in the process
    // uses that copy of libxml2 yet, and nothing in the module cleans its tables up, so once is
    // enough. Should one be refused, that encoding is unsupported as an unknown name is; every
    // other document still signs, so the module loads regardless.
    quillbox::RegisterCodePageEncodings();
#endif
  } else if (reason == DLL_PROCESS_DETACH) {
    quillbox::DetachModule();
    // The error report outlives every object but not the module: its texts go with it.
    quillbox::ClearErrorState();
    // Starting xmlsec makes libxslt create its process-wide lock, and only Transform's clean-up
    // frees it again. libxslt may be unloaded with this module, and the lock with it unreleased:
    // a process that signs and unloads the module would lose it every time.
    xsltCleanupGlobals();
  }
  return TRUE;
}

QB_DLL_ENTRY_POINT(DllMain)

STDAPI DllRegisterServer() __attribute__((visibility("default")));
STDAPI DllUnregisterServer() __attribute__((visibility("default")));

STDAPI DllRegisterServer() {
  return quillbox::HresultBoundary([] { return quillbox::ServerModule.classTable[0].updateRegistry(TRUE); });
}
STDAPI DllUnregisterServer() {
  return quillbox::HresultBoundary([] { return quillbox::ServerModule.classTable[0].updateRegistry(FALSE); });
}
