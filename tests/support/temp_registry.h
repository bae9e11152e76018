// Points the registry at a fresh database in a temporary directory for the life of the object,
// so no test ever reads or writes the user's own registry.
#pragma once

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quillbox::test {

class TempRegistry {
 public:
  TempRegistry() : file_(directory_ / "registry.db") { setenv("QUILLBOX_REGISTRY", file_.c_str(), 1); }
  // Afterwards the registry points where no database can be created, so a stray call fails
  // instead of reaching the user's own.
  ~TempRegistry() { setenv("QUILLBOX_REGISTRY", "/dev/null/no-registry.db", 1); }
  TempRegistry(const TempRegistry&) = delete;
  TempRegistry& operator=(const TempRegistry&) = delete;
  const std::string& file() const { return file_; }
  const std::string& directory() const { return directory_.path(); }

 private:
  TempDir directory_;
  std::string file_;
};

}  // namespace quillbox::test
