// The block copies for the UTF-8 <-> UTF-16 conversions, in a plain, an SSE2 and an AVX2 form.
#include "utf_blocks.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qb::platform {
namespace {

// The plain loop: the other forms finish with it, for a block's ASCII head before its first
// non-ASCII element and for the tail shorter than a block.
template <bool Write>
std::size_t WidenScalar(const unsigned char* text, std::size_t size, char16_t* out) {
  std::size_t i = 0;
  for (; i < size && text[i] < 0x80; ++i)
    if constexpr (Write) out[i] = text[i];
  return i;
}

template <bool Write>
std::size_t NarrowScalar(const char16_t* text, std::size_t size, char* out) {
  std::size_t i = 0;
  for (; i < size && text[i] < 0x80; ++i)
    if constexpr (Write) out[i] = static_cast<char>(text[i]);
  return i;
}

#if defined(__x86_64__)

// The offset out + i, or null when only counting: the pointer is never formed past a
// destination that is not there.
template <bool Write, typename T>
T* At(T* out, std::size_t i) {
  if constexpr (Write) return out + i;
  return nullptr;
}

// SSE2: 16 bytes at a time; a block with any high bit set ends the run inside it, at its first
// such byte, which movemask finds.
template <bool Write>
std::size_t WidenSse2(const unsigned char* text, std::size_t size, char16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
    if (high != 0)
      return i + WidenScalar<Write>(text + i, static_cast<std::size_t>(std::countr_zero(high)), At<Write>(out, i));
    if constexpr (Write) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(bytes, zero));
    }
  }
  return i + WidenScalar<Write>(text + i, size - i, At<Write>(out, i));
}

// 16 units (two registers) at a time: all below 0x80 when no unit has a bit in 0xFF80, and then
// packus narrows them without saturating any. Otherwise the plain loop finds the run's end in the block.
template <bool Write>
std::size_t NarrowSse2(const char16_t* text, std::size_t size, char* out) {
  const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 8));
    const __m128i high = _mm_and_si128(_mm_or_si128(a, b), nonAscii);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) != 0xFFFF) break;
    if constexpr (Write) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
  }
  return i + NarrowScalar<Write>(text + i, size - i, At<Write>(out, i));
}

// For a mask of which of 8 UTF-16 units to keep, the pshufb control that moves the kept ones to
// the front, in order (the rest of the register is zero).
struct CompactTable {
  alignas(16) unsigned char control[256][16];
  constexpr CompactTable() : control{} {
    for (int mask = 0; mask < 256; ++mask) {
      int to = 0;
      for (int unit = 0; unit < 8; ++unit) {
        if ((mask >> unit & 1) == 0) continue;
        control[mask][2 * to] = static_cast<unsigned char>(2 * unit);
        control[mask][2 * to + 1] = static_cast<unsigned char>(2 * unit + 1);
        ++to;
      }
      for (int byte = 2 * to; byte < 16; ++byte) control[mask][byte] = 0x80;
    }
  }
};
constexpr CompactTable kCompact;

// One 16-byte chunk of ASCII and two-byte sequences, decoded to 8 to 16 UTF-16 units in two
// registers: `front` holds frontCount of them, `back` the other backCount.
struct Chunk {
  __m128i front, back;
  unsigned frontCount, backCount;
  unsigned read;  // 16, or 15 when the last byte leads a sequence the next chunk holds
};

