// The SSE2 and AVX2 block forms of the UTF-8 conversions against the plain loop: on every input
// the same answer, the same last error and the same destination, byte for byte, under every flag,
// for the size query, an exact buffer and buffers too small by one or by much.
#include "support/utf_block_paths.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using quillbox::test::Destination;
using quillbox::test::ToUtf8Under;
using quillbox::test::ToWideUnder;

// Pieces a document's UTF-8 is made of, and the broken ones a conversion must treat as today:
// a lone continuation byte, a cut-off sequence, an overlong form, an encoded surrogate, a code
// point past U+10FFFF, bytes that never occur.
const std::vector<std::string>& Utf8Pieces() {
  static const std::vector<std::string> pieces = {
      "\xC4\x8D", "\xC5\xA1", "\xC5\xBE", "\xC2\x80", "\xDF\xBF",          // two bytes: c-, s-, z-caron, edges
      "\xE6\x94\xAF", "\xE2\x82\xAC", "\xEF\xBF\xBF", "\xE0\xA0\x80",        // three bytes
      "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",                                  // four bytes
      "\x80", "\xBF", "\xC4", "\xE6\x94", "\xF0\x9F\x98",                        // lone and cut off
      "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",              // overlong
      "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80", "\xFE", "\xFF",
  };
  return pieces;
}

const std::vector<std::u16string>& Utf16Pieces() {
  static const std::vector<std::u16string> pieces = {
      u"\u010D", u"\u0161", u"\u017E", u"\u0080", u"\u07FF", u"\u0800", u"\u652F", u"\uFFFF", u"\U0001F600",
      std::u16string(1, char16_t(0xD800)), std::u16string(1, char16_t(0xDBFF)),  // unpaired high
      std::u16string(1, char16_t(0xDC00)), std::u16string(1, char16_t(0xDFFF)),  // unpaired low
  };
  return pieces;
}

// Mostly ASCII runs of any length up to past two AVX2 blocks, with pieces between them; cut to
// exactly `length`, which may split the last piece.
template <typename Text>
Text RandomText(std::mt19937& random, std::size_t length, const std::vector<Text>& pieces, bool brokenToo) {
  Text text;
  std::uniform_int_distribution<int> run(0, 70);
  std::uniform_int_distribution<int> ascii(0, 0x7F);
  // The broken pieces come last in each list: a valid-only text draws from the first ones.
  const std::size_t valid = sizeof(typename Text::value_type) == 1 ? 11 : 9;
  std::uniform_int_distribution<std::size_t> piece(0, (brokenToo ? pieces.size() : valid) - 1);
  while (text.size() < length) {
    for (int n = run(random); n > 0; --n) text += static_cast<typename Text::value_type>(ascii(random));
    text += pieces[piece(random)];
  }
  text.resize(length);
  return text;
}

// The destinations a caller may give for a text that needs `needed` elements.
std::vector<Destination> DestinationsFor(int needed, std::size_t offset) {
  std::vector<Destination> to = {{false, 0, 0}};
  for (int capacity : {needed, needed - 1, needed / 2, 1, needed + 7})
    if (capacity > 0) to.push_back({true, capacity, offset});
  return to;
}

