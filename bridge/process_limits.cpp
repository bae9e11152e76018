#include "bridge/process_limits.h"

#include <sys/resource.h>

#include <algorithm>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILLBOX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QUILLBOX_SANITIZED 1
#endif
#endif

namespace quillbox::bridge {
namespace {

bool Lower(int resource, rlim_t wanted) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0) return false;
  const auto lowered = [wanted](rlim_t current) { return current == RLIM_INFINITY ? wanted : std::min(current, wanted); };
  limit.rlim_cur = lowered(limit.rlim_cur);
  limit.rlim_max = lowered(limit.rlim_max);
  return setrlimit(resource, &limit) == 0;
}

}  // namespace

bool LimitHostProcess() {
  bool ok = Lower(RLIMIT_CPU, kHostCpuSeconds);
#ifndef QUILLBOX_SANITIZED
  ok = Lower(RLIMIT_AS, kHostAddressSpaceBytes) && ok;
#endif
  return ok;
}

}  // namespace quillbox::bridge
