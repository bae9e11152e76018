#include "platform/crypt32/quillbox_process.h"

#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace quillbox::test {
namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Runs quillbox with its output in files of `directory`; returns its status.
int Spawn(const std::string& directory, const std::vector<std::string>& arguments, std::vector<std::string> environment,
          bool newSession) {
  std::vector<std::string> argv = {std::string(QUILLBOX_BIN_DIR) + "/quillbox"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (newSession) setsid();
    signal(SIGINT, SIG_DFL);  // the terminal's caller ignores it; the command must not
    const int in = open("/dev/null", O_RDONLY);
    const int out = open((directory + "/.stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open((directory + "/.stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    auto args = Pointers(argv);
    auto envp = Pointers(environment);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

QuillboxWorld::QuillboxWorld(std::string directory) : directory_(std::move(directory)) {
  environment_ = {{"HOME", directory_},
                  {"QUILLBOX_REGISTRY", directory_ + "/registry.db"},
                  {"TMPDIR", directory_},
                  {"LANG", "C.UTF-8"},
                  {"LC_ALL", "C.UTF-8"}};
  for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "SOFTHSM2_CONF"}) {
    if (const char* value = std::getenv(keep)) environment_[keep] = value;
  }
}

std::vector<std::string> QuillboxWorld::Environment() const {
  std::vector<std::string> entries;
  for (const auto& [name, value] : environment_) entries.push_back(name + "=" + value);
  return entries;
}

QuillboxResult QuillboxWorld::Run(const std::vector<std::string>& arguments) const {
  QuillboxResult result;
  result.status = Spawn(directory_, arguments, Environment(), true);
  result.out = ReadFile(directory_ + "/.stdout");
  result.err = ReadFile(directory_ + "/.stderr");
  return result;
}

TerminalRun QuillboxWorld::RunOnTerminal(const std::vector<std::string>& arguments,
                                         const std::vector<Exchange>& script) const {
  const std::string directory = directory_;
  const std::vector<std::string> environment = Environment();
  return quillbox::test::RunOnTerminal(
      [&] {
        // Ctrl-C reaches the whole foreground group: this process waits it out and reports.
        signal(SIGINT, SIG_IGN);
        const int status = Spawn(directory, arguments, environment, false);
        termios mode{};
        const int tty = open("/dev/tty", O_RDWR | O_NOCTTY);
        const bool echo = tty >= 0 && tcgetattr(tty, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
        if (tty >= 0) close(tty);
        return "status=" + std::to_string(status) + (echo ? " echo=on" : " echo=off") + "\n" +
               ReadFile(directory + "/.stdout") + ReadFile(directory + "/.stderr");
      },
      script);
}

}  // namespace quillbox::test
