// Runs the real quillbox binary in a temporary world of its own: its own NSS database, registry
// and HOME, and no display unless a test gives one, so no test touches the user's store or registry
// or opens a window on the user's screen.
#pragma once

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quillbox::host::test {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class World {
 public:
  World() = default;
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  const std::string& dir() const { return dir_.path(); }
  std::string Path(const std::string& name) const { return dir_ / name; }
  // Runs `quillbox arguments...` with `input` on standard input.
  Result Quillbox(const std::vector<std::string>& arguments, const std::string& input = "") const;
  // The same with standard output going to `standardOutput` (a device such as /dev/full).
  Result QuillboxWritingTo(const std::string& standardOutput, const std::vector<std::string>& arguments) const;
  // Runs another program (found on PATH, or by its path) the same way.
  Result Program(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& input = "") const;
  // Adds NAME=value to what every program run here gets (a test's private display, say).
  void SetEnvironment(const std::string& name, const std::string& value) { extra_.push_back(name + "=" + value); }
  // Runs the program at `path` with `environment` ("NAME=value") added to the world's own.
  Result ProgramWith(const std::string& path, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment) const;
  // NAME=value of every program run here: its store, registry, HOME and TMPDIR in this world.
  std::vector<std::string> Environment() const;
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;

 private:
  Result Run(std::vector<std::string> argv, const std::string& input, bool searchPath,
             const std::string& standardOutput = "", const std::vector<std::string>& environment = {}) const;
  quillbox::test::TempDir dir_{"quillbox-host"};
  std::vector<std::string> extra_;
};

// A suite's one world, with one self-signed certificate of `Suite::kSubject` made for all its
// cases: making an RSA key is slow.
template <typename Suite>
class SignerWorldSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    world_ = std::make_unique<World>();
    const Result made = world_->Quillbox({"certs", "new-self-signed", Suite::kSubject, "--days", "10"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  static void TearDownTestSuite() { world_.reset(); }
  static World& world() { return *world_; }

 private:
  static inline std::unique_ptr<World> world_;
};

}  // namespace quillbox::host::test
