// The signature library's session: started and ended within each Sign call, never kept open
// between calls.
#pragma once

#include "common/error.h"

namespace quillbox {

// Checks the library versions, makes the XML library's process-wide settings and starts xmlsec
// and its crypto back end. Error::None when the session is up, else the failing step's error.
// A failed start undoes nothing: EndCryptoSession ends whatever part of it began.
Error StartCryptoSession();

// Ends the back end and xmlsec. Safe whether the session started fully, partly or not at all.
void EndCryptoSession();

// Ends the session when it goes out of scope, on every path of the call that holds it.
class CryptoSessionEnd {
 public:
  CryptoSessionEnd() = default;
  ~CryptoSessionEnd() { EndCryptoSession(); }
  CryptoSessionEnd(const CryptoSessionEnd&) = delete;
  CryptoSessionEnd& operator=(const CryptoSessionEnd&) = delete;
};

}  // namespace quillbox
