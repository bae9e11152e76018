// quillbox-native-host asking the user through the dialog module's real window on a private Xvfb
// display, answered with xdotool while the host waits: what each answer lets through, and what it
// leaves for the next connection.
#include "bridge/conversation.h"

#include "dialogs/x_display.h"
#include "host/admin_list.h"
#include "support/nss_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

namespace quillbox::bridge::test {
namespace {

using host::test::AdminList;
using host::test::World;

constexpr const char* kTitle = "Allow this site to sign?";
const std::string kOrigin = "https://shop.example";
const std::string kAllowFile = ".config/quillbox/browser-origins";

std::string Put(int id, const std::string& name, const std::string& value) {
  return Request(id, "put", "\"object\":1,\"name\":\"" + name + "\",\"value\":" + value);
}

// One connection that signs a small document with the standard store's signer.
Conversation Signing() {
  Conversation conversation(kOrigin);
  conversation.Send(Request(1, "create"))
      .Send(Put(2, "XmlDoc", "\"<doc/>\""))
      .Send(Put(3, "CertFindOption", "1"))
      .Send(Put(4, "CertSubject", "\"Test Signer\""))
      .Send(Request(5, "sign", "\"object\":1"));
  return conversation;
}

class NativeHostWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!quillbox::test::ProgramInstalled("Xvfb") || !quillbox::test::ProgramInstalled("xdotool")) return;
    std::string error;
    display_ = quillbox::test::XvfbServer::Start(error);
    ASSERT_TRUE(display_ != nullptr) << error;
    setenv("DISPLAY", display_->Display().c_str(), 1);  // for xdotool
  }
  static void TearDownTestSuite() { display_.reset(); }

  void SetUp() override {
    if (display_ == nullptr) GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
    std::filesystem::copy(quillbox::test::StandardStore().directory(), world_.Path("nssdb"));
    world_.SetEnvironment("DISPLAY", display_->Display());
    world_.SetEnvironment("NO_AT_BRIDGE", "1");  // no accessibility bus in the test session
  }

  // `conversation` run by a host that has the display, while a second thread answers its window
  // with `keys`; `asked` tells whether the window appeared.
  Answered Answering(const Conversation& conversation, const std::vector<std::string>& keys, bool& asked) {
    std::string window;
    std::thread answer([&window, &keys] {
      window = quillbox::test::FindWindow(kTitle);
      if (window.empty()) return;
      quillbox::test::RunProgram({"xdotool", "windowfocus", "--sync", window});
      std::vector<std::string> argv = {"xdotool", "key"};
      argv.insert(argv.end(), keys.begin(), keys.end());
      quillbox::test::RunProgram(argv);
    });
    Answered answered = conversation.Run(world_);
    answer.join();
    asked = !window.empty();
    return answered;
  }

  static inline std::unique_ptr<quillbox::test::XvfbServer> display_;
  World world_;
};

bool Signed(const Answered& answered) {
  const JsonValue* result = answered.Answer(5).Member(u"result");
  return result != nullptr && result->Bool() && *result->Bool();
}

TEST_F(NativeHostWindow, DenyRefusesNamingTheSiteAndNothingIsSigned) {
  bool asked = false;
  const Answered answered = Answering(Signing(), {"Return"}, asked);
  ASSERT_TRUE(asked) << "the host showed no window";
  ASSERT_EQ(answered.status, 0) << answered.err;
  const JsonValue& sign = answered.Answer(5);
  EXPECT_EQ(*sign.Member(u"result")->Bool(), false);
  EXPECT_EQ(Number(Field(sign, u"errors", u"ErrorNo")), 41);
  EXPECT_EQ(Text(Field(sign, u"errors", u"ErrorStr")), u"ERR_ACCESS_DENIED");
  EXPECT_NE(Utf8(Text(Field(sign, u"errors", u"ErrorDesc"))).find(kOrigin), std::string::npos);
  EXPECT_EQ(Text(Field(sign, u"properties", u"XmlDoc")), u"<doc/>") << "nothing was signed";
  EXPECT_FALSE(std::filesystem::exists(world_.Path(kAllowFile)));
}

