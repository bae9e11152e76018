// Work whose depth the input decides runs on a thread of the component's own, with a stack far
// larger than a host's thread may have: libxslt copies result trees recursively, and a stylesheet
// can build one deep enough to need hundreds of megabytes of stack. The call budget's stack check
// (CallBudget) stops the work before it reaches the end of whichever stack it has.
#pragma once

#include <cstddef>
#include <functional>

namespace quillbox {

// Reserved, not committed: the pages are only taken as the work goes deep.
inline constexpr std::size_t kLargeStackBytes = std::size_t{256} << 20;

// Runs `work` on a new thread with a stack of kLargeStackBytes and waits for it to end; an
// exception `work` throws is thrown again here. When no thread can be started, `work` runs on the
// calling thread, as deep as its own stack allows. The calling thread's per-thread state is not
// the worker's: libxml2 keeps its parser defaults and error handlers for each thread.
void RunWithLargeStack(const std::function<void()>& work);

}  // namespace quillbox
