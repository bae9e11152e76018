// The question the native messaging host asks the user before a web page may use the signing
// component: an entry point of the dialog module (cryptdlg.dll), reached through LoadLibraryA and
// GetProcAddress("QbAskSiteConsentA"). This header only describes it.
#pragma once

#include "windef.h"

// What the page asks for, so that the question can say so.
enum QB_SITE_USE : DWORD {
  QB_SITE_USE_SIGN = 1,
  QB_SITE_USE_TRANSFORM = 2,
  QB_SITE_USE_CHOOSE_CERTIFICATE = 3,
};

enum QB_SITE_CONSENT : DWORD {
  QB_SITE_CONSENT_DENIED = 0,     // "Deny", or the window was closed
  QB_SITE_CONSENT_ONCE = 1,       // "Allow once"
  QB_SITE_CONSENT_ALWAYS = 2,     // "Always allow"
  QB_SITE_CONSENT_NOT_ASKED = 3,  // no display to ask on (there is never a terminal question)
};

// `origin` is the page's serialised origin (ASCII); `use` a QB_SITE_USE. Shows a modal window on
// the user's display and returns a QB_SITE_CONSENT. Called on the thread of the module's other
// dialogs.
using PFNQBASKSITECONSENTA = DWORD(WINAPI*)(LPCSTR origin, DWORD use);