TEST_F(NativeHostWindow, AllowOnceSignsAndTheNextConnectionIsAskedAgain) {
  bool asked = false;
  const Answered once = Answering(Signing().Send(Request(6, "sign", "\"object\":1")), {"alt+o"}, asked);
  ASSERT_TRUE(asked);
  EXPECT_TRUE(Signed(once)) << Utf8(Text(Field(once.Answer(5), u"errors", u"ErrorStr")));
  EXPECT_EQ(Number(Field(once.Answer(6), u"errors", u"ErrorNo")), 0) << "asked once a connection";
  EXPECT_FALSE(std::filesystem::exists(world_.Path(kAllowFile)));

  const Answered next = Answering(Signing(), {"Escape"}, asked);
  EXPECT_TRUE(asked) << "the next connection asks again";
  EXPECT_EQ(Number(Field(next.Answer(5), u"errors", u"ErrorNo")), 41);
}

TEST_F(NativeHostWindow, AlwaysAllowWritesTheFileAndTheNextConnectionIsNotAsked) {
  bool asked = false;
  const Answered always = Answering(Signing(), {"alt+w"}, asked);
  ASSERT_TRUE(asked);
  EXPECT_TRUE(Signed(always)) << Utf8(Text(Field(always.Answer(5), u"errors", u"ErrorStr")));
  EXPECT_EQ(world_.Read(kAllowFile), kOrigin + "\n");

  // Without a display a question would refuse: signing shows that none was asked.
  World noDisplay;
  std::filesystem::copy(quillbox::test::StandardStore().directory(), noDisplay.Path("nssdb"));
  std::filesystem::create_directories(noDisplay.Path(".config/quillbox"));
  noDisplay.Write(kAllowFile, world_.Read(kAllowFile));
  EXPECT_TRUE(Signed(Signing().Run(noDisplay)));
}

TEST_F(NativeHostWindow, AnOriginTheAdministratorForbidsIsRefusedWithoutAQuestion) {
  const AdminList admin(world_, "forbid " + kOrigin + "\n");
  if (!admin.Usable()) GTEST_SKIP() << "no user and mount namespace for the administrator's list here";
  std::filesystem::create_directories(world_.Path(".config/quillbox"));
  world_.Write(kAllowFile, kOrigin + "\n");  // the user's file does not win over it

  // Were a window to appear, it would be answered "Allow once" and the call would sign.
  std::atomic<bool> over = false;
  std::atomic<bool> asked = false;
  std::thread watch([&over, &asked] {
    while (!over) {
      const std::string window = quillbox::test::FindWindow(kTitle, false);
      if (window.empty()) continue;
      asked = true;
      quillbox::test::RunProgram({"xdotool", "windowfocus", "--sync", window});
      quillbox::test::RunProgram({"xdotool", "key", "alt+o"});
      return;
    }
  });
  const Answered answered = Signing().Run(world_, admin.Wrapper());
  over = true;
  watch.join();
  EXPECT_FALSE(asked) << "the host asked about a forbidden origin";
  ASSERT_EQ(answered.status, 0) << answered.err;
  const JsonValue& sign = answered.Answer(5);
  EXPECT_EQ(Number(Field(sign, u"errors", u"ErrorNo")), 41);
  EXPECT_EQ(Text(Field(sign, u"errors", u"ErrorStr")), u"ERR_ACCESS_DENIED");
  EXPECT_NE(Utf8(Text(Field(sign, u"errors", u"ErrorDesc"))).find(kOrigin), std::string::npos);
  EXPECT_EQ(Text(Field(sign, u"properties", u"XmlDoc")), u"<doc/>") << "nothing was signed";

  // The same world without the administrator's list signs: the list made the difference.
  EXPECT_TRUE(Signed(Signing().Run(world_)));
}

}  // namespace
}  // namespace quillbox::bridge::test
