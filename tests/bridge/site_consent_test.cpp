// The consent rules of the host: where the user's allow file is and what in it counts, the
// administrator's list, the order in which they are asked, the answers a connection remembers and
// the file "Always allow" rewrites.
#include "bridge/site_consent.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

namespace quillbox::bridge {
namespace {

// Sets an environment variable for the life of the object, then restores it.
class EnvironmentValue {
 public:
  EnvironmentValue(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~EnvironmentValue() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }
  EnvironmentValue(const EnvironmentValue&) = delete;
  EnvironmentValue& operator=(const EnvironmentValue&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

mode_t Mode(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Answers as told and counts the questions.
class ScriptedAsker : public ConsentAsker {
 public:
  explicit ScriptedAsker(ConsentAnswer answer) : answer_(answer) {}
  ConsentAnswer Ask(std::string_view origin, ConsentUse use) override {
    asked.emplace_back(origin);
    uses.push_back(use);
    return answer_;
  }
  std::vector<std::string> asked;
  std::vector<ConsentUse> uses;

 private:
  ConsentAnswer answer_;
};

TEST(UserOrigins, LiveInTheUsersConfigurationDirectory) {
  const EnvironmentValue home("HOME", "/home/ana");
  {
    const EnvironmentValue config("XDG_CONFIG_HOME", "/srv/config");
    EXPECT_EQ(UserOriginsPath(), "/srv/config/quillbox/browser-origins");
  }
  for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
    const EnvironmentValue config("XDG_CONFIG_HOME", ignored);
    EXPECT_EQ(UserOriginsPath(), "/home/ana/.config/quillbox/browser-origins");
  }
  const EnvironmentValue config("XDG_CONFIG_HOME", nullptr);
  const EnvironmentValue noHome("HOME", nullptr);
  EXPECT_EQ(UserOriginsPath(), std::nullopt);
}

TEST(UserOrigins, AreExactlyTheWellFormedOriginsListed) {
  const test::TempDir dir("quillbox-allow");
  dir.Write("origins", "# comment\n\nhttps://shop.example\r\nhttp://localhost:8080  \n https://lead.example\n"
                       "https://path.example/\nhttp://plain.example\n#https://commented.example\n\xff\xfe\x01\n"
                       "forbid https://no.example\nforbid\nforbid https://no.example/x\nforbid  https://both.example \n"
                       "https://both.example\nforbidhttps://glued.example\nhttps://last.example");
  const UserOrigins origins = ReadUserOrigins(dir / "origins");
  EXPECT_EQ(origins.allowed, (std::set<std::string>{"https://shop.example", "http://localhost:8080", "https://last.example"}));
  EXPECT_EQ(origins.forbidden, (std::set<std::string>{"https://no.example", "https://both.example"}))
      << "an origin both allowed and forbidden is forbidden";
  for (const auto& none : {ReadUserOrigins(dir / "none"), ReadUserOrigins(std::nullopt)}) {
    EXPECT_TRUE(none.allowed.empty());
    EXPECT_TRUE(none.forbidden.empty());
  }
}

TEST(AdminOrigins, AllowAndForbidLinesWithCommentsAndBlanks) {
  const AdminOrigins list = ParseAdminOrigins(
      "# the firm's sites\n\n  allow https://intranet.example  \nforbid\thttps://evil.example\r\n"
      "   # indented comment\nallow http://localhost:3000\nforbid https://both.example\nallow https://both.example\n"
      "permit https://other.example\nallow\nallow https://a.example https://b.example\nforbid https://path.example/x\n"
      "ALLOW https://upper.example\n\x01\xff\nallow https://last.example");
  EXPECT_EQ(list.allowed, (std::set<std::string>{"https://intranet.example", "http://localhost:3000",
                                                  "https://both.example", "https://last.example"}));
  EXPECT_EQ(list.forbidden, (std::set<std::string>{"https://evil.example", "https://both.example"}));
  ASSERT_EQ(list.problems.size(), 6u);
  EXPECT_EQ(list.problems[0], "line 9: neither \"allow ORIGIN\" nor \"forbid ORIGIN\"");
  EXPECT_EQ(list.problems[1], "line 10: \"allow\" takes one origin");
  EXPECT_EQ(list.problems[2], "line 11: \"allow\" takes one origin");
  EXPECT_EQ(list.problems[3], "line 12: the origin carries a path, query, fragment or credentials");
  EXPECT_EQ(list.problems[4].substr(0, 8), "line 13:");
  EXPECT_EQ(list.problems[5].substr(0, 8), "line 14:");
  EXPECT_TRUE(ReadAdminOrigins("/nonexistent/quillbox/browser-origins").problems.empty());
}

TEST(SiteConsent, ForbiddenWinsAndAllowedListsAreNotAsked) {
  const test::TempDir dir("quillbox-consent");
  dir.Write("user", "https://forbidden.example\nhttps://mine.example\nforbid https://refused.example\n"
                    "forbid https://firmbutnot.example\n");
  dir.Write("admin", "forbid https://forbidden.example\nallow https://firm.example\nforbid https://never.example\n"
                     "allow https://firmbutnot.example\n");
  ScriptedAsker asker(ConsentAnswer::kOnce);
  SiteConsent consent(dir / "user", dir / "admin", asker);
  EXPECT_FALSE(consent.Allows(u"https://forbidden.example", ConsentUse::kSign)) << "forbidden beats the user's file";
  EXPECT_FALSE(consent.Allows(u"https://never.example", ConsentUse::kSign)) << "forbidden is never asked";
  EXPECT_FALSE(consent.Allows(u"https://refused.example", ConsentUse::kSign)) << "the user's own refusal is not asked";
  EXPECT_FALSE(consent.Allows(u"https://firmbutnot.example", ConsentUse::kSign))
      << "the user's refusal of their own certificate beats the administrator's allowance";
  EXPECT_TRUE(consent.Allows(u"https://firm.example", ConsentUse::kSign));
  EXPECT_TRUE(consent.Allows(u"https://mine.example", ConsentUse::kTransform));
  EXPECT_TRUE(asker.asked.empty());
}

TEST(SiteConsent, AllowOnceLastsForTheConnectionOnly) {
  const test::TempDir dir("quillbox-consent");
  ScriptedAsker asker(ConsentAnswer::kOnce);
  {
    SiteConsent consent(dir / "user", dir / "admin", asker);
    EXPECT_TRUE(consent.Allows(u"https://shop.example", ConsentUse::kChooseCertificate));
    EXPECT_TRUE(consent.Allows(u"https://shop.example", ConsentUse::kSign));
    EXPECT_EQ(asker.asked, std::vector<std::string>{"https://shop.example"});
    EXPECT_EQ(asker.uses, std::vector<ConsentUse>{ConsentUse::kChooseCertificate});
  }
  EXPECT_FALSE(std::ifstream(dir / "user").good()) << "allow once writes nothing";
  SiteConsent next(dir / "user", dir / "admin", asker);
  EXPECT_TRUE(next.Allows(u"https://shop.example", ConsentUse::kSign));
  EXPECT_EQ(asker.asked.size(), 2u) << "a new connection asks again";
}

TEST(SiteConsent, DenyAndNobodyToAsk) {
  const test::TempDir dir("quillbox-consent");
  ScriptedAsker denies(ConsentAnswer::kDeny);
  SiteConsent denied(dir / "user", dir / "admin", denies);
  EXPECT_FALSE(denied.Allows(u"https://shop.example", ConsentUse::kSign));
  EXPECT_FALSE(denied.Allows(u"https://shop.example", ConsentUse::kSign));
  EXPECT_EQ(denies.asked.size(), 1u) << "a page calling again after Deny is not asked about again";

  ScriptedAsker nobody(ConsentAnswer::kNotAsked);
  SiteConsent unasked(dir / "user", dir / "admin", nobody);
  EXPECT_FALSE(unasked.Allows(u"https://shop.example", ConsentUse::kSign));
  EXPECT_FALSE(unasked.Allows(u"https://shop.example", ConsentUse::kSign));
  EXPECT_EQ(nobody.asked.size(), 2u);
  EXPECT_FALSE(std::ifstream(dir / "user").good());
}

TEST(SiteConsent, AlwaysAllowWritesTheFileForTheNextConnection) {
  const test::TempDir dir("quillbox-consent");
  const std::string file = dir / "config/quillbox/browser-origins";
  ScriptedAsker asker(ConsentAnswer::kAlways);
  {
    SiteConsent consent(file, dir / "admin", asker);
    EXPECT_TRUE(consent.Allows(u"https://shop.example", ConsentUse::kSign));
  }
  EXPECT_EQ(Contents(file), "https://shop.example\n");
  EXPECT_EQ(Mode(file), 0600u);
  EXPECT_EQ(Mode(dir / "config/quillbox"), 0700u);
  EXPECT_EQ(Mode(dir / "config"), 0700u);
  ScriptedAsker never(ConsentAnswer::kDeny);
  SiteConsent next(file, dir / "admin", never);
  EXPECT_TRUE(next.Allows(u"https://shop.example", ConsentUse::kSign));
  EXPECT_TRUE(never.asked.empty());

  // A file that cannot be written still lets this call through: the user said yes.
  dir.Write("blocker", "");
  SiteConsent unwritable(dir / "blocker/quillbox/browser-origins", dir / "admin", asker);
  EXPECT_TRUE(unwritable.Allows(u"https://shop.example", ConsentUse::kSign));
}

TEST(UserOriginsFile, AllowAndForbidTakeEachOthersLineAndKeepEveryOtherLine) {
  const test::TempDir dir("quillbox-allow");
  const std::string file = dir / "browser-origins";
  dir.Write("browser-origins", "# mine\nhttps://a.example\n\nnot an origin\nhttps://b.example  \n#https://c.example");
  EXPECT_TRUE(AllowUserOrigin(file, "https://c.example"));
  EXPECT_EQ(Contents(file), "# mine\nhttps://a.example\n\nnot an origin\nhttps://b.example  \n#https://c.example\n"
                            "https://c.example\n");
  EXPECT_EQ(Mode(file), 0600u);
  EXPECT_FALSE(AllowUserOrigin(file, "https://b.example")) << "already there, with trailing blanks";
  EXPECT_TRUE(ForbidUserOrigin(file, "https://b.example"));
  EXPECT_FALSE(ForbidUserOrigin(file, "https://b.example"));
  EXPECT_TRUE(ForbidUserOrigin(file, "https://c.example"));
  EXPECT_EQ(Contents(file), "# mine\nhttps://a.example\n\nnot an origin\n#https://c.example\n"
                            "forbid https://b.example\nforbid https://c.example\n");
  EXPECT_TRUE(AllowUserOrigin(file, "https://b.example"));
  EXPECT_EQ(Contents(file), "# mine\nhttps://a.example\n\nnot an origin\n#https://c.example\n"
                            "forbid https://c.example\nhttps://b.example\n");
  EXPECT_TRUE(ForbidUserOrigin(dir / "fresh/browser-origins", "https://a.example"));
  EXPECT_EQ(Contents(dir / "fresh/browser-origins"), "forbid https://a.example\n");
  // No temporary file is left behind beside the file.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"browser-origins", "fresh"}));
  EXPECT_THROW(AllowUserOrigin("/proc/quillbox-test/browser-origins", "https://a.example"), std::system_error);
}

}  // namespace
}  // namespace quillbox::bridge
