// Makes one of a program's C++ allocations fail on purpose, so that a test can fail each
// allocation a call makes in turn and see the call fail cleanly every time. The program links
// quillbox_failing_allocator, which replaces operator new and delete in every form for the whole
// process, the loaded modules included.
#pragma once

namespace quillbox::test {

// The `at`-th allocation from now fails (1 is the next one); 0 fails none.
void FailAllocation(long at);
// Stops failing; answers whether the allocation chosen to fail was reached.
bool StopFailing();
// False when a memory checker has put its own allocator in place of this one, leaving nothing to
// inject failures into.
bool FailureInjectionWorks();

}  // namespace quillbox::test
