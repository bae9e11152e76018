// Owning wrappers for the signature library's keys, key data and signing contexts. They release
// through the active library, so a test that wraps the library sees every release.
#pragma once

#include "signing/signature_library.h"

#include <memory>

namespace quillbox {

struct KeyDataDestroyer {
  void operator()(xmlSecKeyData* data) const { ActiveSignatureLibrary().KeyDataDestroy(data); }
};
using UniqueKeyData = std::unique_ptr<xmlSecKeyData, KeyDataDestroyer>;

struct KeyDestroyer {
  void operator()(xmlSecKey* key) const { ActiveSignatureLibrary().KeyDestroy(key); }
};
using UniqueKey = std::unique_ptr<xmlSecKey, KeyDestroyer>;

// The context never owns the key: it is taken out before the context goes, so destroying the
// context leaves the key to its own owner.
struct ContextDestroyer {
  void operator()(xmlSecDSigCtxPtr context) const {
    context->signKey = nullptr;
    ActiveSignatureLibrary().DSigCtxDestroy(context);
  }
};
using UniqueContext = std::unique_ptr<xmlSecDSigCtx, ContextDestroyer>;

}  // namespace quillbox
