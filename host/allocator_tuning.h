// The allocator settings of the programs that hold a whole document in memory: the quillbox
// command and the browser's native host. Only a program that owns its process calls this; the
// component itself never changes its host's allocator.
#pragma once

namespace quillbox::host {

// Call first thing in main, before anything allocates.
void TuneAllocatorForWholeDocuments();

}  // namespace quillbox::host
