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
}

}  // namespace quillbox::host
