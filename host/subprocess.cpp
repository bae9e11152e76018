#include "host/subprocess.h"

#include "host/cli.h"
#include "host/unique_fd.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace quillbox::host {
namespace {

std::vector<char*> Argv(std::vector<std::string>& owned) {
  std::vector<char*> argv;
  argv.reserve(owned.size() + 1);
  for (std::string& argument : owned) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return argv;
}

int WaitFor(pid_t child, const std::string& program) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw CommandError("lost track of " + program);
  }
  if (!WIFEXITED(status)) throw CommandError(program + " was stopped by a signal");
  return WEXITSTATUS(status);
}

// A file of its own in the temporary folder, gone from the folder at once and from the disk
// with its last descriptor.
UniqueFd AnonymousFile() {
  const char* folder = std::getenv("TMPDIR");
  std::string name = std::string(folder != nullptr && *folder == '/' ? folder : "/tmp") + "/quillbox-run.XXXXXX";
  UniqueFd fd(mkostemp(name.data(), O_CLOEXEC));
  if (!fd) throw CommandError("cannot make a temporary file in " + name + ": " + std::strerror(errno));
  unlink(name.c_str());
  return fd;
}

void WriteWhole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw CommandError(std::string("cannot write a temporary file: ") + std::strerror(errno));
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string ReadWhole(int fd) {
  std::string text;
  char buffer[8192];
  if (lseek(fd, 0, SEEK_SET) < 0) return text;
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

int RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> owned;
  owned.reserve(arguments.size() + 1);
  owned.push_back(program);
  owned.insert(owned.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = Argv(owned);

  pid_t child = 0;
  const int started = posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (started != 0) {
    throw CommandError("cannot run " + program + ": " + std::strerror(started) +
                       (started == ENOENT ? " (install the package libnss3-tools)" : ""));
  }
  return WaitFor(child, program);
}

CapturedRun RunCapturing(const std::string& path, const std::vector<std::string>& arguments, std::string_view input) {
  const UniqueFd in = AnonymousFile();
  WriteWhole(in.get(), input);
  if (lseek(in.get(), 0, SEEK_SET) < 0) throw CommandError("cannot rewind a temporary file");
  const UniqueFd out = AnonymousFile();
  const UniqueFd err = AnonymousFile();

  std::vector<std::string> owned = {path};
  owned.insert(owned.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = Argv(owned);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, out.get(), 1);
  posix_spawn_file_actions_adddup2(&actions, err.get(), 2);
  // The child starts with no signal blocked, whatever its caller blocks while it waits.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t child = 0;
  const int started = posix_spawn(&child, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) throw CommandError("cannot run " + path + ": " + std::strerror(started));
  CapturedRun run;
  run.status = WaitFor(child, path);
  run.output = ReadWhole(out.get()) + ReadWhole(err.get());
  return run;
}

}  // namespace quillbox::host
