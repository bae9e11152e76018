// Where the allow file is looked for and what in it counts.
#include "bridge/allow_file.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

TEST(AllowFile, LivesInTheUsersConfigurationDirectory) {
  const EnvironmentValue home("HOME", "/home/ana");
  {
    const EnvironmentValue config("XDG_CONFIG_HOME", "/srv/config");
    EXPECT_EQ(AllowFilePath(), "/srv/config/quillbox/browser-origins");
  }
  for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
    const EnvironmentValue config("XDG_CONFIG_HOME", ignored);
    EXPECT_EQ(AllowFilePath(), "/home/ana/.config/quillbox/browser-origins");
  }
  const EnvironmentValue config("XDG_CONFIG_HOME", nullptr);
  const EnvironmentValue noHome("HOME", nullptr);
  EXPECT_EQ(AllowFilePath(), std::nullopt);
}

TEST(AllowFile, AllowsExactlyTheWellFormedOriginsListed) {
  const test::TempDir dir("quillbox-allow");
  dir.Write("origins", "# comment\n\nhttps://shop.example\r\nhttp://localhost:8080  \n https://lead.example\n"
                       "https://path.example/\nhttp://plain.example\n#https://commented.example\n");
  AllowFile file = AllowFile::Load(dir / "origins");
  EXPECT_TRUE(file.Allows(u"https://shop.example"));
  EXPECT_TRUE(file.Allows(u"http://localhost:8080"));
  for (const char16_t* refused : {u"https://lead.example", u"https://path.example/", u"https://path.example",
                                  u"http://plain.example", u"https://commented.example", u"https://SHOP.example",
                                  u"https://shop.example:443", u""}) {
    EXPECT_FALSE(file.Allows(refused)) << std::u16string(refused).size();
  }
  AllowFile missing = AllowFile::Load(dir / "none");
  EXPECT_FALSE(missing.Allows(u"https://shop.example"));
  AllowFile nowhere = AllowFile::Load(std::nullopt);
  EXPECT_FALSE(nowhere.Allows(u"https://shop.example"));
}

}  // namespace
}  // namespace quillbox::bridge
