// Persistence and several processes on one registry file.
#include "support/registry_helpers.h"
#include "support/temp_dir.h"
#include "support/temp_registry.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace quillbox::test {
namespace {

std::u16string Numbered(const char16_t* prefix, int n) {
  std::u16string name(prefix);
  for (char c : std::to_string(n)) name.push_back(static_cast<char16_t>(c));
  return name;
}

// Runs `body` in a child process and returns its exit status (or -1 when it did not exit).
template <typename Body>
pid_t Spawn(Body body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int ExitCode(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class RegistryProcesses : public ::testing::Test {
 protected:
  // Lets go of this process's connection to the registry file (opening another file closes it),
  // so that SQLite removes its WAL files and nothing of this process holds the file.
  void LetGoOfTheFile() {
    setenv("QUILLBOX_REGISTRY", (elsewhere_ / "elsewhere.db").c_str(), 1);
    ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, u"Elsewhere"), ERROR_SUCCESS);
    setenv("QUILLBOX_REGISTRY", registry_.file().c_str(), 1);
  }

  TempRegistry registry_;
  TempDir elsewhere_;
};

// Another program in the middle of a write transaction on the registry file, until released.
class WriterHoldingTheFile {
 public:
  explicit WriterHoldingTheFile(const std::string& file) {
    if (pipe(toChild_) != 0 || pipe(fromChild_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      sqlite3* db = nullptr;
      char byte = 0;
      const bool locked = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
                          sqlite3_exec(db, "BEGIN IMMEDIATE; INSERT INTO vals VALUES (1, x'00', x'00', 1, x'00')",
                                       nullptr, nullptr, nullptr) == SQLITE_OK;
      byte = locked ? 'L' : 'F';
      if (write(fromChild_[1], &byte, 1) != 1) _exit(2);
      if (read(toChild_[0], &byte, 1) < 0) _exit(3);
      _exit(locked ? 0 : 1);
    }
    char byte = 0;
    locked_ = read(fromChild_[0], &byte, 1) == 1 && byte == 'L';
  }
  ~WriterHoldingTheFile() {
    const char byte = 'q';
    if (pid_ > 0 && write(toChild_[1], &byte, 1) == 1) waitpid(pid_, nullptr, 0);
    for (int fd : {toChild_[0], toChild_[1], fromChild_[0], fromChild_[1]}) close(fd);
  }
  WriterHoldingTheFile(const WriterHoldingTheFile&) = delete;
  WriterHoldingTheFile& operator=(const WriterHoldingTheFile&) = delete;
  bool locked() const { return locked_; }

 private:
  int toChild_[2] = {-1, -1};
  int fromChild_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool locked_ = false;
};

TEST_F(RegistryProcesses, ContentsSurviveClosingAndReopeningTheFile) {
  ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, u"Persist\\Me", u"Name", u"kept"), ERROR_SUCCESS);
  Key handle;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Persist", 0, KEY_READ, handle.out()), ERROR_SUCCESS);

  TempDir other;
  setenv("QUILLBOX_REGISTRY", (other / "other.db").c_str(), 1);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, u"Persist\\Me"));
  // A handle into the first file never reaches into the second.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(handle.get(), nullptr, nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);

  setenv("QUILLBOX_REGISTRY", registry_.file().c_str(), 1);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Persist\\Me", u"Name"), u"kept");
}

TEST_F(RegistryProcesses, TheDefaultLocationFollowsXdgDataHome) {
  TempDir data;
  unsetenv("QUILLBOX_REGISTRY");
  const char* savedXdg = std::getenv("XDG_DATA_HOME");
  const std::string saved = savedXdg != nullptr ? savedXdg : "";
  setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  EXPECT_EQ(WriteString(HKEY_CURRENT_USER, u"Xdg", nullptr, u"here"), ERROR_SUCCESS);
  if (savedXdg != nullptr) {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
  setenv("QUILLBOX_REGISTRY", (data / "quillbox/registry.db").c_str(), 1);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Xdg"), u"here");
  setenv("QUILLBOX_REGISTRY", registry_.file().c_str(), 1);
}

TEST_F(RegistryProcesses, AChildSeesTheParentsKeysAndTheParentTheChilds) {
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, u"FromParent", nullptr, u"p"), ERROR_SUCCESS);
  const pid_t child = Spawn([] {
    if (ReadString(HKEY_CURRENT_USER, u"FromParent") != u"p") return 1;
    return WriteString(HKEY_CURRENT_USER, u"FromChild", nullptr, u"c") == ERROR_SUCCESS ? 0 : 2;
  });
  ASSERT_EQ(ExitCode(child), 0);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"FromChild"), u"c");
  // The parent's connection keeps working after the child used its own.
  EXPECT_EQ(WriteString(HKEY_CURRENT_USER, u"AfterChild", nullptr, u"a"), ERROR_SUCCESS);
}

