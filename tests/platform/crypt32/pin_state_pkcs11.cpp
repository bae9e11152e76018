// A PKCS#11 module in front of SoftHSM2 that reports the PIN states SoftHSM2 never reaches on its
// own: QUILLBOX_TEST_PIN_STATE=final says one more wrong PIN locks the token, =locked that the PIN
// is locked (and every login fails with CKR_PIN_LOCKED). Everything else goes to SoftHSM2, whose
// path QUILLBOX_TEST_REAL_PKCS11 gives. When QUILLBOX_TEST_FINALIZED names a file, a clean
// C_Finalize (NSS shutting down with the module intact) writes it.
#include <nss/pkcs11.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

CK_FUNCTION_LIST gFunctions;
CK_FUNCTION_LIST_PTR gReal = nullptr;

bool StateIs(const char* state) {
  const char* value = std::getenv("QUILLBOX_TEST_PIN_STATE");
  return value != nullptr && std::strcmp(value, state) == 0;
}

CK_RV GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
  const CK_RV rv = gReal->C_GetTokenInfo(slot, info);
  if (rv == CKR_OK && StateIs("locked")) info->flags |= CKF_USER_PIN_LOCKED;
  if (rv == CKR_OK && StateIs("final")) info->flags |= CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_COUNT_LOW;
  return rv;
}

CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
  if (StateIs("locked")) return CKR_PIN_LOCKED;
  return gReal->C_Login(session, user, pin, length);
}

CK_RV Finalize(CK_VOID_PTR reserved) {
  const CK_RV rv = gReal->C_Finalize(reserved);
  if (const char* marker = std::getenv("QUILLBOX_TEST_FINALIZED"); marker != nullptr && rv == CKR_OK) {
    if (std::FILE* file = std::fopen(marker, "w")) {
      std::fputs("finalized\n", file);
      std::fclose(file);
    }
  }
  return rv;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
  if (list == nullptr) return CKR_ARGUMENTS_BAD;
  if (gReal == nullptr) {
    const char* path = std::getenv("QUILLBOX_TEST_REAL_PKCS11");
    // Stays loaded for the process, as NSS keeps a module loaded until it shuts down.
    void* real = path != nullptr ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
    auto get = real != nullptr ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(real, "C_GetFunctionList")) : nullptr;
    if (get == nullptr || get(&gReal) != CKR_OK) return CKR_GENERAL_ERROR;
    gFunctions = *gReal;
    gFunctions.C_GetTokenInfo = GetTokenInfo;
    gFunctions.C_Login = Login;
    gFunctions.C_Finalize = Finalize;
  }
  *list = &gFunctions;
  return CKR_OK;
}
