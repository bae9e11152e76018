// The platform's own additions to crypt32, with no Windows counterpart: the NSS session behind the
// certificate store, the password prompt hook, and the seams that tests use. See
// docs/certificate-store.md.
#pragma once

#include "windef.h"
#include "wincrypt.h"

// Asked for the password of a token (the NSS database itself or a PKCS#11 token it loads).
// `tokenName` is UTF-8; `retry` is TRUE when the previous answer was wrong. Return TRUE with the
// password (UTF-8, zero-terminated, at most `size` bytes including the zero) written to
// `password`, or FALSE to give up. Called on the thread that needs the key.
using QB_CRYPT_PASSWORD_PROMPT = BOOL(WINAPI*)(void* context, LPCSTR tokenName, BOOL retry, LPSTR password,
                                               DWORD size);

extern "C" {

// Opens the process's NSS session if it is not open. With `requireDatabase` the session must hold
// the user's certificate database (QUILLBOX_NSS_DB); without it, a session without a database
// (crypto only) is opened when there is no database. TRUE when a suitable session is open.
QB_PLATFORM_API BOOL WINAPI QbCryptOpenSession(BOOL requireDatabase);

// Ends the NSS session. TRUE when NSS shut down cleanly or no session was open; FALSE when NSS
// reported that objects were still in use (a certificate or key reference was leaked), with
// GetLastError() giving ERROR_BUSY. Either way the session is closed afterwards.
QB_PLATFORM_API BOOL WINAPI QbCryptCloseSession();

// Installs the password prompt (null removes it). Without one, the file named by
// QUILLBOX_NSS_PASSWORD_FILE answers; without that, key access needing a password fails.
QB_PLATFORM_API void WINAPI QbCryptSetPasswordPrompt(QB_CRYPT_PASSWORD_PROMPT prompt, void* context);

// The token holding the private key of `certificate`: its name (UTF-8, cut to fit `size` bytes with
// the zero) and whether it is a hardware device. FALSE with CRYPT_E_NOT_FOUND when no token holds a
// key for it. Windows answers this through the key provider of the certificate's key.
QB_PLATFORM_API BOOL WINAPI QbCertKeyLocation(PCCERT_CONTEXT certificate, LPSTR tokenName, DWORD size, BOOL* hardware);

// Test seams. The reference count of a certificate context (0 for null).
QB_PLATFORM_API LONG WINAPI QbCertReferenceCount(PCCERT_CONTEXT certificate);
// How many times opening the personal store has listed it from NSS in this process; an open that
// reused the remembered listing does not count.
QB_PLATFORM_API LONG WINAPI QbCertStoreListings();
// Makes the `n`-th following CertDuplicateCertificateContext call (1 = the next) fail with null
// and ERROR_NOT_ENOUGH_MEMORY; 0 switches this off. Windows's call fails only on exhaustion.
QB_PLATFORM_API void WINAPI QbCertFailDuplicateAt(LONG n);

}  // extern "C"

#define ERROR_BUSY 170L
