// The module's self-registration against a registry that other processes use at the same time: a
// process killed in the middle of DllRegisterServer leaves a registry that opens, answers and
// still holds a whole registration, and a later DllRegisterServer succeeds with creation working;
// processes registering at once all succeed and leave the whole registration behind.
#include "server/com_fixture.h"
#include "support/registry_helpers.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace quillbox::test {
namespace {

constexpr char16_t kClassKey[] = u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}";
constexpr char16_t kClassId[] = u"{2A426405-E493-4525-835C-A7B2DEFE8CC8}";

// One run of the registering helper, its standard output on a pipe.
class Registrant {
 public:
  explicit Registrant(long count) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string countText = std::to_string(count);
    std::vector<char*> argv = {const_cast<char*>(QUILLBOX_REGISTER_HELPER), const_cast<char*>(kModulePath.c_str()),
                               const_cast<char*>(countText.c_str()), nullptr};
    if (posix_spawn(&pid_, QUILLBOX_REGISTER_HELPER, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    ticks_ = out[0];
  }
  ~Registrant() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (ticks_ >= 0) close(ticks_);
  }
  Registrant(const Registrant&) = delete;
  Registrant& operator=(const Registrant&) = delete;

  bool started() const { return pid_ > 0 && ticks_ >= 0; }
  // Waits until `n` more registrations have succeeded; false when the helper ended first.
  bool AwaitRegistrations(int n) {
    for (int seen = 0; seen < n; ++seen) {
      char tick = 0;
      if (read(ticks_, &tick, 1) != 1) return false;
    }
    return true;
  }
  // Kills it wherever it is; true when it was still running and died of the signal.
  bool Kill() {
    kill(pid_, SIGKILL);
    int status = 0;
    const bool killed = waitpid(pid_, &status, 0) == pid_ && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    pid_ = -1;
    return killed;
  }
  // Its exit status once it ends by itself; -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    const bool exited = waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status);
    pid_ = -1;
    return exited ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int ticks_ = -1;
};

class RegistrationUnderFire : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, 0))); }
  void TearDown() override {
    if (module_ != nullptr) {
      ExpectModuleCanUnload(module_);
      FreeLibrary(module_);
    }
    CoUninitialize();
  }

  // Every entry one registration writes is there: both programmatic identifiers, the class key
  // with its values and subkeys, and the type library.
  static void ExpectWholeRegistration() {
    const std::u16string classKey = kClassKey;
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CLSID"), kClassId);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CurVer"), u"Quillbox.Signature.1");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature.1\\CLSID"), kClassId);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey), u"Karvona Signature SDK");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\ProgID"), u"Quillbox.Signature.1");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\VersionIndependentProgID"), u"Quillbox.Signature");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey + u"\\Programmable"));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32"),
              std::u16string(kModulePath.begin(), kModulePath.end()));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", u"ThreadingModel"), u"Apartment");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\TypeLib"), u"{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"TypeLib\\{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}\\1.0"));
  }

  // This process registers the module itself.
  void ExpectRegistrationWorks() {
    if (module_ == nullptr) module_ = LoadLibraryA(kModulePath.c_str());
    ASSERT_NE(module_, nullptr);
    auto registerServer = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module_, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    EXPECT_EQ(registerServer(), S_OK);
  }

  // With no one else registering: this process registers the module, finds the whole
  // registration, and creates an object by its programmatic identifier, which it drives through
  // IDispatch.
  void ExpectRegistrationAndCreationWork() {
    ExpectRegistrationWorks();
    ExpectWholeRegistration();
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Quillbox.Signature", &clsid), S_OK);
    IDispatch* object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object)),
              S_OK);
    Script script(object);
    script.PutText(u"UserName", u"after the crash");
    EXPECT_EQ(script.Text(u"UserName"), u"after the crash");
    object->Release();
  }

  TempRegistry registry_;
  HMODULE module_ = nullptr;
};

TEST_F(RegistrationUnderFire, AProcessKilledWhileRegisteringLeavesAWholeWorkingRegistry) {
  // Each round lets the helper finish a few registrations and kills it in the next one, at a
  // different point of it each time: the points spread over the time one registration takes (a
  // millisecond or two), and past it.
  constexpr int kRounds = 60;
  for (int round = 0; round < kRounds; ++round) {
    Registrant registrant(0);
    ASSERT_TRUE(registrant.started());
    ASSERT_TRUE(registrant.AwaitRegistrations(1 + round % 3)) << "round " << round;
    usleep(static_cast<useconds_t>(round * 50));
    EXPECT_TRUE(registrant.Kill()) << "round " << round;
    // The registry opens and answers, and holds the last whole registration.
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID")) << "round " << round;
    EXPECT_FALSE(SubTree(HKEY_CLASSES_ROOT, u"").empty()) << "round " << round;
    ExpectWholeRegistration();
    if (HasFailure()) break;
  }
  ExpectRegistrationAndCreationWork();
}

TEST_F(RegistrationUnderFire, ProcessesRegisteringAtOnceAllSucceed) {
  constexpr int kRegistrationsEach = 20;
  std::vector<std::unique_ptr<Registrant>> registrants;
  for (int i = 0; i < 3; ++i) {
    registrants.push_back(std::make_unique<Registrant>(kRegistrationsEach));
    ASSERT_TRUE(registrants.back()->started());
  }
  // This process registers too, while they do. (It reads nothing meanwhile: a registration
  // replaces the class key whole, so a handle opened on it before can find it gone.)
  ExpectRegistrationWorks();
  for (auto& registrant : registrants) {
    EXPECT_TRUE(registrant->AwaitRegistrations(kRegistrationsEach));
    EXPECT_EQ(registrant->Wait(), 0);
  }
  ExpectWholeRegistration();
  ExpectRegistrationAndCreationWork();
}

TEST_F(RegistrationUnderFire, AKillBesideARegistrationThatGoesOnLeavesItWhole) {
  Registrant steady(30);
  Registrant doomed(0);
  ASSERT_TRUE(steady.started());
  ASSERT_TRUE(doomed.started());
  ASSERT_TRUE(doomed.AwaitRegistrations(2));
  EXPECT_TRUE(doomed.Kill());
  EXPECT_TRUE(steady.AwaitRegistrations(30));
  EXPECT_EQ(steady.Wait(), 0);
  ExpectRegistrationAndCreationWork();
}

}  // namespace
}  // namespace quillbox::test
