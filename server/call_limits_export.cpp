#include "server/call_limits_export.h"

#include "xml/call_budget.h"

STDAPI QuillboxGetCallLimits(QUILLBOX_CALL_LIMITS* limits) __attribute__((visibility("default")));
STDAPI QuillboxSetCallLimits(const QUILLBOX_CALL_LIMITS* limits) __attribute__((visibility("default")));

STDAPI QuillboxGetCallLimits(QUILLBOX_CALL_LIMITS* limits) {
  if (limits == nullptr || limits->cbSize != sizeof(QUILLBOX_CALL_LIMITS)) return E_INVALIDARG;
  const quillbox::CallLimits current = quillbox::CurrentCallLimits();
  limits->cpuMilliseconds = current.cpuMilliseconds;
  limits->memoryBytes = current.memoryBytes;
  limits->transformOperations = current.transformOperations;
  return S_OK;
}

STDAPI QuillboxSetCallLimits(const QUILLBOX_CALL_LIMITS* limits) {
  if (limits == nullptr || limits->cbSize != sizeof(QUILLBOX_CALL_LIMITS) || limits->cpuMilliseconds == 0 ||
      limits->memoryBytes == 0 || limits->transformOperations == 0)
    return E_INVALIDARG;
  quillbox::CallLimits next = quillbox::CurrentCallLimits();
  next.cpuMilliseconds = limits->cpuMilliseconds;
  next.memoryBytes = limits->memoryBytes;
  next.transformOperations = limits->transformOperations;
  quillbox::SetCallLimits(next);
  return S_OK;
}
