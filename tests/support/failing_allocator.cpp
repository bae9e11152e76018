#include "support/failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// The allocation to fail, counted from 1 since FailAllocation; 0 fails none.
std::atomic<long> gFailAt{0};
std::atomic<long> gAllocations{0};

// Null for the allocation chosen to fail, else malloc's block.
void* Allocate(std::size_t size) noexcept {
  const long at = gFailAt.load();
  if (at > 0 && gAllocations.fetch_add(1) + 1 == at) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

// Every form that pairs with a replaced delete is replaced too (the library's stable_sort takes
// its buffer with the nothrow form), so no block is freed by another allocator than made it. None
// is inlined: a memory checker that puts its own allocator in their place (by their names) must
// see every call, or it would see its blocks freed by free().
#define QB_REPLACED __attribute__((noinline))
QB_REPLACED void* operator new(std::size_t size) {
  if (void* memory = Allocate(size)) return memory;
  throw std::bad_alloc();
}
QB_REPLACED void* operator new[](std::size_t size) {
  if (void* memory = Allocate(size)) return memory;
  throw std::bad_alloc();
}
QB_REPLACED void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
QB_REPLACED void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
// The compiler sees free() of what it takes for new's memory; here new's memory is malloc's.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
QB_REPLACED void operator delete(void* memory) noexcept { std::free(memory); }
QB_REPLACED void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
QB_REPLACED void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
QB_REPLACED void operator delete[](void* memory) noexcept { std::free(memory); }
QB_REPLACED void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
QB_REPLACED void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace quillbox::test {

void FailAllocation(long at) {
  gAllocations = 0;
  gFailAt = at;
}

bool StopFailing() {
  const long at = gFailAt.exchange(0);
  return at > 0 && gAllocations.load() >= at;
}

bool FailureInjectionWorks() {
  FailAllocation(1);
  bool thrown = false;
  try {
    ::operator delete(::operator new(8));  // a call, not a new-expression: never left out
  } catch (const std::bad_alloc&) {
    thrown = true;
  }
  StopFailing();
  return thrown;
}

}  // namespace quillbox::test
