// Running Debian's NSS tools (certutil, pk12util) for the store commands.
#pragma once

#include <string>
#include <vector>

namespace quillbox::host {

// Runs `program` (looked up on PATH) with `arguments`, sharing this process's standard streams,
// and returns its exit status; throws CommandError when it cannot be started or is killed.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace quillbox::host
