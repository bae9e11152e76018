#include "xml/large_stack.h"

#include <windows.h>

#include <exception>

namespace quillbox {
namespace {

struct Job {
  const std::function<void()>* work;
  std::exception_ptr failure;
};

DWORD WINAPI RunJob(LPVOID parameter) {
  auto* job = static_cast<Job*>(parameter);
  try {
    (*job->work)();
  } catch (...) {
    job->failure = std::current_exception();
  }
  return 0;
}

}  // namespace

void RunWithLargeStack(const std::function<void()>& work) {
  Job job{&work, nullptr};
  HANDLE thread = CreateThread(nullptr, kLargeStackBytes, RunJob, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    work();
    return;
  }
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  if (job.failure) std::rethrow_exception(job.failure);
}

}  // namespace quillbox
