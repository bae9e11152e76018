// A throwaway NSS database with one signing certificate, made once per fuzzing process with the
// standard NSS tools and removed at exit. The personal store of the process points at it.
#pragma once

namespace quillbox::fuzz {

inline constexpr char kSignerSubject[] = "CN=Fuzz Signer,O=Quillbox,C=SI";
inline constexpr char16_t kSignerSubjectText[] = u"Fuzz Signer";

// Creates the database (once) and sets QUILLBOX_NSS_DB; aborts when the tools fail.
void UseThrowawayStore();
// An empty directory in which nothing exists: a personal store that cannot be opened.
void UseMissingStore();

}  // namespace quillbox::fuzz
