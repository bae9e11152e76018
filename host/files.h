// Whole-file reads and writes; "-" (or no name) means standard input or output.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace quillbox::host {

// Throws CommandError naming the file when it cannot be read or written.
std::string ReadAll(const std::string& path);
// A file is never left half-written: the bytes go to a new file beside it, which is synced and
// then renamed over it, so on any failure the old file (if any) is as it was and nothing else is
// left behind. A new file gets the permissions the umask allows, a replaced one keeps its own;
// with `mode` the file gets exactly that mode either way (files other users' programs read).
void WriteAll(const std::string& path, std::string_view bytes, std::optional<mode_t> mode = std::nullopt);

// Flushes standard output and checks it for errors, so that a failure to write what the command
// printed (a full disk, a closed pipe) ends it with an error rather than unnoticed.
void FlushStandardOutput();

}  // namespace quillbox::host
