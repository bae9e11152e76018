#include "host/subprocess.h"

#include "host/cli.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace quillbox::host {

int RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> owned;
  owned.reserve(arguments.size() + 1);
  owned.push_back(program);
  owned.insert(owned.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(owned.size() + 1);
  for (std::string& argument : owned) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t child = 0;
  const int started = posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (started != 0) {
    throw CommandError("cannot run " + program + ": " + std::strerror(started) +
                       (started == ENOENT ? " (install the package libnss3-tools)" : ""));
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw CommandError("lost track of " + program);
  }
  if (!WIFEXITED(status)) throw CommandError(program + " was stopped by a signal");
  return WEXITSTATUS(status);
}

}  // namespace quillbox::host
