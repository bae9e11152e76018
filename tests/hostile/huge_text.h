// Texts of gigabytes for the tests that need them: a head, a piece repeated many times, a tail.
// Made straight into a BSTR and compared against one without a second copy of either.
#pragma once

#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>

namespace quillbox::test {

struct HugeText {
  std::u16string head;
  std::u16string piece;
  std::size_t times = 0;
  std::u16string tail;

  std::size_t Length() const { return head.size() + piece.size() * times + tail.size(); }
  // Null when it cannot be allocated.
  BSTR Make() const;
  // Whether `text` holds exactly this text, length included.
  ::testing::AssertionResult Matches(BSTR text) const;
};

// Whether the program runs under Valgrind, whose memcheck makes texts of gigabytes take hours and
// twice the memory: the huge tests leave themselves to the plain and sanitizer builds there.
bool UnderValgrind();

// Skips the test under Valgrind, saying why.
#define QUILLBOX_SKIP_UNDER_VALGRIND()                                                                     \
  if (::quillbox::test::UnderValgrind())                                                                    \
  GTEST_SKIP() << "texts of gigabytes take hours under Valgrind; the plain and sanitizer builds run this test"

// The growth of the process's peak resident memory from the moment the watch starts: what the
// work in between needed at its height, whatever it gave back afterwards.
class PeakMemoryWatch {
 public:
  PeakMemoryWatch();
  // Bytes above the resident size at the start; nullopt where the kernel does not let the peak be
  // reset.
  std::optional<std::size_t> Growth() const;

 private:
  bool reset_ = false;
  std::size_t start_ = 0;
};

}  // namespace quillbox::test
