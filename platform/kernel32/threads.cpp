// Threads: creation with a chosen stack reservation, waiting, exit codes, and what a thread may
// know of itself (its stack and the CPU time it has used).
#include <windows.h>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <time.h>

#include <atomic>
#include <memory>
#include <new>
#include <utility>

namespace {

// The kernel object behind a thread handle. The thread and the handle each hold one reference:
// whichever lets go last frees it, so closing the handle of a running thread is safe.
struct ThreadObject {
  LPTHREAD_START_ROUTINE start = nullptr;
  LPVOID parameter = nullptr;
  pthread_t thread{};
  std::atomic<DWORD> exitCode{STILL_ACTIVE};
  std::atomic<int> references{2};
  bool joined = false;

  void Release() {
    if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
};

constexpr ULONG_PTR kThreadMagic = 0x51425448;  // tells a thread handle from anything else

struct ThreadHandle {
  ULONG_PTR magic = kThreadMagic;
  ThreadObject* object = nullptr;
};

ThreadHandle* ThreadOf(HANDLE handle) {
  auto* thread = static_cast<ThreadHandle*>(handle);
  return thread != nullptr && handle != GetCurrentThread() && thread->magic == kThreadMagic ? thread : nullptr;
}

void* RunThread(void* argument) {
  auto* object = static_cast<ThreadObject*>(argument);
  object->exitCode.store(object->start(object->parameter), std::memory_order_release);
  object->Release();
  return nullptr;
}

ULONGLONG HundredNanoseconds(const timeval& time) {
  return static_cast<ULONGLONG>(time.tv_sec) * 10'000'000u + static_cast<ULONGLONG>(time.tv_usec) * 10u;
}

void StoreFileTime(LPFILETIME target, ULONGLONG value) {
  if (target == nullptr) return;
  target->dwLowDateTime = static_cast<DWORD>(value);
  target->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES /*attributes*/, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD /*flags*/, LPDWORD threadId) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto handle = std::unique_ptr<ThreadHandle>(new (std::nothrow) ThreadHandle);
  auto* object = new (std::nothrow) ThreadObject;
  if (!handle || object == nullptr) {
    delete object;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  object->start = start;
  object->parameter = parameter;

  // Zero takes the process's default, as on Windows; both the committed size and a reservation
  // become the reservation here, since Linux commits a thread's stack page by page anyway.
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  if (stackSize != 0 && pthread_attr_setstacksize(&attributes, stackSize) != 0) {
    pthread_attr_destroy(&attributes);
    delete object;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const int started = pthread_create(&object->thread, &attributes, RunThread, object);
  pthread_attr_destroy(&attributes);
  if (started != 0) {
    delete object;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId != nullptr) *threadId = 0;  // thread ids of other threads are not known here
  handle->object = object;
  return handle.release();
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  ThreadHandle* thread = ThreadOf(handle);
  if (thread == nullptr || (milliseconds != INFINITE && milliseconds != 0)) {
    SetLastError(thread == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  ThreadObject& object = *thread->object;
  if (object.joined) return WAIT_OBJECT_0;
  if (milliseconds == 0) {
    if (pthread_tryjoin_np(object.thread, nullptr) != 0) return WAIT_TIMEOUT;
  } else if (pthread_join(object.thread, nullptr) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  object.joined = true;
  return WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  ThreadHandle* thread = ThreadOf(handle);
  if (thread == nullptr || exitCode == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = thread->object->exitCode.load(std::memory_order_acquire);
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  ThreadHandle* thread = ThreadOf(handle);
  if (thread == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ThreadObject* object = thread->object;
  if (!object->joined) pthread_detach(object->thread);
  thread->magic = 0;
  delete thread;
  object->Release();
  return TRUE;
}

HANDLE WINAPI GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }

void WINAPI GetCurrentThreadStackLimits(PULONG_PTR lowLimit, PULONG_PTR highLimit) {
  // Learnt once per thread: for the main thread glibc reads the whole of /proc/self/maps to
  // answer, and every Sign asks.
  thread_local const std::pair<ULONG_PTR, ULONG_PTR> limits = [] {
    std::pair<ULONG_PTR, ULONG_PTR> found{0, 0};
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      void* address = nullptr;
      size_t size = 0;
      if (pthread_attr_getstack(&attributes, &address, &size) == 0) {
        found.first = reinterpret_cast<ULONG_PTR>(address);
        found.second = found.first + size;
      }
      pthread_attr_destroy(&attributes);
    }
    return found;
  }();
  if (lowLimit != nullptr) *lowLimit = limits.first;
  if (highLimit != nullptr) *highLimit = limits.second;
}

BOOL WINAPI GetThreadTimes(HANDLE thread, LPFILETIME creationTime, LPFILETIME exitTime, LPFILETIME kernelTime,
                           LPFILETIME userTime) {
  rusage usage{};
  if (thread != GetCurrentThread() || getrusage(RUSAGE_THREAD, &usage) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  StoreFileTime(creationTime, 0);
  StoreFileTime(exitTime, 0);
  StoreFileTime(kernelTime, HundredNanoseconds(usage.ru_stime));
  StoreFileTime(userTime, HundredNanoseconds(usage.ru_utime));
  return TRUE;
}

ULONGLONG WINAPI GetTickCount64() {
  timespec now{};
  // The coarse clock is read from the vDSO without entering the kernel.
  if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<ULONGLONG>(now.tv_sec) * 1000 + static_cast<ULONGLONG>(now.tv_nsec) / 1'000'000;
}

}  // extern "C"
