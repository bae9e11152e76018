// Whole-file reads and writes; "-" (or no name) means standard input or output.
#pragma once

#include <string>
#include <string_view>

namespace quillbox::host {

// Throws CommandError naming the file when it cannot be read or written.
std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, std::string_view bytes);

}  // namespace quillbox::host
