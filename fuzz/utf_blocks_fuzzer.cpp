// The UTF-8 conversions' SSE2 and AVX2 block forms against the plain loop on fuzzed text, both
// directions: the same answer, last error and destination for the size query, a buffer of the
// size the query answered and one a fuzzed amount too small, with and without the flag that
// refuses invalid text. The input's last bytes choose flags, alignments and the shortfall (as
// FuzzedDataProvider takes numbers from the end); the rest is the text, read as UTF-8 bytes one
// way and as UTF-16 units the other.
#include "fuzz/fuzz_support.h"
#include "tests/support/utf_block_paths.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using quillbox::fuzz::Expect;
using quillbox::test::Destination;
using quillbox::test::ToUtf8Under;
using quillbox::test::ToWideUnder;

// The fuzzer's text may be long; both directions stay well within an int.
constexpr std::size_t kMaxText = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const bool refuseInvalid = data.ConsumeBool();
  const std::size_t sourceOffset = data.ConsumeIntegralInRange<std::size_t>(0, 63);
  const std::size_t destOffset = data.ConsumeIntegralInRange<std::size_t>(0, 63);
  const int shortBy = data.ConsumeIntegralInRange(1, 64);
  const std::string text = data.ConsumeRemainingBytesAsString().substr(0, kMaxText);
  if (text.empty()) return 0;
  std::u16string units(text.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(text[2 * i]) |
                                     (static_cast<unsigned char>(text[2 * i + 1]) << 8));

  for (int path : {QbUtfBlocksSse2, QbUtfBlocksAvx2}) {
    if (!quillbox::test::BlockPathScope(path).selected()) continue;
    const DWORD toWideFlags = refuseInvalid ? MB_ERR_INVALID_CHARS : 0;
    const int wide = ToWideUnder(QbUtfBlocksScalar, text, sourceOffset, toWideFlags, {}).result;
    for (const Destination& to :
         {Destination{}, Destination{true, wide, destOffset}, Destination{true, wide - shortBy, destOffset}}) {
      if (to.present && to.capacity <= 0) continue;
      Expect(ToWideUnder(path, text, sourceOffset, toWideFlags, to) ==
                 ToWideUnder(QbUtfBlocksScalar, text, sourceOffset, toWideFlags, to),
             "MultiByteToWideChar: a block form differs from the plain loop");
    }
    if (units.empty()) continue;
    const DWORD toUtf8Flags = refuseInvalid ? WC_ERR_INVALID_CHARS : 0;
    const int narrow = ToUtf8Under(QbUtfBlocksScalar, units, sourceOffset, toUtf8Flags, {}).result;
    for (const Destination& to :
         {Destination{}, Destination{true, narrow, destOffset}, Destination{true, narrow - shortBy, destOffset}}) {
      if (to.present && to.capacity <= 0) continue;
      Expect(ToUtf8Under(path, units, sourceOffset, toUtf8Flags, to) ==
                 ToUtf8Under(QbUtfBlocksScalar, units, sourceOffset, toUtf8Flags, to),
             "WideCharToMultiByte: a block form differs from the plain loop");
    }
  }
  return 0;
}
