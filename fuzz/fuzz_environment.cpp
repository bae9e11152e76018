#include "fuzz/fuzz_environment.h"

#include "fuzz/fuzz_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace quillbox::fuzz {
namespace {

std::filesystem::path& Directory() {
  static std::filesystem::path directory;
  return directory;
}

void RemoveDirectory() {
  std::error_code ignored;
  if (!Directory().empty()) std::filesystem::remove_all(Directory(), ignored);
}

}  // namespace

const std::filesystem::path& TemporaryDirectory() {
  if (Directory().empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillbox-fuzz-XXXXXX").string();
    Expect(mkdtemp(pattern.data()) != nullptr, "cannot make a temporary directory");
    Directory() = pattern;
    std::atexit(RemoveDirectory);
  }
  return Directory();
}

namespace {

void Run(const std::string& command) {
  const std::string quiet = command + " >/dev/null 2>&1";
  if (std::system(quiet.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    Fail("cannot build the throwaway certificate store");
  }
}

}  // namespace

void UseThrowawayStore() {
  const std::filesystem::path store = TemporaryDirectory() / "store";
  std::filesystem::create_directories(store);
  const std::string location = "sql:" + store.string();
  {
    std::ofstream noise(store / "noise.bin", std::ios::binary);
    std::random_device random;
    for (int i = 0; i < 256; ++i) noise.put(static_cast<char>(random()));
  }
  Run("certutil -N -d " + location + " --empty-password");
  Run("certutil -S -d " + location + " -n signer -s '" + kSignerSubject +
      "' -x -t ,, -k rsa -g 2048 -Z SHA256 -m 1 -v 240 -z " + (store / "noise.bin").string());
  setenv("QUILLBOX_NSS_DB", location.c_str(), 1);
}

void UsePrivateRegistry() { setenv("QUILLBOX_REGISTRY", (TemporaryDirectory() / "registry.db").c_str(), 1); }

void UseMissingStore() {
  const std::filesystem::path nothing = TemporaryDirectory() / "no-store";
  setenv("QUILLBOX_NSS_DB", ("sql:" + nothing.string()).c_str(), 1);
}

}  // namespace quillbox::fuzz
