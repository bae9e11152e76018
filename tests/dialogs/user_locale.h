// Locales the tests run the dialogs under, compiled from the system's locale sources (Debian
// package locales) into a private directory, so that a test does not depend on which locales
// the machine has generated.
#pragma once

#include <string>

namespace quillbox::test {

// Makes "INPUT.CHARMAP" (say "sl_SI.UTF-8") available to this process and its children through
// LOCPATH, compiling it once per process. Empty on success, else what went wrong.
std::string ProvideLocale(const std::string& input, const std::string& charmap);

}  // namespace quillbox::test