// Takes the chunk only when every byte is ASCII, a lead byte C2..DF followed by a continuation
// byte, or that continuation: exactly what DecodeUtf8 accepts as one- and two-byte characters,
// so anything else (E0 and up, C0/C1 overlongs, stray or missing continuations) is left to it.
__attribute__((target("avx2"))) inline bool TwoByteChunk(__m128i bytes, Chunk& chunk) {
  // As signed bytes: continuations 80..BF are below -64, leads C2..DF between -63 and -32.
  const __m128i continuation = _mm_cmpgt_epi8(_mm_set1_epi8(-64), bytes);
  const __m128i lead =
      _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(-63)), _mm_cmpgt_epi8(_mm_set1_epi8(-32), bytes));
  const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
  const unsigned c = static_cast<unsigned>(_mm_movemask_epi8(continuation));
  const unsigned l = static_cast<unsigned>(_mm_movemask_epi8(lead));
  if ((c | l) != high || c != ((l << 1) & 0xFFFF)) return false;
  // A lead in the last byte: its sequence is the next chunk's; this one ends before it.
  const unsigned keep = ~(c | (l & 0x8000)) & 0xFFFF;
  const __m128i next = _mm_srli_si128(bytes, 1);
  const __m128i units[2] = {_mm_cvtepu8_epi16(bytes), _mm_cvtepu8_epi16(_mm_srli_si128(bytes, 8))};
  const __m128i trails[2] = {_mm_cvtepu8_epi16(next), _mm_cvtepu8_epi16(_mm_srli_si128(next, 8))};
  const __m128i leads[2] = {_mm_cvtepi8_epi16(lead), _mm_cvtepi8_epi16(_mm_srli_si128(lead, 8))};
  __m128i decoded[2];
  for (int half = 0; half < 2; ++half) {
    const __m128i two = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(units[half], _mm_set1_epi16(0x1F)), 6),
                                     _mm_and_si128(trails[half], _mm_set1_epi16(0x3F)));
    const unsigned halfKeep = (keep >> (8 * half)) & 0xFF;
    decoded[half] = _mm_shuffle_epi8(_mm_blendv_epi8(units[half], two, leads[half]),
                                     _mm_load_si128(reinterpret_cast<const __m128i*>(kCompact.control[halfKeep])));
  }
  chunk.front = decoded[0];
  chunk.back = decoded[1];
  chunk.frontCount = static_cast<unsigned>(std::popcount(keep & 0xFF));
  chunk.backCount = static_cast<unsigned>(std::popcount(keep >> 8));
  chunk.read = (l & 0x8000) != 0 ? 15 : 16;
  return true;
}

// AVX2: ASCII 32 bytes a block; a block with other bytes is taken as two 16-byte chunks of ASCII
// and two-byte sequences where it is one. The tail shorter than a chunk is the plain loop's.
// Compiled for AVX2 alone, without -mavx2 for the rest of the library, and called only when the
// processor reports AVX2.
//
// A chunk's units are stored as whole registers, so each store leaves up to 8 units of filler
// after its valid ones, all inside the chunk's share of the destination (a chunk never makes more
// units than bytes). Every later store begins where the valid units end and covers that filler;
// the chunk's back register is therefore held until the next store, and the last one is written
// unit by unit, so nothing past the answered count is ever changed.
template <bool Write>
__attribute__((target("avx2"))) Widened WidenAvx2(const unsigned char* text, std::size_t size, char16_t* out) {
  std::size_t i = 0;
  std::size_t w = 0;
  __m128i held = _mm_setzero_si128();
  std::size_t heldAt = 0;
  std::size_t heldCount = 0;
  bool holding = false;
  auto release = [&] {
    if (holding) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + heldAt), held);
    holding = false;
  };
  while (i + 16 <= size) {
    if (i + 32 <= size) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
      if (_mm256_movemask_epi8(bytes) == 0) {
        if constexpr (Write) {
          release();
          _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + w), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(bytes)));
          _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + w + 16),
                              _mm256_cvtepu8_epi16(_mm256_extracti128_si256(bytes, 1)));
        }
        i += 32;
        w += 32;
        continue;
      }
    }
    Chunk chunk;
    if (!TwoByteChunk(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i)), chunk)) break;
    if constexpr (Write) {
      release();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), chunk.front);
      held = chunk.back;
      heldAt = w + chunk.frontCount;
      heldCount = chunk.backCount;
      holding = true;
    }
    i += chunk.read;
    w += chunk.frontCount + chunk.backCount;
  }
  if constexpr (Write) {
    if (holding) {
      alignas(16) char16_t last[8];
      _mm_store_si128(reinterpret_cast<__m128i*>(last), held);
      for (std::size_t k = 0; k < heldCount; ++k) out[heldAt + k] = last[k];
    }
  }
  const std::size_t ascii = WidenScalar<Write>(text + i, size - i, At<Write>(out, w));
  return {i + ascii, w + ascii};
}

