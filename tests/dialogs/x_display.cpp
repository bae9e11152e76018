#include "dialogs/x_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <utility>

extern char** environ;

namespace quillbox::test {
namespace {

constexpr int kStartLimitMs = 30'000;

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<char*> Argv(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  out.reserve(argv.size() + 1);
  for (const std::string& arg : argv) out.push_back(const_cast<char*>(arg.c_str()));
  out.push_back(nullptr);
  return out;
}

}  // namespace

bool ProgramInstalled(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const auto colon = dirs.find(':', start);
    const std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0) return true;
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return false;
}

std::string FindWindow(const std::string& title, bool wait) {
  // xdotool matches names as regular expressions: the title is matched as its exact text.
  std::string pattern = "^";
  for (const char c : title) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  pattern += "$";
  std::string found;
  const std::vector<std::string> search =
      wait ? std::vector<std::string>{"timeout", "30", "xdotool", "search", "--sync", "--onlyvisible", "--name", pattern}
           : std::vector<std::string>{"xdotool", "search", "--onlyvisible", "--name", pattern};
  if (RunProgram(search, &found) != 0) return {};
  return found.substr(0, found.find('\n'));
}

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  int out[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output != nullptr) {
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  }
  pid_t pid = 0;
  auto args = Argv(argv);
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (output != nullptr) close(out[1]);
  if (spawned != 0) {
    if (output != nullptr) close(out[0]);
    return -1;
  }
  if (output != nullptr) {
    char buffer[1024];
    for (;;) {
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      output->append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
  }
  return Wait(pid);
}

WindowAnswerer::WindowAnswerer(std::string title, std::vector<std::vector<std::string>> actions)
    : title_(std::move(title)), actions_(std::move(actions)), thread_([this] { Watch(); }) {}

int WindowAnswerer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  return answered_;
}

void WindowAnswerer::Watch() {
  // The pauses only pace the polling of xdotool; nothing is judged by how long anything takes.
  const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(25)); };
  while (!stop_) {
    const std::string window = FindWindow(title_, false);
    if (window.empty()) {
      pause();
      continue;
    }
    RunProgram({"xdotool", "windowfocus", "--sync", window});
    for (const std::vector<std::string>& action : actions_) {
      std::vector<std::string> argv = {"xdotool"};
      argv.insert(argv.end(), action.begin(), action.end());
      RunProgram(argv);
    }
    ++answered_;
    // The same window is counted once: it is waited out before the next is looked for.
    while (!stop_ && FindWindow(title_, false) == window) pause();
  }
}

std::unique_ptr<XvfbServer> XvfbServer::Start(std::string& error) {
  // Xvfb writes the display number it chose to the descriptor given with -displayfd once it is
  // ready for clients, so neither a guessed number nor a wait is needed.
  // An X server resets itself whenever its last client leaves, and drops ("connection reset by
  // peer") whoever connects meanwhile. The tests' clients come and go one at a time (xdotool, a
  // host's dialog), so without -noreset a dialog now and then found no display to open.
  int ready[2];
  if (pipe(ready) != 0) {
    error = "pipe failed";
    return nullptr;
  }
  fcntl(ready[0], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const std::vector<std::string> argv = {"Xvfb", "-displayfd", std::to_string(ready[1]), "-noreset", "-nolisten", "tcp",
                                         "-screen", "0", "1024x768x24", "-nocursor"};
  auto args = Argv(argv);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "Xvfb", &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  if (spawned != 0) {
    close(ready[0]);
    error = "Xvfb could not be started";
    return nullptr;
  }
  std::string number;
  for (;;) {
    pollfd p{ready[0], POLLIN, 0};
    const int n = poll(&p, 1, kStartLimitMs);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    char c = 0;
    const ssize_t got = read(ready[0], &c, 1);
    if (got <= 0 || c == '\n') break;
    number.push_back(c);
  }
  close(ready[0]);
  if (number.empty()) {
    kill(pid, SIGTERM);
    Wait(pid);
    error = "Xvfb did not report a display";
    return nullptr;
  }
  return std::unique_ptr<XvfbServer>(new XvfbServer(pid, ":" + number));
}

XvfbServer::~XvfbServer() {
  kill(pid_, SIGTERM);
  Wait(pid_);
}

}  // namespace quillbox::test
