// What one call may spend in the XML libraries: CPU time, memory, and stack.
//
// A stylesheet or document from a web page can ask for any amount of work: loops nested six deep
// over every element, a result tree fragment doubled forty times, a tree deep enough that copying
// it recursively runs off the end of the stack. The libraries bound none of these on their own.
// Every allocation they make goes through libxml2's allocator functions, so the component puts
// its own in front of whatever the process had for the length of a call: each allocation checks
// the call's memory, its thread's CPU time and how much stack is left, and once any is spent the
// allocation fails, the running transformation is told to stop, and the call fails. What was
// produced after that point is never handed back.
#pragma once

#include <libxslt/xsltInternals.h>

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace quillbox {

struct CallLimits {
  // CPU time of the thread doing the call's work.
  std::uint64_t cpuMilliseconds = 10'000;
  // Memory held at once through the XML libraries, beyond an allowance for the input itself.
  std::uint64_t memoryBytes = std::uint64_t{1} << 30;
  // The input's allowance per byte of its UTF-16 text: the parsed tree, the canonical form and the
  // serialised result each take a few times the text.
  std::uint64_t memoryPerInputByte = 16;
  // Instructions and XPath steps of one transformation, counted together. The benchmarks'
  // stylesheet over a 50 MB form takes about 6.4 million; this is about seven seconds of steps.
  std::uint64_t transformOperations = 500'000'000;
};

// The limits calls start with: the defaults above, or the environment's QUILLBOX_CPU_TIME_LIMIT
// (seconds), QUILLBOX_MEMORY_LIMIT (bytes, or with a K, M or G suffix) and
// QUILLBOX_XPATH_OPERATION_LIMIT, read once; or what the host last set.
CallLimits CurrentCallLimits();
void SetCallLimits(const CallLimits& limits);

// Stack the work leaves unused below it, so that the libraries' deepest frames between two
// allocations, and the allocator itself, always fit.
inline constexpr std::size_t kStackReserve = std::size_t{1} << 20;

// One call's budget, on the thread that does the call's work, while it lives. Held inside the
// process-wide lock on the XML libraries (XmlLibraryUse): the allocator functions are the
// process's. Budgets on one thread nest; the innermost counts.
class CallBudget {
 public:
  explicit CallBudget(std::size_t inputBytes, const CallLimits& limits = CurrentCallLimits());
  ~CallBudget();
  CallBudget(const CallBudget&) = delete;
  CallBudget& operator=(const CallBudget&) = delete;

  // True once the call ran out of time, memory or stack: whatever the libraries returned since
  // may be incomplete.
  bool Exceeded() const { return exceeded_; }

  // The limits the budget was made with.
  const CallLimits& Limits() const { return limits_; }

  // The transformation that is to stop at its next instruction once the budget is spent.
  void Watch(xsltTransformContextPtr transform);

 private:
  friend struct BudgetedAllocator;

  bool Admit(std::size_t bytes);
  void Exceed();
  void Add(std::int64_t bytes) { used_ += bytes; }
  ULONGLONG CpuTime() const;

  CallBudget* outer_;
  CallLimits limits_;
  std::int64_t allowance_;
  std::int64_t used_ = 0;
  ULONGLONG cpuLimit_;
  ULONGLONG cpuCheckedAt_ = 0;  // the coarse clock when the CPU time was last read
  ULONG_PTR stackFloor_ = 0;
  unsigned untilClock_ = 0;
  bool exceeded_ = false;
  bool refusing_ = false;  // allocations fail from here on
  xsltTransformContextPtr transform_ = nullptr;
};

}  // namespace quillbox
