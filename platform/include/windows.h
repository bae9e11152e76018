// The Windows API surface that Quillbox's component code is written against, provided on Linux by
// libquillbox-platform. Only names the component actually uses live here; each is laid out as the
// Windows SDK lays it out, so the same sources build against the real headers.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winnls.h"
#include "winreg.h"
#include "winuser.h"