TEST_F(RegistryProcesses, AnotherProgramsOpenWriteHoldsUpNoReaderAndWritersAreToldBusy) {
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CLSID", nullptr, u"{X}"), ERROR_SUCCESS);
  LetGoOfTheFile();
  WriterHoldingTheFile writer(registry_.file());
  ASSERT_TRUE(writer.locked());
  // A fresh process opens the file and reads, as object creation does, without waiting for the
  // writer; a write of its own gives up with "busy" rather than stalling or claiming success.
  const pid_t child = Spawn([] {
    if (ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CLSID") != u"{X}") return 1;
    return WriteString(HKEY_CLASSES_ROOT, u"Blocked", nullptr, u"b") == ERROR_BUSY ? 0 : 2;
  });
  EXPECT_EQ(ExitCode(child), 0);
}

TEST_F(RegistryProcesses, ARegistryTheUserMayOnlyReadServesReadsAndRefusesWrites) {
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CLSID", nullptr, u"{X}"), ERROR_SUCCESS);
  LetGoOfTheFile();
  ASSERT_EQ(chmod(registry_.file().c_str(), 0444), 0);
  ASSERT_EQ(chmod(registry_.directory().c_str(), 0555), 0);
  const pid_t child = Spawn([] {
    // Permissions do not bind root: the reader becomes an ordinary user first.
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) return 9;
    if (ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CLSID") != u"{X}") return 1;
    if (WriteString(HKEY_CLASSES_ROOT, u"Refused", nullptr, u"r") != ERROR_ACCESS_DENIED) return 2;
    return ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CLSID") == u"{X}" ? 0 : 3;
  });
  EXPECT_EQ(ExitCode(child), 0);
  chmod(registry_.directory().c_str(), 0700);
  chmod(registry_.file().c_str(), 0600);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Refused"), std::nullopt);
}

TEST_F(RegistryProcesses, TwoProcessesWritingAtOnceBothKeepTheirKeys) {
  constexpr int kKeysEach = 150;
  ASSERT_EQ(CreateKey(HKEY_CLASSES_ROOT, u"Shared"), ERROR_SUCCESS);  // the database exists before the race
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (const char16_t* prefix : {u"Shared\\First", u"Shared\\Second"}) {
    children.push_back(Spawn([&go, prefix] {
      char start = 0;
      close(go[1]);
      if (read(go[0], &start, 1) != 1) return 3;
      for (int i = 0; i < kKeysEach; ++i) {
        const std::u16string path = Numbered(prefix, i);
        if (WriteString(HKEY_CLASSES_ROOT, path, u"Owner", prefix) != ERROR_SUCCESS) return 1;
      }
      return 0;
    }));
  }
  close(go[0]);
  const char start[2] = {1, 1};
  ASSERT_EQ(write(go[1], start, 2), 2);
  close(go[1]);
  for (pid_t child : children) EXPECT_EQ(ExitCode(child), 0);

  EXPECT_EQ(SubTree(HKEY_CLASSES_ROOT, u"Shared").size(), 2u * kKeysEach);
  for (const char16_t* prefix : {u"Shared\\First", u"Shared\\Second"})
    for (int i = 0; i < kKeysEach; ++i)
      ASSERT_EQ(ReadString(HKEY_CLASSES_ROOT, Numbered(prefix, i), u"Owner"), std::u16string(prefix)) << i;
}

TEST_F(RegistryProcesses, AChildKilledInTheMiddleOfABigWriteLeavesAWorkingRegistry) {
  constexpr std::size_t kBig = 4 << 20;
  ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, u"Big"), ERROR_SUCCESS);
  int progress[2];
  ASSERT_EQ(pipe(progress), 0);
  const pid_t child = Spawn([&progress] {
    close(progress[0]);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Big", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 1;
    std::vector<BYTE> data(kBig);
    for (int round = 0;; ++round) {
      std::fill(data.begin(), data.end(), static_cast<BYTE>(round));
      if (RegSetValueExW(key, u"Blob", 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())) != ERROR_SUCCESS)
        return 2;
      if (CreateKey(HKEY_CURRENT_USER, Numbered(u"Big\\Round", round)) != ERROR_SUCCESS) return 3;
      const char tick = 1;
      if (write(progress[1], &tick, 1) != 1) return 4;
    }
  });
  close(progress[1]);
  // Let a few complete rounds land, then kill the child while it is busy with the next one.
  for (int seen = 0; seen < 3; ++seen) {
    char tick = 0;
    ASSERT_EQ(read(progress[0], &tick, 1), 1);
  }
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  close(progress[0]);

  Key key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Big", 0, KEY_ALL_ACCESS, key.out()), ERROR_SUCCESS);
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExW(key.get(), u"Blob", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  ASSERT_EQ(size, kBig);
  std::vector<BYTE> data(size);
  ASSERT_EQ(RegQueryValueExW(key.get(), u"Blob", nullptr, nullptr, data.data(), &size), ERROR_SUCCESS);
  // Whatever round was committed last, it was committed whole.
  EXPECT_EQ(std::count(data.begin(), data.end(), data[0]), static_cast<std::ptrdiff_t>(kBig));
  // Round n writes the blob, then its key: the blob belongs to the last keyed round or the next.
  const auto rounds = SubTree(HKEY_CURRENT_USER, u"Big").size();
  EXPECT_GE(rounds, 3u);
  EXPECT_TRUE(data[0] == static_cast<BYTE>(rounds - 1) || data[0] == static_cast<BYTE>(rounds)) << int(data[0]);
  EXPECT_EQ(WriteString(HKEY_CURRENT_USER, u"Big\\AfterCrash", nullptr, u"ok"), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Big\\AfterCrash"), u"ok");
}

}  // namespace
}  // namespace quillbox::test
