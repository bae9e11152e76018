// The platform's case rules: Windows name identity, Unicode upper case, and the ASCII-only rule
// for names that are ASCII by definition.
#include "platform/shared/case_folding.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

using qb::platform::AsciiLower;
using qb::platform::AsciiUpper;
using qb::platform::EqualsIgnoringAsciiCase;
using qb::platform::FoldName;
using qb::platform::NamesEqual;
using qb::platform::UnicodeUpper;

TEST(NameFolding, FoldsTheLettersWindowsNamesUse) {
  EXPECT_EQ(FoldName(u"Software\\Classes"), u"SOFTWARE\\CLASSES");
  EXPECT_EQ(FoldName(u"\u00E9t\u00E9"), u"\u00C9T\u00C9");          // Latin-1
  EXPECT_EQ(FoldName(u"\u00FF"), u"\u0178");                        // ÿ's capital lies in Extended-A
  EXPECT_EQ(FoldName(u"\u0142\u017E"), u"\u0141\u017D");            // ł ž: both pairings of Extended-A
  EXPECT_EQ(FoldName(u"\u03B1\u03C9"), u"\u0391\u03A9");            // Greek
  EXPECT_EQ(FoldName(u"\u0436\u0451"), u"\u0416\u0401");            // Cyrillic, both blocks
  EXPECT_EQ(FoldName(u"\uFF41"), u"\uFF21");                        // full-width
}

TEST(NameFolding, LeavesWhatHasNoSimplePair) {
  // ÷ sits among the Latin-1 letters; ß, µ, dotless ı and dotted İ, final sigma have no
  // one-unit capital of their own in the table; digits and punctuation are no letters.
  for (const char16_t* same : {u"\u00F7", u"\u00DF", u"\u00B5", u"\u0131", u"\u0130", u"\u03C2", u"{0-9}_."})
    EXPECT_EQ(FoldName(same), same);
  EXPECT_FALSE(NamesEqual(u"i", u"\u0131"));
  EXPECT_FALSE(NamesEqual(u"I", u"\u0130"));
}

TEST(NameFolding, NamesCompareByTheSameRule) {
  EXPECT_TRUE(NamesEqual(u"CertSubject", u"certsubject"));
  EXPECT_TRUE(NamesEqual(u"\u0424\u0430\u0439\u043B", u"\u0444\u0410\u0419\u041B"));  // Cyrillic mixed case
  EXPECT_TRUE(NamesEqual(u"\u00FF", u"\u0178"));
  EXPECT_FALSE(NamesEqual(u"Sign", u"Signs"));
  EXPECT_FALSE(NamesEqual(u"Sign", u"Sigm"));
}

TEST(UnicodeUpperCase, MapsEveryScriptWithSimpleMappings) {
  EXPECT_EQ(UnicodeUpper(U'a'), U'A');
  EXPECT_EQ(UnicodeUpper(U'\u0131'), U'I');        // dotless ı upper-cases to I
  EXPECT_EQ(UnicodeUpper(U'\u01C6'), U'\u01C4');   // ǆ, outside the name table
  EXPECT_EQ(UnicodeUpper(U'\u0561'), U'\u0531');   // Armenian
  EXPECT_EQ(UnicodeUpper(U'\u00DF'), U'\u00DF');   // ß has no one-letter capital
  EXPECT_EQ(UnicodeUpper(U'7'), U'7');
}

TEST(AsciiCase, TouchesOnlyAsciiLettersWhateverTheLocale) {
  // The C library's rules follow the locale; these never do. A Turkish locale, where installed,
  // is the one that would lower-case 'I' to a dotless i.
  const std::string before = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "tr_TR.ISO-8859-9");
  EXPECT_EQ(AsciiLower("IEFRAME.DLL"), "ieframe.dll");
  EXPECT_EQ(AsciiUpper("utf-8 i"), "UTF-8 I");
  EXPECT_EQ(AsciiUpper("\xE9"), "\xE9");  // a Latin-1 byte is no ASCII letter
  EXPECT_TRUE(EqualsIgnoringAsciiCase("my", "MY"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("M", "MY"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xE9", "\xC9"));
  EXPECT_TRUE(EqualsIgnoringAsciiCase(u"TRUE", "true"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"\u0131", "i"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"\uFF54rue", "true"));  // a full-width t is not t
  std::setlocale(LC_ALL, before.c_str());
}

}  // namespace
