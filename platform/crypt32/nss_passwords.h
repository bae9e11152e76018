// The passwords and PINs NSS asks for: one source of truth for every caller, and a count of wrong
// answers per token so that a card's retry counter is never used up behind the user's back.
#pragma once

#include <qbcrypt.h>

#include <secmodt.h>

namespace qb::platform::nss {

// The function NSS calls (PK11_SetPasswordFunc) when a token needs a login.
char* PasswordCallback(PK11SlotInfo* slot, PRBool retry, void* argument);

void SetPasswordPrompt(QB_CRYPT_PASSWORD_PROMPT prompt, void* context);

// Forgets the wrong answers counted so far; a new session logs in afresh.
void ForgetPasswordTries();

}  // namespace qb::platform::nss
