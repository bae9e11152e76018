#include "xml/call_budget.h"

#include <libxml/globals.h>
#include <libxml/xmlmemory.h>
#include <libxml/xpath.h>

#include <malloc.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

namespace quillbox {
namespace {

// Every allocation and free the libraries make reads this. In a module loaded at run time a
// thread_local is reached through a resolver call by default; the initial-exec model reads it
// straight from the thread's block, taking a few bytes of the room the loader keeps for that.
#if defined(__ELF__)
#define QB_FAST_THREAD_LOCAL __attribute__((tls_model("initial-exec")))
#else
#define QB_FAST_THREAD_LOCAL
#endif
thread_local CallBudget* current QB_FAST_THREAD_LOCAL = nullptr;

// How often an allocation looks at the clock, and how long it lets pass before asking for the
// thread's CPU time. The CPU time is a system call, and allocations come by the million in a large
// document; the coarse clock is not. A thread cannot use more CPU time than passes on the clock,
// so the limit is overrun by at most one interval.
constexpr unsigned kAllocationsPerClock = 256;
constexpr ULONGLONG kMillisecondsPerCpuTime = 10;

// A count, with an optional K, M or G suffix (powers of 1024). Zero on anything else.
std::uint64_t ParseBytes(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text) return 0;
  unsigned shift = 0;
  if (*end == 'K' || *end == 'k') shift = 10;
  if (*end == 'M' || *end == 'm') shift = 20;
  if (*end == 'G' || *end == 'g') shift = 30;
  if (shift != 0) ++end;
  if (*end != '\0' || value > (std::numeric_limits<std::uint64_t>::max() >> shift)) return 0;
  return static_cast<std::uint64_t>(value) << shift;
}

std::uint64_t ParseMilliseconds(const char* text) {
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(seconds > 0) || seconds > 1e9) return 0;
  return static_cast<std::uint64_t>(std::llround(seconds * 1000.0));
}

struct LimitStore {
  std::atomic<std::uint64_t> cpuMilliseconds;
  std::atomic<std::uint64_t> memoryBytes;
  std::atomic<std::uint64_t> memoryPerInputByte;
  std::atomic<std::uint64_t> transformOperations;

  LimitStore() {
    CallLimits limits;
    if (const char* text = std::getenv("QUILLBOX_CPU_TIME_LIMIT"); text != nullptr && ParseMilliseconds(text) != 0)
      limits.cpuMilliseconds = ParseMilliseconds(text);
    if (const char* text = std::getenv("QUILLBOX_MEMORY_LIMIT"); text != nullptr && ParseBytes(text) != 0)
      limits.memoryBytes = ParseBytes(text);
    if (const char* text = std::getenv("QUILLBOX_XPATH_OPERATION_LIMIT"); text != nullptr && ParseBytes(text) != 0)
      limits.transformOperations = ParseBytes(text);
    Store(limits);
  }

  void Store(const CallLimits& limits) {
    cpuMilliseconds.store(limits.cpuMilliseconds, std::memory_order_relaxed);
    memoryBytes.store(limits.memoryBytes, std::memory_order_relaxed);
    memoryPerInputByte.store(limits.memoryPerInputByte, std::memory_order_relaxed);
    transformOperations.store(limits.transformOperations, std::memory_order_relaxed);
  }
};

LimitStore& Limits() {
  static LimitStore store;
  return store;
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
  return b != 0 && a > std::numeric_limits<std::uint64_t>::max() / b ? std::numeric_limits<std::uint64_t>::max()
                                                                      : a * b;
}

ULONG_PTR StackPosition() {
#if defined(__GNUC__)
  return reinterpret_cast<ULONG_PTR>(__builtin_frame_address(0));
#else
  volatile char probe = 0;
  return reinterpret_cast<ULONG_PTR>(&probe);
#endif
}

struct AllocatorFunctions {
  xmlFreeFunc free = nullptr;
  xmlMallocFunc malloc = nullptr;
  xmlMallocFunc mallocAtomic = nullptr;
  xmlReallocFunc realloc = nullptr;
  xmlStrdupFunc strdup = nullptr;
};

}  // namespace

// The functions put in front of the process's allocator. They run on every thread that uses
// libxml2 while a call is under way, the host's included; only a thread with a budget counts.
struct BudgetedAllocator {
  static inline AllocatorFunctions previous;
  // Whether the functions behind are the C runtime's, whose blocks tell their size; behind a
  // host's own allocator only time and stack are counted.
  static inline bool measured = false;
  static inline int installed = 0;

  static void Install() {
    if (installed++ != 0) return;
    xmlGcMemGet(&previous.free, &previous.malloc, &previous.mallocAtomic, &previous.realloc, &previous.strdup);
    measured = previous.free == &::free && previous.malloc == &::malloc && previous.mallocAtomic == &::malloc &&
               previous.realloc == &::realloc;
    xmlGcMemSetup(Free, Malloc, MallocAtomic, Realloc, Strdup);
  }

  static void Uninstall() {
    if (--installed != 0) return;
    // A host that set functions of its own meanwhile keeps them.
    if (xmlMalloc == Malloc)
      xmlGcMemSetup(previous.free, previous.malloc, previous.mallocAtomic, previous.realloc, previous.strdup);
  }

