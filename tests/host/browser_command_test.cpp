// quillbox browser allow, deny and list through the real binary, on the allow file of a HOME of
// its own.
#include "host/admin_list.h"
#include "host/command_runner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quillbox::host::test {
namespace {

const std::string kAllowFile = ".config/quillbox/browser-origins";

TEST(QuillboxBrowser, AllowWritesTheOriginDenyForbidsItAndListShowsBoth) {
  const World world;
  EXPECT_EQ(world.Quillbox({"browser"}).out, "no origin is allowed or forbidden\n");

  const Result allowed = world.Quillbox({"browser", "allow", "https://shop.example:8443"});
  ASSERT_EQ(allowed.status, 0) << allowed.err;
  EXPECT_NE(allowed.out.find("https://shop.example:8443 is allowed (" + world.Path(kAllowFile) + ")"),
            std::string::npos)
      << allowed.out;
  EXPECT_EQ(world.Read(kAllowFile), "https://shop.example:8443\n");
  struct stat file {};
  ASSERT_EQ(stat(world.Path(kAllowFile).c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(world.Path(".config/quillbox").c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 0777, 0700u);

  const Result again = world.Quillbox({"browser", "allow", "https://shop.example:8443"});
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.out.find("was allowed already"), std::string::npos) << again.out;
  ASSERT_EQ(world.Quillbox({"browser", "allow", "http://localhost:8080"}).status, 0);

  const Result list = world.Quillbox({"browser", "list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "user   allow   http://localhost:8080\nuser   allow   https://shop.example:8443\n");
  EXPECT_EQ(list.err, "") << "no administrator's list here, and a missing one is no problem";

  const Result denied = world.Quillbox({"browser", "deny", "https://shop.example:8443"});
  EXPECT_EQ(denied.status, 0);
  EXPECT_NE(denied.out.find("https://shop.example:8443 is forbidden (" + world.Path(kAllowFile) + ")"), std::string::npos)
      << denied.out;
  EXPECT_EQ(world.Read(kAllowFile), "http://localhost:8080\nforbid https://shop.example:8443\n");

  const Result forbiddenAgain = world.Quillbox({"browser", "deny", "https://shop.example:8443"});
  EXPECT_EQ(forbiddenAgain.status, 0);
  EXPECT_NE(forbiddenAgain.out.find("https://shop.example:8443 was forbidden already"), std::string::npos) << forbiddenAgain.out;
  EXPECT_EQ(world.Quillbox({"browser"}).out,
            "user   allow   http://localhost:8080\nuser   forbid  https://shop.example:8443\n");
  ASSERT_EQ(world.Quillbox({"browser", "allow", "https://shop.example:8443"}).status, 0);
  EXPECT_EQ(world.Read(kAllowFile), "http://localhost:8080\nhttps://shop.example:8443\n") << "allow takes the refusal back";
}

TEST(QuillboxBrowser, AllowAndDenyKeepTheFilesOtherLines) {
  const World world;
  std::filesystem::create_directories(world.Path(".config/quillbox"));
  const std::string kept = "# my sites\nhttps://a.example\n\nnot an origin\n";
  world.Write(kAllowFile, kept);
  ASSERT_EQ(world.Quillbox({"browser", "allow", "https://b.example"}).status, 0);
  EXPECT_EQ(world.Read(kAllowFile), kept + "https://b.example\n");
  ASSERT_EQ(world.Quillbox({"browser", "deny", "https://a.example"}).status, 0);
  EXPECT_EQ(world.Read(kAllowFile), "# my sites\n\nnot an origin\nhttps://b.example\nforbid https://a.example\n");
  // The line that is no origin is neither listed nor lost.
  EXPECT_EQ(world.Quillbox({"browser", "list"}).out, "user   allow   https://b.example\nuser   forbid  https://a.example\n");
}

TEST(QuillboxBrowser, AMalformedOriginIsRefusedSayingWhatIsWrongAndNothingIsWritten) {
  const World world;
  const std::vector<std::pair<std::string, std::string>> malformed = {
      {"https://shop.example/", "path"},
      {"https://shop.example/pay", "path"},
      {"https://user@shop.example", "credentials"},
      {"http://shop.example", "loopback"},
      {"ftp://shop.example", "scheme"},
      {"HTTPS://shop.example", "scheme"},
      {"shop.example", "scheme"},
      {"https://Shop.example", ""},
      {"https://shop.example:443", ""},
      {"https://", ""},
      {"", ""},
  };
  for (const auto& [origin, problem] : malformed) {
    for (const char* action : {"allow", "deny"}) {
      const Result result = world.Quillbox({"browser", action, origin});
      EXPECT_EQ(result.status, 2) << action << " " << origin;
      EXPECT_NE(result.err.find("quillbox browser: \"" + origin + "\" is not an origin as the browser sends it: "),
                std::string::npos)
          << result.err;
      EXPECT_NE(result.err.find(problem), std::string::npos) << result.err;
      EXPECT_NE(result.err.find("usage: quillbox browser"), std::string::npos) << result.err;
      EXPECT_EQ(result.out, "");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(world.Path(".config")));
}

TEST(QuillboxBrowser, WrongUsageEndsWithStatusTwo) {
  const World world;
  const std::vector<std::vector<std::string>> wrong = {
      {"browser", "allow"},
      {"browser", "deny"},
      {"browser", "allow", "https://a.example", "https://b.example"},
      {"browser", "list", "https://a.example"},
      {"browser", "forbid", "https://a.example"},
      {"browser", "--bogus"},
      {"browser", "allow", "--bogus", "https://a.example"},
  };
  for (const auto& arguments : wrong) {
    const Result result = world.Quillbox(arguments);
    EXPECT_EQ(result.status, 2) << ::testing::PrintToString(arguments);
    EXPECT_NE(result.err.find("usage: quillbox browser [list]"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(world.Path(".config")));
  const std::vector<std::vector<std::string>> helps = {
      {"browser", "--help"}, {"browser", "allow", "--help"}, {"help", "browser"}};
  for (const auto& help : helps) {
    const Result result = world.Quillbox(help);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("/etc/quillbox/browser-origins"), std::string::npos) << result.out;
  }
}

}  // namespace
}  // namespace quillbox::host::test

namespace quillbox::host::test {
namespace {

// The real binary, run under an administrator's list of the test's own.
Result UnderAdminList(const World& world, const AdminList& admin, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv(admin.Wrapper().begin() + 1, admin.Wrapper().end());
  argv.push_back(std::string(QUILLBOX_BIN_DIR) + "/quillbox");
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return world.Program(admin.Wrapper().front(), argv);
}

TEST(QuillboxBrowser, ListShowsTheAdministratorsEntriesBesideTheUsersAndWhichWins) {
  const World world;
  const AdminList admin(world,
                        "# the office\n"
                        "allow https://intranet.example\n"
                        "forbid https://bad.example\n"
                        "permit https://typo.example\n");
  if (!admin.Usable()) GTEST_SKIP() << "no user and mount namespace for the administrator's list here";

  const Result forbidden = UnderAdminList(world, admin, {"browser", "allow", "https://bad.example"});
  EXPECT_EQ(forbidden.status, 0) << forbidden.err;
  EXPECT_NE(forbidden.out.find("but the administrator's list (/etc/quillbox/browser-origins) forbids it, and that wins"),
            std::string::npos)
      << forbidden.out;
  const Result refused = UnderAdminList(world, admin, {"browser", "deny", "https://intranet.example"});
  EXPECT_EQ(refused.status, 0) << refused.err;
  EXPECT_NE(refused.out.find("https://intranet.example is forbidden"), std::string::npos) << refused.out;

  const Result list = UnderAdminList(world, admin, {"browser", "list"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out,
            "user   allow   https://bad.example  (but the administrator forbids it)\n"
            "user   forbid  https://intranet.example\n"
            "admin  allow   https://intranet.example  (but the user forbids it)\n"
            "admin  forbid  https://bad.example\n");
  EXPECT_NE(list.err.find("quillbox browser: /etc/quillbox/browser-origins: line 4: "), std::string::npos)
      << list.err;
  EXPECT_NE(list.err.find("(skipped)"), std::string::npos) << list.err;
}

}  // namespace
}  // namespace quillbox::host::test
