// Running the command-line tools (certutil, pk12util, xmlsec1) that tests build fixtures with.
#pragma once

#include "support/temp_dir.h"

#include <string>
#include <vector>

namespace quillbox::test {

struct CommandResult {
  int status = -1;     // the exit status, or -1 when the program could not be run
  std::string output;  // standard output and standard error together
};

// Runs `argv` (argv[0] looked up on PATH) without a shell, with empty standard input.
CommandResult RunCommand(const std::vector<std::string>& argv);

void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);

}  // namespace quillbox::test
