// Running Debian's NSS tools (certutil, pk12util) for the store commands, and the command itself
// for the demo server's verification.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillbox::host {

// Runs `program` (looked up on PATH) with `arguments`, sharing this process's standard streams,
// and returns its exit status; throws CommandError when it cannot be started or is killed.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments);

struct CapturedRun {
  int status = -1;
  std::string output;  // standard output, then standard error
};

// Runs the program at `path` with `arguments`, `input` on its standard input and both its
// output streams captured (through unlinked temporary files, so neither side waits on a full
// pipe); throws CommandError when it cannot be started or is killed.
CapturedRun RunCapturing(const std::string& path, const std::vector<std::string>& arguments, std::string_view input);

}  // namespace quillbox::host
