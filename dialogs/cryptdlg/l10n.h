// The module's own texts in the user's language. The module is a guest in its host's process: it
// never changes the process's locale or text domain, it asks its own catalogue (domain
// "quillbox-cryptdlg", found beside the module in locale/LANG/LC_MESSAGES/) with dgettext, under
// the user's message locale taken from the environment for the length of each lookup.
#pragma once

#include <string>
#include <string_view>

namespace qb::cryptdlg {

// Marks a text for the catalogue where it is defined; it is translated where it is used.
#define QB_N_(text) text

// `english` in the user's language, as UTF-8; `english` itself when there is no translation.
std::string Tr(const char* english);
// The same, with the one "%s" of the translated text replaced by `value`.
std::string Tr(const char* english, std::string_view value);

}  // namespace qb::cryptdlg