class Utf8BlockForm : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    quillbox::test::BlockPathScope probe(GetParam());
    if (!probe.selected()) GTEST_SKIP() << "this processor or build lacks the form";
  }

  // Every flag and destination, the source at `offset` past a 64-byte boundary.
  void ExpectSameToWide(const std::string& bytes, std::size_t offset) {
    for (DWORD flags : {DWORD{0}, static_cast<DWORD>(MB_ERR_INVALID_CHARS)}) {
      const int needed = ToWideUnder(QbUtfBlocksScalar, bytes, offset, flags, {}).result;
      for (const Destination& to : DestinationsFor(needed, (offset * 7) % 32)) {
        ASSERT_EQ(ToWideUnder(GetParam(), bytes, offset, flags, to),
                  ToWideUnder(QbUtfBlocksScalar, bytes, offset, flags, to))
            << "length " << bytes.size() << " offset " << offset << " flags " << flags << " capacity "
            << (to.present ? to.capacity : -1);
      }
    }
  }

  void ExpectSameToUtf8(const std::u16string& units, std::size_t offset) {
    for (DWORD flags : {DWORD{0}, static_cast<DWORD>(WC_ERR_INVALID_CHARS)}) {
      const int needed = ToUtf8Under(QbUtfBlocksScalar, units, offset, flags, {}).result;
      for (const Destination& to : DestinationsFor(needed, (offset * 7) % 64)) {
        ASSERT_EQ(ToUtf8Under(GetParam(), units, offset, flags, to),
                  ToUtf8Under(QbUtfBlocksScalar, units, offset, flags, to))
            << "length " << units.size() << " offset " << offset << " flags " << flags << " capacity "
            << (to.present ? to.capacity : -1);
      }
    }
  }
};

TEST_P(Utf8BlockForm, EveryLengthAtEveryAlignmentToWide) {
  std::mt19937 random(20261208);
  for (std::size_t length = 0; length <= 200; ++length) {
    for (std::size_t offset = 0; offset < 64; ++offset) {
      ExpectSameToWide(RandomText(random, length, Utf8Pieces(), offset % 2 == 1), offset);
      if (HasFatalFailure()) return;
    }
  }
}

TEST_P(Utf8BlockForm, EveryLengthAtEveryAlignmentToUtf8) {
  std::mt19937 random(20261209);
  for (std::size_t length = 0; length <= 200; ++length) {
    for (std::size_t offset = 0; offset < 64; ++offset) {
      ExpectSameToUtf8(RandomText(random, length, Utf16Pieces(), offset % 2 == 1), offset);
      if (HasFatalFailure()) return;
    }
  }
}

// Dense two-byte letters with short ASCII runs, as in Slovenian or Russian prose, and now and
// then a fault that only differs from them in one bit or one byte: the chunks the AVX2 form
// decodes itself, next to the ones it must leave to the plain decoder.
std::string DenseTwoByteText(std::mt19937& random, std::size_t length) {
  static const std::vector<std::string> letters = {"\xC4\x8D", "\xC5\xA1", "\xD0\x96", "\xC2\x80", "\xDF\xBF"};
  static const std::vector<std::string> faults = {"\xC0\x80", "\xC1\xBF", "\x80", "\xC4", "\xC4\xC4", "\xE2\x82\xAC",
                                                   "\xC4\x0D", "\xC4\xC0"};
  std::uniform_int_distribution<int> run(0, 4);
  std::uniform_int_distribution<std::size_t> letter(0, letters.size() - 1);
  std::uniform_int_distribution<std::size_t> fault(0, faults.size() - 1);
  std::uniform_int_distribution<int> oneIn(0, 40);
  std::string text;
  while (text.size() < length) {
    text += std::string(static_cast<std::size_t>(run(random)), 'a');
    text += oneIn(random) == 0 ? faults[fault(random)] : letters[letter(random)];
  }
  text.resize(length);
  return text;
}

TEST_P(Utf8BlockForm, DenseTwoByteTextWithRareFaultsToWide) {
  std::mt19937 random(20261210);
  for (std::size_t length = 16; length <= 200; ++length) {
    for (std::size_t offset = 0; offset < 64; offset += 3) {
      ExpectSameToWide(DenseTwoByteText(random, length), offset);
      if (HasFatalFailure()) return;
    }
  }
}

// The same for UTF-16: letters below 0x800 and now and then a unit just past them, a surrogate
// pair or a lone surrogate.
std::u16string DenseTwoByteUnits(std::mt19937& random, std::size_t length) {
  static const std::u16string letters = u"\u010D\u0161\u0416\u0080\u07FF";
  static const std::vector<std::u16string> faults = {u"\u0800", u"\U0001F600", std::u16string(1, char16_t(0xD800)),
                                                      std::u16string(1, char16_t(0xDFFF)), u"\uFFFF"};
  std::uniform_int_distribution<int> run(0, 4);
  std::uniform_int_distribution<std::size_t> letter(0, letters.size() - 1);
  std::uniform_int_distribution<std::size_t> fault(0, faults.size() - 1);
  std::uniform_int_distribution<int> oneIn(0, 40);
  std::u16string text;
  while (text.size() < length) {
    text += std::u16string(static_cast<std::size_t>(run(random)), u'a');
    if (oneIn(random) == 0) {
      text += faults[fault(random)];
    } else {
      text += letters[letter(random)];
    }
  }
  text.resize(length);
  return text;
}

