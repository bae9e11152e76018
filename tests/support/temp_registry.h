// Points the registry at a fresh database in a temporary directory for the life of the object,
// so no test ever reads or writes the user's own registry.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quillbox::test {

class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillbox-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class TempRegistry {
 public:
  TempRegistry() : file_((directory_.path() / "registry.db").string()) { setenv("QUILLBOX_REGISTRY", file_.c_str(), 1); }
  // Afterwards the registry points where no database can be created, so a stray call fails
  // instead of reaching the user's own.
  ~TempRegistry() { setenv("QUILLBOX_REGISTRY", "/dev/null/no-registry.db", 1); }
  TempRegistry(const TempRegistry&) = delete;
  TempRegistry& operator=(const TempRegistry&) = delete;
  const std::string& file() const { return file_; }
  const std::filesystem::path& directory() const { return directory_.path(); }

 private:
  TempDirectory directory_;
  std::string file_;
};

}  // namespace quillbox::test
