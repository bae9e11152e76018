// Block-at-a-time copies of the stretches that dominate the UTF-8 <-> UTF-16 conversions of a
// document: runs of ASCII, which are the same characters in both forms, one byte or one unit each,
// and (with AVX2) the two-byte letters between them.
//
// The conversions (codepage.cpp) hand each run here and decode or encode everything else one
// character at a time as before, so what a text means, what is invalid in it and what replaces
// it are decided in one place only. The blocks are 16 bytes with SSE2 (every x86-64) and 32 with
// AVX2 where the processor has it, chosen once at run time; elsewhere a plain loop.
//
// Written here rather than taken from a library: Debian 12 packages no SIMD UTF library
// (simdutf is not in bookworm), and libunistring's converters are per character and stop at an
// invalid sequence, where Windows replaces each maximal ill-formed subpart.
#pragma once

#include <windows.h>

#include <cstddef>

namespace qb::platform {

struct Widened {
  std::size_t read;     // bytes of text
  std::size_t written;  // UTF-16 units, never more than `read`
};

// The leading stretch of text[0, size) the blocks take, and its UTF-16 units, written to out[]
// when out is not null (nothing past them). The stretch is ASCII, and with AVX2 also well-formed
// two-byte sequences (U+0080 to U+07FF, the Latin, Greek and Cyrillic letters), found and checked
// 16 bytes at a time; it ends on a character boundary, before anything else (longer sequences,
// anything ill-formed, a sequence the end of the text cuts) and before a last stretch too short
// for a block, where only ASCII is taken.
Widened WidenPrefix(const unsigned char* text, std::size_t size, char16_t* out);

struct Narrowed {
  std::size_t read;     // UTF-16 units of text
  std::size_t written;  // bytes
};

// The leading stretch of text[0, size) the blocks take, and its UTF-8 bytes, written to out[]
// when out is not null: at most `room` of them, and nothing past them. The stretch is ASCII, and
// with AVX2 also units below 0x800 (two bytes each), 8 at a time; it ends before anything else
// (three-byte characters, surrogates) and before a last stretch too short for a block, where
// only ASCII is taken. Without out, room is not looked at.
Narrowed NarrowPrefix(const char16_t* text, std::size_t size, char* out, std::size_t room);

}  // namespace qb::platform

// Which block form the conversions use; the process starts with the widest the processor has.
enum QbUtfBlockPath : int { QbUtfBlocksScalar = 0, QbUtfBlocksSse2 = 1, QbUtfBlocksAvx2 = 2 };

// For the tests and the benchmark, which hold every form to the plain loop's results: makes the
// conversions use `path` from now on. FALSE, and nothing changed, when this processor or build
// does not have it.
extern "C" QB_PLATFORM_API BOOL QbSelectUtfBlockPath(int path);
