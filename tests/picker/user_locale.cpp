#include "picker/user_locale.h"

#include "picker/x_display.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

namespace quillbox::test {
namespace {

// The directory lives as long as the process; children forked for terminal tests use it too.
class LocaleDirectory {
 public:
  LocaleDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillbox-locales-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~LocaleDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::string ProvideLocale(const std::string& input, const std::string& charmap) {
  static LocaleDirectory directory;
  static std::map<std::string, std::string> made;
  const std::string name = input + "." + charmap;
  if (const auto found = made.find(name); found != made.end()) return found->second;
  std::string& result = made[name];
  if (directory.Path().empty()) return result = "no temporary directory for locales";
  if (!ProgramInstalled("localedef")) return result = "localedef is not installed";
  // localedef warns (and exits 1) about harmless things in some sources; the locale is written.
  RunProgram({"localedef", "-i", input, "-f", charmap, directory.Path() + "/" + name});
  if (!std::filesystem::exists(directory.Path() + "/" + name + "/LC_MESSAGES"))
    return result = "localedef could not compile " + name + " (Debian package locales)";
  // The system's own locales (C.UTF-8 among them) stay reachable after ours.
  setenv("LOCPATH", (directory.Path() + ":/usr/lib/locale").c_str(), 1);
  return result;
}

}  // namespace quillbox::test
