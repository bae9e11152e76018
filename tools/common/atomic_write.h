// Writing a build-time tool's output so that a failed run never leaves half a file behind: the
// bytes go to a temporary file beside the target, which is then renamed over it.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>

namespace quillbox::tools {

inline bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace quillbox::tools
