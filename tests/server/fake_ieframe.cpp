// A stand-in for the browser's library: its protected-mode query answers what the test asks for
// through QUILLBOX_TEST_PROTECTED_MODE ("protected", "not-protected", "denied", "failed"). Built
// for Linux by the server tests and for Windows by the tests under Wine.
#include <windows.h>
#include "support/fake_export.h"

#include <cstdlib>
#include <cstring>

FAKE_EXPORT HRESULT WINAPI IEIsProtectedModeProcess(BOOL* protectedMode) {
  const char* answer = std::getenv("QUILLBOX_TEST_PROTECTED_MODE");
  if (answer == nullptr) answer = "";
  if (std::strcmp(answer, "denied") == 0) return E_ACCESSDENIED;
  if (std::strcmp(answer, "failed") == 0) {
    *protectedMode = TRUE;  // whatever it wrote, a failed query is no answer
    return E_FAIL;
  }
  if (std::strcmp(answer, "protected-s-false") == 0) {
    *protectedMode = 7;  // any non-zero value, under a success status other than S_OK
    return S_FALSE;
  }
  *protectedMode = std::strcmp(answer, "protected") == 0 ? TRUE : FALSE;
  return S_OK;
}
