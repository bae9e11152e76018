#include "host/allocator_tuning.h"

#include <malloc.h>

namespace quillbox::host {

void TuneAllocatorForWholeDocuments() {
  // A parsed document is millions of small nodes, freed together when the document goes. glibc
  // keeps freed small chunks unmerged in its fast bins, then merges all of them again each time a
  // large block (a document's text) is freed or wanted: on a 50 MB document that merging took a
  // fifth of the command's time. Without fast bins a small chunk is merged once, when it is freed;
  // the per-thread cache still serves the short-lived small allocations.
  (void)mallopt(M_MXFAST, 0);
  // Transform runs on a thread of its own (libxslt recurses deeper than a main thread's stack
  // need allow), and glibc gives such a thread an arena of 64 MB heaps grown a page range at a
  // time with mprotect: a 50 MB document's tree took thousands of those calls and a third more
  // system time than on the main heap. Only one thread at a time works on a document here, so
  // one arena costs no contention.
  (void)mallopt(M_ARENA_MAX, 1);
}

}  // namespace quillbox::host
