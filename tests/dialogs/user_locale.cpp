#include "dialogs/user_locale.h"

#include "dialogs/x_display.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>

namespace quillbox::test {
namespace {

// The directory lives as long as the process; children forked for terminal tests use it too.
// Null when none could be made.
const TempDir* LocaleDirectory() {
  static const std::unique_ptr<TempDir> directory = []() -> std::unique_ptr<TempDir> {
    try {
      return std::make_unique<TempDir>("quillbox-locales");
    } catch (const std::runtime_error&) {
      return nullptr;
    }
  }();
  return directory.get();
}

}  // namespace

std::string ProvideLocale(const std::string& input, const std::string& charmap) {
  const TempDir* directory = LocaleDirectory();
  static std::map<std::string, std::string> made;
  const std::string name = input + "." + charmap;
  if (const auto found = made.find(name); found != made.end()) return found->second;
  std::string& result = made[name];
  if (directory == nullptr) return result = "no temporary directory for locales";
  if (!ProgramInstalled("localedef")) return result = "localedef is not installed";
  // localedef warns (and exits 1) about harmless things in some sources; the locale is written.
  RunProgram({"localedef", "-i", input, "-f", charmap, *directory / name});
  if (!std::filesystem::exists(*directory / name + "/LC_MESSAGES"))
    return result = "localedef could not compile " + name + " (Debian package locales)";
  // The system's own locales (C.UTF-8 among them) stay reachable after ours.
  setenv("LOCPATH", (directory->path() + ":/usr/lib/locale").c_str(), 1);
  return result;
}

}  // namespace quillbox::test
