// Interlocked operations, critical sections, thread identity and the per-thread last error.
#include <windows.h>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <new>

namespace {

thread_local DWORD lastError = 0;

// The body of a CRITICAL_SECTION is a recursive mutex placed inside the caller's structure, which
// is large enough for it on glibc; the static_assert keeps that true.
static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION), "a CRITICAL_SECTION holds a pthread mutex");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION), "a CRITICAL_SECTION is aligned for a pthread mutex");

pthread_mutex_t* MutexOf(LPCRITICAL_SECTION section) { return reinterpret_cast<pthread_mutex_t*>(section); }

}  // namespace

extern "C" {

DWORD WINAPI GetLastError() { return lastError; }
void WINAPI SetLastError(DWORD error) { lastError = error; }

LONG WINAPI InterlockedIncrement(LONG volatile* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG WINAPI InterlockedDecrement(LONG volatile* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
LONG WINAPI InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (section) pthread_mutex_t, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD) {
  InitializeCriticalSection(section);
  return TRUE;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_lock(MutexOf(section)); }
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  return pthread_mutex_trylock(MutexOf(section)) == 0 ? TRUE : FALSE;
}
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_unlock(MutexOf(section)); }
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_destroy(MutexOf(section)); }

DWORD WINAPI GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }

}  // extern "C"
