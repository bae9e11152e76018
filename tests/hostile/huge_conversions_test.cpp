// The platform's UTF-16 to UTF-8 conversion on texts whose UTF-8 form does not fit the int it
// answers in: refused with ERROR_ARITHMETIC_OVERFLOW, never a wrapped or negative length.
#include "hostile/huge_text.h"

#include <windows.h>

#include <climits>

namespace quillbox::test {
namespace {

// 715,827,882 three-byte characters make INT_MAX - 1 bytes of UTF-8.
constexpr std::size_t kEuros = INT_MAX / 3;

class WideToUtf8Limit : public ::testing::Test {
 protected:
  void SetUp() override { QUILLBOX_SKIP_UNDER_VALGRIND(); }
  static int Utf8Length(const std::u16string& text, UINT codePage = CP_UTF8) {
    SetLastError(0);
    return WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  }
};

TEST_F(WideToUtf8Limit, ALengthOfExactlyIntMaxIsAnswered) {
  std::u16string text(kEuros, u'\u20AC');
  text += u'a';
  EXPECT_EQ(Utf8Length(text), INT_MAX);
}

TEST_F(WideToUtf8Limit, OneByteMoreIsRefusedNotWrapped) {
  std::u16string text(kEuros, u'\u20AC');
  text += u"ab";
  EXPECT_EQ(Utf8Length(text), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ARITHMETIC_OVERFLOW));
  // A buffer too small for it is still reported as too small.
  std::string small(16, '\0');
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), small.data(),
                                static_cast<int>(small.size()), nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(WideToUtf8Limit, AnAsciiRunPastIntMaxBytesIsRefused) {
  // Non-ASCII first, then a run of ASCII that the converter copies whole.
  std::u16string text(kEuros - 1, u'\u20AC');
  text.append(8, u'x');
  EXPECT_EQ(Utf8Length(text), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ARITHMETIC_OVERFLOW));
}

}  // namespace
}  // namespace quillbox::test
