// Which file of the example directory a request path names, if any, and how it is labelled.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillbox::host {

enum class FileLookup { kFound, kRefused, kMissing };

struct ResolvedFile {
  FileLookup lookup = FileLookup::kMissing;
  std::string path;  // the real path of the regular file, when found
};

// `requestPath` is a decoded path beginning with "/"; "/" and a path ending in "/" name that
// folder's index.html. Refused: a segment "." or "..", a backslash, a NUL, and anything whose
// real path (symbolic links followed) is not inside `root`, itself a real path. Missing: no
// such regular file.
ResolvedFile ResolveFile(const std::string& root, std::string_view requestPath);

// The Content-Type for a file name, text types with charset=utf-8.
std::string ContentTypeOf(std::string_view name);

}  // namespace quillbox::host
