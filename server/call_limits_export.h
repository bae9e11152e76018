// For a host that embeds the module: the bounds every Sign and Transform works within, in place
// of the defaults or the environment's QUILLBOX_CPU_TIME_LIMIT, QUILLBOX_MEMORY_LIMIT and
// QUILLBOX_XPATH_OPERATION_LIMIT. Found with GetProcAddress on the loaded module; the limits hold
// for calls that start after the setting, on every object and thread.
#pragma once

#include <windows.h>

struct QUILLBOX_CALL_LIMITS {
  DWORD cbSize;                   // sizeof(QUILLBOX_CALL_LIMITS)
  ULONGLONG cpuMilliseconds;      // CPU time of one call
  ULONGLONG memoryBytes;          // memory one call holds beyond its input's allowance
  ULONGLONG transformOperations;  // instructions, and XPath steps, of one transformation
};

// E_INVALIDARG for a null pointer, a size other than the structure's, or a zero limit.
STDAPI QuillboxGetCallLimits(QUILLBOX_CALL_LIMITS* limits);
STDAPI QuillboxSetCallLimits(const QUILLBOX_CALL_LIMITS* limits);
using PFN_QUILLBOX_SET_CALL_LIMITS = HRESULT(STDAPICALLTYPE*)(const QUILLBOX_CALL_LIMITS* limits);
using PFN_QUILLBOX_GET_CALL_LIMITS = HRESULT(STDAPICALLTYPE*)(QUILLBOX_CALL_LIMITS* limits);
