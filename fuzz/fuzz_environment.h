// What a fuzz target runs in: a temporary directory of its own (removed at exit), and in it a
// private registry and, where the target signs, a throwaway NSS database with one signing
// certificate made with the standard NSS tools. Nothing of the user's is ever touched.
#pragma once

#include <filesystem>

namespace quillbox::fuzz {

// Made on first use.
const std::filesystem::path& TemporaryDirectory();
// Points QUILLBOX_REGISTRY at an empty registry in the temporary directory.
void UsePrivateRegistry();

inline constexpr char kSignerSubject[] = "CN=Fuzz Signer,O=Quillbox,C=SI";
inline constexpr char16_t kSignerSubjectText[] = u"Fuzz Signer";

// Creates the database (once) and sets QUILLBOX_NSS_DB; aborts when the tools fail.
void UseThrowawayStore();
// An empty directory in which nothing exists: a personal store that cannot be opened.
void UseMissingStore();

}  // namespace quillbox::fuzz
