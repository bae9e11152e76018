// The temporary directory every test builds its stores, registries and files in. Header-only, so
// that suites which link nothing but the platform can use it too.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

namespace quillbox::test {

// A fresh directory under `base` (by default $TMPDIR, or /tmp), removed with everything in it when
// the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "quillbox-test", const std::string& base = DefaultBase()) {
    std::string pattern = base + "/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary directory from " + pattern);
    path_ = std::move(pattern);
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  TempDir(TempDir&& other) noexcept : path_(std::exchange(other.path_, std::string())) {}
  TempDir& operator=(TempDir&&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the directory.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::string File(const std::string& name) const { return *this / name; }
  // Writes `bytes` to `name` inside the directory, replacing what was there.
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + File(name));
  }

 private:
  static std::string DefaultBase() {
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && *base != '\0' ? base : "/tmp";
  }

  std::string path_;
};

}  // namespace quillbox::test