  static void Free(void* block) {
    if (CallBudget* budget = current; budget != nullptr && measured && block != nullptr)
      budget->Add(-static_cast<std::int64_t>(_msize(block)));
    previous.free(block);
  }

  static void* Allocate(xmlMallocFunc allocate, std::size_t bytes) {
    CallBudget* budget = current;
    if (budget != nullptr && !budget->Admit(bytes)) return nullptr;
    void* block = allocate(bytes);
    if (budget != nullptr && measured && block != nullptr) budget->Add(static_cast<std::int64_t>(_msize(block)));
    return block;
  }

  static void* Malloc(std::size_t bytes) { return Allocate(previous.malloc, bytes); }
  static void* MallocAtomic(std::size_t bytes) { return Allocate(previous.mallocAtomic, bytes); }

  static void* Realloc(void* block, std::size_t bytes) {
    CallBudget* budget = current;
    if (budget == nullptr) return previous.realloc(block, bytes);
    const std::size_t before = measured ? _msize(block) : 0;
    if (!budget->Admit(bytes > before ? bytes - before : 0)) return nullptr;
    void* moved = previous.realloc(block, bytes);
    if (measured && moved != nullptr)
      budget->Add(static_cast<std::int64_t>(_msize(moved)) - static_cast<std::int64_t>(before));
    return moved;
  }

  // Through Malloc, so that the copy is counted and is freed by the matching function.
  static char* Strdup(const char* text) {
    if (text == nullptr) return nullptr;
    const std::size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(Malloc(length + 1));
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
  }
};

CallLimits CurrentCallLimits() {
  const LimitStore& store = Limits();
  CallLimits limits;
  limits.cpuMilliseconds = store.cpuMilliseconds.load(std::memory_order_relaxed);
  limits.memoryBytes = store.memoryBytes.load(std::memory_order_relaxed);
  limits.memoryPerInputByte = store.memoryPerInputByte.load(std::memory_order_relaxed);
  limits.transformOperations = store.transformOperations.load(std::memory_order_relaxed);
  return limits;
}

void SetCallLimits(const CallLimits& limits) { Limits().Store(limits); }

CallBudget::CallBudget(std::size_t inputBytes, const CallLimits& limits) : outer_(current), limits_(limits) {
  const std::uint64_t allowance =
      SaturatingAdd(limits.memoryBytes, SaturatingMultiply(limits.memoryPerInputByte, inputBytes));
  allowance_ = static_cast<std::int64_t>(
      std::min<std::uint64_t>(allowance, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
  cpuLimit_ = SaturatingAdd(CpuTime(), SaturatingMultiply(limits.cpuMilliseconds, 10'000));
  cpuCheckedAt_ = GetTickCount64();
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  // A thread whose stack is unknown is not checked rather than refused everything.
  if (low != 0 && high > low) stackFloor_ = low + std::min<ULONG_PTR>(kStackReserve, (high - low) / 4);
  BudgetedAllocator::Install();
  current = this;
}

CallBudget::~CallBudget() {
  current = outer_;
  BudgetedAllocator::Uninstall();
}

void CallBudget::Watch(xsltTransformContextPtr transform) {
  transform_ = transform;
  if (exceeded_) Exceed();
}

ULONGLONG CallBudget::CpuTime() const {
  FILETIME creation{};
  FILETIME exit{};
  FILETIME kernel{};
  FILETIME user{};
  if (!GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return ticks(kernel) + ticks(user);
}

bool CallBudget::Admit(std::size_t bytes) {
  if (refusing_) return false;
  const bool stackLeft = stackFloor_ == 0 || StackPosition() >= stackFloor_;
  const bool memoryLeft =
      bytes <= static_cast<std::size_t>(allowance_) && used_ <= allowance_ - static_cast<std::int64_t>(bytes);
  if (!stackLeft || !memoryLeft) {
    refusing_ = true;
    Exceed();
    return false;
  }
  if (untilClock_-- == 0) {
    untilClock_ = kAllocationsPerClock;
    const ULONGLONG now = GetTickCount64();
    if (!exceeded_ && now - cpuCheckedAt_ >= kMillisecondsPerCpuTime) {
      cpuCheckedAt_ = now;
      if (CpuTime() > cpuLimit_) {
        Exceed();
        // A transformation stops at its next instruction and keeps getting memory until then:
        // libxml2's XPath evaluation is not safe against an allocation failing halfway. Other
        // work stops at the failed allocation.
        refusing_ = transform_ == nullptr;
      }
    }
  }
  return !refusing_;
}

// libxslt stops at its next instruction once an operation limit is reached, and its XPath
// evaluation at the next step; a lowered limit is the one stop both check everywhere.
void CallBudget::Exceed() {
  exceeded_ = true;
  if (transform_ == nullptr) return;
  transform_->state = XSLT_STATE_STOPPED;
  transform_->opLimit = 1;
  if (transform_->xpathCtxt != nullptr) transform_->xpathCtxt->opLimit = 1;
}

}  // namespace quillbox
