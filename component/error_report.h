// The process-wide error report that every Signature object reads: the number and name of the
// last failure and the first crypto-library report of the current operation. Objects on any
// thread write and read it at once (checks before a call reaches the XML libraries, object
// creation and the property reads run outside the libraries' lock), so it has a lock of its own.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/error.h"

#include <mutex>

namespace quillbox {

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