TEST_P(Utf8BlockForm, DenseTwoByteTextWithRareOthersToUtf8) {
  std::mt19937 random(20261211);
  for (std::size_t length = 8; length <= 200; ++length) {
    for (std::size_t offset = 0; offset < 64; offset += 3) {
      ExpectSameToUtf8(DenseTwoByteUnits(random, length), offset);
      if (HasFatalFailure()) return;
    }
  }
}

// Each piece right before, across and right after the edge of a 16- and a 32-element block,
// with ASCII on both sides so that the blocks around it are taken whole.
TEST_P(Utf8BlockForm, PiecesAtBlockEdgesToWide) {
  for (const std::string& piece : Utf8Pieces()) {
    for (std::size_t before = 10; before <= 66; ++before) {
      const std::string bytes = std::string(before, 'a') + piece + std::string(40, 'b');
      for (std::size_t offset : {0u, 1u, 15u, 31u}) ExpectSameToWide(bytes, offset);
      if (HasFatalFailure()) return;
    }
  }
}

TEST_P(Utf8BlockForm, PiecesAtBlockEdgesToUtf8) {
  for (const std::u16string& piece : Utf16Pieces()) {
    for (std::size_t before = 10; before <= 66; ++before) {
      const std::u16string units = std::u16string(before, u'a') + piece + std::u16string(40, u'b');
      for (std::size_t offset : {0u, 1u, 15u, 31u}) ExpectSameToUtf8(units, offset);
      if (HasFatalFailure()) return;
    }
  }
}

// The forms answer what the plain loop answers; this holds them, and the loop, to the known
// result of a document-sized text as well, so that a fault shared by all would show too.
TEST_P(Utf8BlockForm, LongMixedTextConvertsBothWays) {
  std::string bytes;
  std::u16string units;
  for (int i = 0; i < 2000; ++i) {
    const std::size_t run = static_cast<std::size_t>(i % 90);
    bytes += "<Town>\xC5\xBD" "alec</Town><Note>\xE6\x94\xAF</Note>" + std::string(run, 'x');
    units += u"<Town>\u017Dalec</Town><Note>\u652F</Note>" + std::u16string(run, u'x');
  }
  quillbox::test::BlockPathScope scope(GetParam());
  std::u16string wide(units.size(), u'\0');
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                wide.data(), static_cast<int>(wide.size())),
            static_cast<int>(units.size()));
  EXPECT_EQ(wide, units);
  std::string narrow(bytes.size(), '\0');
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units.data(), static_cast<int>(units.size()),
                                narrow.data(), static_cast<int>(narrow.size()), nullptr, nullptr),
            static_cast<int>(bytes.size()));
  EXPECT_EQ(narrow, bytes);
}

INSTANTIATE_TEST_SUITE_P(Forms, Utf8BlockForm, testing::Values(QbUtfBlocksSse2, QbUtfBlocksAvx2),
                         [](const testing::TestParamInfo<int>& info) {
                           return info.param == QbUtfBlocksSse2 ? std::string("Sse2") : std::string("Avx2");
                         });

TEST(Utf8BlockPath, UnknownFormIsRefusedAndThePlainLoopAlwaysThere) {
  EXPECT_EQ(QbSelectUtfBlockPath(7), FALSE);
  quillbox::test::BlockPathScope scope(QbUtfBlocksScalar);
  EXPECT_TRUE(scope.selected());
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc\xC4\x8D", 5, nullptr, 0), 4);
}

}  // namespace
