// The administrator's list of browser origins has a fixed path in /etc, which a test must not
// write. A program run through Wrapper() runs in a user and mount namespace of its own, where /etc
// is the real one with the test's list laid over it (an overlay mount), so nothing on the machine
// changes.
#pragma once

#include "host/command_runner.h"

#include <string>
#include <vector>

namespace quillbox::host::test {

class AdminList {
 public:
  AdminList(const World& world, const std::string& text);
  // Whether the machine lets a test have such a namespace (a container may not).
  bool Usable() const { return usable_; }
  // The program and arguments that run a program (given last) under the list.
  const std::vector<std::string>& Wrapper() const { return wrapper_; }

 private:
  std::vector<std::string> wrapper_;
  bool usable_ = false;
};

}  // namespace quillbox::host::test
