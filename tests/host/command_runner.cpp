#include "host/command_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace quillbox::host::test {

void World::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(Path(name), std::ios::binary) << bytes;
}

std::string World::Read(const std::string& name) const {
  std::ifstream file(Path(name), std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> World::Environment() const {
  std::vector<std::string> env = {"QUILLBOX_NSS_DB=sql:" + Path("nssdb"), "QUILLBOX_REGISTRY=" + Path("registry.db"),
                                  "HOME=" + dir(), "TMPDIR=" + dir(), "LANG=C.UTF-8", "LC_ALL=C.UTF-8"};
  env.insert(env.end(), extra_.begin(), extra_.end());
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    for (const char* keep : {"PATH=", "ASAN_OPTIONS=", "UBSAN_OPTIONS=", "LSAN_OPTIONS="}) {
      if (entry.starts_with(keep)) env.push_back(entry);
    }
  }
  return env;
}

Result World::Quillbox(const std::vector<std::string>& arguments, const std::string& input) const {
  std::vector<std::string> argv = {std::string(QUILLBOX_BIN_DIR) + "/quillbox"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return Run(argv, input, false);
}

Result World::QuillboxWritingTo(const std::string& standardOutput, const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv = {std::string(QUILLBOX_BIN_DIR) + "/quillbox"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return Run(argv, "", false, standardOutput);
}

Result World::Program(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& input) const {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return Run(argv, input, true);
}

Result World::ProgramWith(const std::string& path, const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment) const {
  std::vector<std::string> argv = {path};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return Run(argv, "", false, "", environment);
}

Result World::Run(std::vector<std::string> argv, const std::string& input, bool searchPath,
                  const std::string& standardOutput, const std::vector<std::string>& environment) const {
  Write(".stdin", input);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);

  std::vector<std::string> env = Environment();
  // First, so that an entry given here wins over the world's own (getenv takes the first).
  env.insert(env.begin(), environment.begin(), environment.end());
  std::vector<char*> envp;
  envp.reserve(env.size() + 1);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, Path(".stdin").c_str(), O_RDONLY, 0);
  const std::string out = standardOutput.empty() ? Path(".stdout") : standardOutput;
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, Path(".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // A session of its own leaves the command without a controlling terminal, so a dialog that
  // finds no display cannot fall back to prompting the person running the tests.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t child = 0;
  const int spawned = searchPath ? posix_spawnp(&child, args[0], &actions, &attributes, args.data(), envp.data())
                                 : posix_spawn(&child, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + argv[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  Result result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (standardOutput.empty()) result.out = Read(".stdout");
  result.err = Read(".stderr");
  return result;
}

}  // namespace quillbox::host::test
