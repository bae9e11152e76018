// A zip archive of whole files stored without compression: what a packed Chromium extension
// holds after its header. Stored entries keep the writer small and the output reproducible (no
// times, no compressor version), and Chromium unpacks them like any other.
#pragma once

#include <string>
#include <vector>

namespace qbcrx {

struct ZipEntry {
  std::string name;   // relative, '/' between folders
  std::string bytes;
};

// Throws std::runtime_error when the entries are beyond what a zip without its 64-bit
// extensions can hold.
std::string StoredZip(const std::vector<ZipEntry>& entries);

// The entries for every regular file under `directory`, names sorted, so that the same tree
// always gives the same archive. Throws std::runtime_error on what cannot be read or on a
// symbolic link (which an extension must not carry out of its folder).
std::vector<ZipEntry> EntriesOf(const std::string& directory);

}  // namespace qbcrx