// For a mask of which of 8 UTF-16 units take two bytes in UTF-8, the pshufb control that keeps
// each unit's low byte and, for those, its high byte too, in order.
struct ExpandTable {
  alignas(16) unsigned char control[256][16];
  constexpr ExpandTable() : control{} {
    for (int mask = 0; mask < 256; ++mask) {
      int to = 0;
      for (int unit = 0; unit < 8; ++unit) {
        control[mask][to++] = static_cast<unsigned char>(2 * unit);
        if ((mask >> unit & 1) != 0) control[mask][to++] = static_cast<unsigned char>(2 * unit + 1);
      }
      for (; to < 16; ++to) control[mask][to] = 0x80;
    }
  }
};
constexpr ExpandTable kExpand;

// AVX2: ASCII 32 units a block; a block with other units is taken as 8-unit chunks where every
// unit is below 0x800 (ASCII or a two-byte letter; no surrogate is), each encoded in place as the
// 16-bit word of its one or two bytes and the words' bytes compacted by pshufb. Each chunk makes
// 8 to 16 bytes, stored as a whole register and so held back until the next store covers its
// filler, as WidenAvx2 does; a store is made only where the whole register fits in `room`.
template <bool Write>
__attribute__((target("avx2"))) Narrowed NarrowAvx2(const char16_t* text, std::size_t size, char* out,
                                                    std::size_t room) {
  const __m256i nonAscii = _mm256_set1_epi16(static_cast<short>(0xFF80));
  std::size_t i = 0;
  std::size_t w = 0;
  __m128i held = _mm_setzero_si128();
  std::size_t heldAt = 0;
  std::size_t heldCount = 0;
  bool holding = false;
  auto release = [&] {
    if (holding) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + heldAt), held);
    holding = false;
  };
  while (i + 8 <= size) {
    if (i + 32 <= size && (!Write || w + 32 <= room)) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i + 16));
      if (_mm256_testz_si256(_mm256_or_si256(a, b), nonAscii)) {
        if constexpr (Write) {
          release();
          // packus works within each 128-bit lane (a0-7 b0-7 | a8-15 b8-15): the quadword permute
          // puts the halves back in order.
          _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + w),
                              _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
        }
        i += 32;
        w += 32;
        continue;
      }
    }
    if (Write && w + 16 > room) break;
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    if (!_mm_testz_si128(units, _mm_set1_epi16(static_cast<short>(0xF800)))) break;
    // Below 0x800 the signed compare is the unsigned one.
    const __m128i ascii = _mm_cmpgt_epi16(_mm_set1_epi16(0x80), units);
    const __m128i lead = _mm_or_si128(_mm_srli_epi16(units, 6), _mm_set1_epi16(0xC0));
    const __m128i trail = _mm_or_si128(_mm_and_si128(units, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
    const __m128i words = _mm_blendv_epi8(_mm_or_si128(lead, _mm_slli_epi16(trail, 8)), units, ascii);
    const unsigned twoBytes =
        ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(ascii, _mm_setzero_si128()))) & 0xFF;
    const std::size_t made = 8 + static_cast<std::size_t>(std::popcount(twoBytes));
    if constexpr (Write) {
      release();
      held = _mm_shuffle_epi8(words, _mm_load_si128(reinterpret_cast<const __m128i*>(kExpand.control[twoBytes])));
      heldAt = w;
      heldCount = made;
      holding = true;
    }
    i += 8;
    w += made;
  }
  if constexpr (Write) {
    if (holding) {
      alignas(16) char last[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(last), held);
      for (std::size_t k = 0; k < heldCount; ++k) out[heldAt + k] = last[k];
    }
  }
  const std::size_t ascii =
      NarrowSse2<Write>(text + i, Write ? std::min(size - i, room - w) : size - i, At<Write>(out, w));
  return {i + ascii, w + ascii};
}

