// Making the directories an installer writes into.
#pragma once

#include <sys/types.h>

#include <string>

namespace quillbox::host {

// Creates `path` and every missing directory above it with exactly `mode` (not narrowed by the
// umask, so a system directory stays readable by every user); existing ones are left as they
// are. Throws CommandError naming the directory that cannot be made.
void MakeDirectories(const std::string& path, mode_t mode);

// Removes the file `path`; false when there was none. Throws CommandError naming it otherwise.
bool RemoveFile(const std::string& path);

}  // namespace quillbox::host
