#include "dialogs/child_process.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

// Present only in a sanitizer build: the child ends with _exit, which skips the leak checker's
// own exit-time check, so the child runs it itself.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

namespace quillbox::test {
namespace {

// Guards against a child that never answers; generous, since it only ends a hung test.
constexpr int kStepLimitMs = 30'000;

[[noreturn]] void FinishChild(int reportFd, const ChildBody& body) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  std::string report = body();
  if (__lsan_do_recoverable_leak_check != nullptr && __lsan_do_recoverable_leak_check() != 0)
    report += " (leaks reported on the terminal)";
  std::size_t done = 0;
  while (done < report.size()) {
    const ssize_t n = write(reportFd, report.data() + done, report.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(reportFd);
  _exit(0);  // no atexit handlers of the test framework in the child
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

std::string Reap(pid_t pid, std::string report) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) return "child killed by signal " + std::to_string(WTERMSIG(status)) + "; " + report;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "child exited with " + std::to_string(WEXITSTATUS(status)) + "; " + report;
  return report;
}

// Reads terminal output into `transcript` until it contains `text` after `from`; false on a
// closed terminal or when the child takes too long.
bool ReadUntil(int master, std::string& transcript, std::size_t& from, const std::string& text) {
  for (;;) {
    if (const auto at = transcript.find(text, from); at != std::string::npos) {
      from = at + text.size();
      return true;
    }
    pollfd p{master, POLLIN, 0};
    const int ready = poll(&p, 1, kStepLimitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // EIO: the child closed its side
    transcript.append(buffer, static_cast<std::size_t>(n));
  }
}

// Reads the rest of the output; false when the child keeps its terminal open without finishing.
bool DrainTerminal(int master, std::string& transcript) {
  for (;;) {
    pollfd p{master, POLLIN, 0};
    const int ready = poll(&p, 1, kStepLimitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    transcript.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::string RunWithoutTerminal(const ChildBody& body) {
  int report[2];
  if (pipe(report) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    close(report[0]);
    setsid();  // a new session has no controlling terminal
    FinishChild(report[1], body);
  }
  close(report[1]);
  std::string reported = ReadAll(report[0]);
  close(report[0]);
  return Reap(pid, std::move(reported));
}

TerminalRun RunOnTerminal(const ChildBody& body, const std::vector<Exchange>& script) {
  TerminalRun run;
  int report[2];
  if (pipe(report) != 0) return {"pipe failed", {}};
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return {"forkpty failed", {}};
  if (pid == 0) {
    close(report[0]);
    FinishChild(report[1], body);
  }
  close(report[1]);
  std::size_t from = 0;
  for (const Exchange& step : script) {
    if (!ReadUntil(master, run.transcript, from, step.waitFor)) {
      kill(pid, SIGKILL);
      run.reported = "the terminal never showed \"" + step.waitFor + "\"";
      break;
    }
    if (write(master, step.send.data(), step.send.size()) != static_cast<ssize_t>(step.send.size())) {
      kill(pid, SIGKILL);
      run.reported = "typing failed";
      break;
    }
  }
  if (!DrainTerminal(master, run.transcript)) {
    kill(pid, SIGKILL);
    if (run.reported.empty()) run.reported = "the child did not finish";
  }
  std::string reported = ReadAll(report[0]);
  close(report[0]);
  close(master);
  const std::string outcome = Reap(pid, std::move(reported));
  if (run.reported.empty()) run.reported = outcome;
  return run;
}

}  // namespace quillbox::test
