// The platform's own additions to crypt32, with no Windows counterpart: the NSS session behind the
// certificate store, the password prompt hook, and the seams that tests use. See
// docs/certificate-store.md.
#pragma once

#include "windef.h"
#include "wincrypt.h"

// What the password prompt is told. Texts are UTF-8. `cbSize` is sizeof(QB_CRYPT_PASSWORD_REQUEST)
// of the caller; a prompt reads only the fields that size covers.
struct QB_CRYPT_PASSWORD_REQUEST {
  DWORD cbSize;
  LPCSTR tokenName;  // the token as it names itself ("NSS Certificate DB", a card's label)
  LPCSTR database;   // the database a software token belongs to ("sql:/home/u/.pki/nssdb"); "" for a card
  BOOL pin;          // TRUE: a card or other PKCS#11 token, asked for its PIN; FALSE: a database password
  BOOL retry;        // the previous answer for this token was wrong
  DWORD triesLeft;   // answers the platform still takes for the token, this one included (1 to 3)
  BOOL finalTry;     // the token says one more wrong PIN locks it
  BOOL countLow;     // the token says a wrong PIN was entered since the last right one
};
using PQB_CRYPT_PASSWORD_REQUEST = const QB_CRYPT_PASSWORD_REQUEST*;

// Asked for the password or PIN of a token. Return TRUE with the answer (UTF-8, zero-terminated,
// at most `size` bytes including the zero) written to `password`, or FALSE to give up. Called on
// the thread that needs the key.
using QB_CRYPT_PASSWORD_PROMPT = BOOL(WINAPI*)(void* context, PQB_CRYPT_PASSWORD_REQUEST request, LPSTR password,
                                               DWORD size);

// Where a certificate's private key is, learnt without logging in to any token.
enum QB_CERT_KEY_STATE : DWORD {
  QB_CERT_KEY_NONE = 0,          // no token holds a key for the certificate
  QB_CERT_KEY_READY = 1,         // the key can be used now (no login needed, or logged in)
  QB_CERT_KEY_LOGIN_NEEDED = 2,  // the key is there; using it needs the token's password or PIN
  QB_CERT_KEY_LOCKED = 3,        // the key is there, but the token has locked its PIN
  // The token was never given a password or PIN, so no private key can be on it: an NSS database
  // whose key4.db is missing or empty (NSS makes a new, empty one in its place) or a blank card.
  QB_CERT_KEY_UNINITIALISED = 4,
};

struct QB_CERT_KEY_INFO {
  DWORD cbSize;
  QB_CERT_KEY_STATE state;
  BOOL hardware;        // the key's token is a device or other PKCS#11 module, not an NSS database
  CHAR tokenName[256];  // the token that holds the key (UTF-8); "" without a key
  // Where the certificate comes from: the NSS database ("sql:/home/u/.pki/nssdb"), or the token's
  // name for a certificate kept on a PKCS#11 token.
  CHAR source[1024];
  CHAR sourceLabel[64];  // "Chromium", "Firefox", "QUILLBOX_NSS_DB" or "token"
};

// One database the personal store is made of, or would be made of if it existed.
struct QB_CRYPT_STORE_DATABASE {
  DWORD cbSize;
  CHAR label[64];        // "Chromium", "Firefox" or "QUILLBOX_NSS_DB"
  CHAR location[1024];   // as NSS names it; "" when it could not be worked out (no Firefox profile)
  CHAR lookedFor[1024];  // what was looked at to find it (the directory, the profile list)
  BOOL exists;           // its certificate file is there
  BOOL open;             // the open session holds it
};

// What is wrong with the key database (key4.db) of one of the personal store's NSS databases, as
// far as can be told without a password. A missing or empty one holds no private key, and the
// token NSS makes of it asks for a password that was never set.
enum QB_KEY_DATABASE_STATE : DWORD {
  QB_KEY_DATABASE_FINE = 0,        // nothing is known to be wrong (also for a database that is not SQL)
  QB_KEY_DATABASE_MISSING = 1,     // there was none when the session opened the database; NSS made an empty one
  QB_KEY_DATABASE_EMPTY = 2,       // it holds no keys and no password: an empty file, or one never given a password
  QB_KEY_DATABASE_UNREADABLE = 3,  // it cannot be read: no permission, or not an SQLite database (damaged)
};

extern "C" {

// Opens the process's NSS session if it is not open. With `requireDatabase` the session must hold
// the user's certificate database (QUILLBOX_NSS_DB); without it, a session without a database
// (crypto only) is opened when there is no database. TRUE when a suitable session is open. The
// session is shut down by QbCryptCloseSession, or at the latest when the process exits (before the
// statics of the PKCS#11 modules it loaded go) or the platform library unloads.
QB_PLATFORM_API BOOL WINAPI QbCryptOpenSession(BOOL requireDatabase);

// Ends the NSS session. TRUE when NSS shut down cleanly or no session was open; FALSE when NSS
// reported that objects were still in use (a certificate or key reference was leaked), with
// GetLastError() giving ERROR_BUSY. Either way the session is closed afterwards.
QB_PLATFORM_API BOOL WINAPI QbCryptCloseSession();

// Installs the password prompt (null removes it). Where answers come from, for every command and
// script alike: the file named by QUILLBOX_NSS_PASSWORD_FILE when that is set (and then never a
// prompt), else the prompt, else nothing (key access needing a login fails). A wrong answer is
// never given again on its own: per token and session at most three wrong answers in a row, and
// one from the file; a token whose PIN is locked is not asked at all.
QB_PLATFORM_API void WINAPI QbCryptSetPasswordPrompt(QB_CRYPT_PASSWORD_PROMPT prompt, void* context);

// The `index`-th database of the personal store (0 first): the one QUILLBOX_NSS_DB names
// ("chromium", "firefox" or a database), else Chromium's sql:$HOME/.pki/nssdb and Firefox's
// default profile. FALSE with ERROR_NO_MORE_ITEMS past the last.
QB_PLATFORM_API BOOL WINAPI QbCryptStoreDatabase(DWORD index, QB_CRYPT_STORE_DATABASE* database);

// The state of the key database of `location` (as QbCryptStoreDatabase names it; null: the database
// the session opened first), and its path (UTF-8, cut to fit `size` bytes with the zero; "" when
// the database is not an SQL one). For a database the session opened, what its key database was
// before NSS opened it, else whether the token was ever given a password; for any other, what
// the file system shows. Never logs in.
QB_PLATFORM_API QB_KEY_DATABASE_STATE WINAPI QbCryptKeyDatabaseState(LPCSTR location, LPSTR path, DWORD size);

// The token holding the private key of `certificate`: its name (UTF-8, cut to fit `size` bytes with
// the zero) and whether it is a hardware device. FALSE with CRYPT_E_NOT_FOUND when no token holds a
// key for it. Windows answers this through the key provider of the certificate's key. Never logs in.
QB_PLATFORM_API BOOL WINAPI QbCertKeyLocation(PCCERT_CONTEXT certificate, LPSTR tokenName, DWORD size, BOOL* hardware);

// The same and more: whether the key can be used without a login, and where the certificate comes
// from. `info->cbSize` must be set. Never logs in.
QB_PLATFORM_API BOOL WINAPI QbCertKeyInfo(PCCERT_CONTEXT certificate, QB_CERT_KEY_INFO* info);

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