#endif  // __x86_64__

struct BlockForm {
  Widened (*widen)(const unsigned char*, std::size_t, char16_t*);
  Narrowed (*narrow)(const char16_t*, std::size_t, char*, std::size_t);
};

// The plain and SSE2 forms take ASCII only, where what is read is what is written, and a writing
// run stops where the room does.
constexpr Widened AsWidened(std::size_t ascii) { return {ascii, ascii}; }
constexpr Widened AsWidened(Widened widened) { return widened; }

template <auto Narrow>
Narrowed NarrowWithin(const char16_t* text, std::size_t size, char* out, std::size_t room) {
  if constexpr (std::is_invocable_v<decltype(Narrow), const char16_t*, std::size_t, char*, std::size_t>) {
    return Narrow(text, size, out, room);
  } else {
    const std::size_t ascii = Narrow(text, out != nullptr ? std::min(size, room) : size, out);
    return {ascii, ascii};
  }
}

// A form's two entry points, each choosing its counting or its writing loop once per run.
template <auto WidenCount, auto WidenWrite, auto NarrowCount, auto NarrowWrite>
constexpr BlockForm MakeForm() {
  return {[](const unsigned char* text, std::size_t size, char16_t* out) {
            return AsWidened(out != nullptr ? WidenWrite(text, size, out) : WidenCount(text, size, out));
          },
          [](const char16_t* text, std::size_t size, char* out, std::size_t room) {
            return out != nullptr ? NarrowWithin<NarrowWrite>(text, size, out, room)
                                  : NarrowWithin<NarrowCount>(text, size, out, room);
          }};
}

constexpr BlockForm kScalar =
    MakeForm<WidenScalar<false>, WidenScalar<true>, NarrowScalar<false>, NarrowScalar<true>>();
#if defined(__x86_64__)
constexpr BlockForm kSse2 = MakeForm<WidenSse2<false>, WidenSse2<true>, NarrowSse2<false>, NarrowSse2<true>>();
constexpr BlockForm kAvx2 = MakeForm<WidenAvx2<false>, WidenAvx2<true>, NarrowAvx2<false>, NarrowAvx2<true>>();
#endif

const BlockForm* FormFor(int path) {
  switch (path) {
    case QbUtfBlocksScalar: return &kScalar;
#if defined(__x86_64__)
    case QbUtfBlocksSse2: return &kSse2;
    case QbUtfBlocksAvx2: return __builtin_cpu_supports("avx2") ? &kAvx2 : nullptr;
#endif
    default: return nullptr;
  }
}

const BlockForm* Widest() {
#if defined(__x86_64__)
  __builtin_cpu_init();  // the first use may come from another library's static constructor
#endif
  for (int path : {QbUtfBlocksAvx2, QbUtfBlocksSse2})
    if (const BlockForm* form = FormFor(path)) return form;
  return &kScalar;
}

// The widest form, chosen at the first conversion; QbSelectUtfBlockPath may change it later.
std::atomic<const BlockForm*>& TheForm() {
  static std::atomic<const BlockForm*> form{Widest()};
  return form;
}

}  // namespace

Widened WidenPrefix(const unsigned char* text, std::size_t size, char16_t* out) {
  return TheForm().load(std::memory_order_relaxed)->widen(text, size, out);
}

Narrowed NarrowPrefix(const char16_t* text, std::size_t size, char* out, std::size_t room) {
  return TheForm().load(std::memory_order_relaxed)->narrow(text, size, out, room);
}

}  // namespace qb::platform

BOOL QbSelectUtfBlockPath(int path) {
  const qb::platform::BlockForm* form = qb::platform::FormFor(path);
  if (form == nullptr) return FALSE;
  qb::platform::TheForm().store(form, std::memory_order_relaxed);
  return TRUE;
}
