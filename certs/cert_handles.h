// Owning wrappers for the certificate store's handles, so every path releases each exactly once.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <type_traits>

namespace quillbox {

struct CertContextDeleter {
  void operator()(const CERT_CONTEXT* certificate) const { CertFreeCertificateContext(certificate); }
};
// One certificate reference.
using UniqueCertContext = std::unique_ptr<const CERT_CONTEXT, CertContextDeleter>;

struct CertStoreDeleter {
  void operator()(void* store) const { CertCloseStore(store, 0); }
};
// An open store, closed with flags 0.
using UniqueCertStore = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, CertStoreDeleter>;

struct ModuleDeleter {
  void operator()(HINSTANCE__* module) const { FreeLibrary(module); }
};
// A library loaded with LoadLibraryA.
using UniqueModule = std::unique_ptr<HINSTANCE__, ModuleDeleter>;

}  // namespace quillbox
