// The real quillbox command in a world of its own: the environment is exactly what the test gives
// (HOME, the store, the registry, SOFTHSM2_CONF), with no terminal, or under a pseudo-terminal
// whose keyboard the test plays.
#pragma once

#include "dialogs/child_process.h"

#include <map>
#include <string>
#include <vector>

namespace quillbox::test {

struct QuillboxResult {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

class QuillboxWorld {
 public:
  // `directory` holds the registry and the captured output; HOME is it too unless set otherwise.
  explicit QuillboxWorld(std::string directory);

  void Set(const std::string& name, const std::string& value) { environment_[name] = value; }
  void Unset(const std::string& name) { environment_.erase(name); }

  // Without a controlling terminal: a prompt has no one to ask.
  QuillboxResult Run(const std::vector<std::string>& arguments) const;
  // On a fresh pseudo-terminal playing `script`; the result's `reported` is "status=N echo=on\n"
  // (whether the terminal echoes after the command ended), then standard output and standard error;
  // its transcript is what the terminal showed.
  TerminalRun RunOnTerminal(const std::vector<std::string>& arguments, const std::vector<Exchange>& script) const;

 private:
  std::vector<std::string> Environment() const;
  std::string directory_;
  std::map<std::string, std::string> environment_;
};

}  // namespace quillbox::test
