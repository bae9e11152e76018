// The ASCII-run copies for the UTF-8 <-> UTF-16 conversions, in a plain, an SSE2 and an AVX2 form.
#include "utf_blocks.h"

#include <atomic>
#include <bit>

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
    if (high != 0) return i + WidenScalar<Write>(text + i, static_cast<std::size_t>(std::countr_zero(high)), At<Write>(out, i));
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

// AVX2: the same with 32 bytes (or 32 units) a block; the tail shorter than a block goes to the
// SSE2 form. Compiled for AVX2 alone, without -mavx2 for the rest of the library, and called only
// when the processor reports AVX2.
template <bool Write>
__attribute__((target("avx2"))) std::size_t WidenAvx2(const unsigned char* text, std::size_t size, char16_t* out) {
  std::size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
    const unsigned high = static_cast<unsigned>(_mm256_movemask_epi8(bytes));
    if (high != 0) return i + WidenScalar<Write>(text + i, static_cast<std::size_t>(std::countr_zero(high)), At<Write>(out, i));
    if constexpr (Write) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(bytes)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 16),
                          _mm256_cvtepu8_epi16(_mm256_extracti128_si256(bytes, 1)));
    }
  }
  return i + WidenSse2<Write>(text + i, size - i, At<Write>(out, i));
}

template <bool Write>
__attribute__((target("avx2"))) std::size_t NarrowAvx2(const char16_t* text, std::size_t size, char* out) {
  const __m256i nonAscii = _mm256_set1_epi16(static_cast<short>(0xFF80));
  std::size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i + 16));
    if (!_mm256_testz_si256(_mm256_or_si256(a, b), nonAscii)) break;
    if constexpr (Write) {
      // packus works within each 128-bit lane (a0-7 b0-7 | a8-15 b8-15): the quadword permute puts
      // the halves back in order.
      const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), packed);
    }
  }
  return i + NarrowSse2<Write>(text + i, size - i, At<Write>(out, i));
}

#endif  // __x86_64__

struct BlockForm {
  std::size_t (*widen)(const unsigned char*, std::size_t, char16_t*);
  std::size_t (*narrow)(const char16_t*, std::size_t, char*);
};

// A form's two entry points, each choosing its counting or its writing loop once per run.
template <auto WidenCount, auto WidenWrite, auto NarrowCount, auto NarrowWrite>
constexpr BlockForm MakeForm() {
  return {[](const unsigned char* text, std::size_t size, char16_t* out) {
            return out != nullptr ? WidenWrite(text, size, out) : WidenCount(text, size, out);
          },
          [](const char16_t* text, std::size_t size, char* out) {
            return out != nullptr ? NarrowWrite(text, size, out) : NarrowCount(text, size, out);
          }};
}

constexpr BlockForm kScalar = MakeForm<WidenScalar<false>, WidenScalar<true>, NarrowScalar<false>, NarrowScalar<true>>();
#if defined(__x86_64__)
constexpr BlockForm kSse2 = MakeForm<WidenSse2<false>, WidenSse2<true>, NarrowSse2<false>, NarrowSse2<true>>();
constexpr BlockForm kAvx2 = MakeForm<WidenAvx2<false>, WidenAvx2<true>, NarrowAvx2<false>, NarrowAvx2<true>>();
#endif

const BlockForm* FormFor(int path) {
  switch (path) {
    case QbUtfBlocksScalar:
      return &kScalar;
#if defined(__x86_64__)
    case QbUtfBlocksSse2:
      return &kSse2;
    case QbUtfBlocksAvx2:
      return __builtin_cpu_supports("avx2") ? &kAvx2 : nullptr;
#endif
    default:
      return nullptr;
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

std::size_t WidenAsciiPrefix(const unsigned char* text, std::size_t size, char16_t* out) {
  return TheForm().load(std::memory_order_relaxed)->widen(text, size, out);
}

std::size_t NarrowAsciiPrefix(const char16_t* text, std::size_t size, char* out) {
  return TheForm().load(std::memory_order_relaxed)->narrow(text, size, out);
}

}  // namespace qb::platform

BOOL QbSelectUtfBlockPath(int path) {
  const qb::platform::BlockForm* form = qb::platform::FormFor(path);
  if (form == nullptr) return FALSE;
  qb::platform::TheForm().store(form, std::memory_order_relaxed);
  return TRUE;
}
