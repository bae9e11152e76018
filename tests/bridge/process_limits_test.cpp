// The host's own process limits, checked in a child so that the test program keeps its own.
#include "bridge/process_limits.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

namespace quillbox::bridge {
namespace {

// Runs `check` in a forked child: its exit status is the number of the first failed condition.
int InChild(const std::function<int()>& check) {
  const pid_t child = fork();
  if (child == 0) _exit(check());
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

rlimit Current(int resource) {
  rlimit limit{};
  getrlimit(resource, &limit);
  return limit;
}

TEST(HostProcessLimits, CpuTimeIsBoundedBothSoftAndHard) {
  EXPECT_EQ(InChild([] {
              rlimit open{RLIM_INFINITY, RLIM_INFINITY};
              if (setrlimit(RLIMIT_CPU, &open) != 0 && Current(RLIMIT_CPU).rlim_max != RLIM_INFINITY) return 0;
              if (!LimitHostProcess()) return 1;
              const rlimit cpu = Current(RLIMIT_CPU);
              if (cpu.rlim_cur != kHostCpuSeconds) return 2;
              if (cpu.rlim_max != kHostCpuSeconds) return 3;
              return 0;
            }),
            0);
}

TEST(HostProcessLimits, ALowerLimitAlreadySetIsKept) {
  EXPECT_EQ(InChild([] {
              rlimit lower{30, 60};
              if (setrlimit(RLIMIT_CPU, &lower) != 0) return 1;
              if (!LimitHostProcess()) return 2;
              const rlimit cpu = Current(RLIMIT_CPU);
              if (cpu.rlim_cur != 30 || cpu.rlim_max != 60) return 3;
              return 0;
            }),
            0);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(HostProcessLimits, AddressSpaceIsBoundedAndAHugeAllocationFails) {
  EXPECT_EQ(InChild([] {
              if (!LimitHostProcess()) return 1;
              if (Current(RLIMIT_AS).rlim_cur > kHostAddressSpaceBytes) return 2;
              // More than the bound in one block: the allocation fails rather than the machine
              // lending the host its memory.
              void* block = malloc(kHostAddressSpaceBytes + (1ULL << 20));
              const bool refused = block == nullptr;
              free(block);
              return refused ? 0 : 3;
            }),
            0);
}
#endif

}  // namespace
}  // namespace quillbox::bridge
