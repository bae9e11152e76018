// Runs the platform's UTF-8 conversions under one chosen block form (plain loop, SSE2, AVX2) and
// keeps everything a caller can observe: the answer, the last error and the whole destination,
// past the converted part too. The tests and the fuzz target compare these across the forms.
#pragma once

#include "platform/kernel32/utf_blocks.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillbox::test {

// The destination the call is given: none (the size query) or a buffer of `capacity` elements
// at `offset` elements past a 64-byte boundary. The rest of the storage holds a filler, so that a
// write outside what the conversion answers shows in `written`.
struct Destination {
  bool present = false;
  int capacity = 0;
  std::size_t offset = 0;
};

template <typename Unit>
struct Outcome {
  int result = 0;
  DWORD error = 0;
  std::basic_string<Unit> written;  // the whole destination storage, filler included
  bool operator==(const Outcome&) const = default;
};

// Storage whose element `offset` (in units) lies `offset` units past a 64-byte boundary, with
// `count` elements there, the slack before and after filled with `filler`.
template <typename Unit>
class PlacedBuffer {
 public:
  PlacedBuffer(const Unit* data, std::size_t count, std::size_t offset, Unit filler)
      : storage_(count + offset + 128 / sizeof(Unit), filler), count_(count), offset_(offset) {
    const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
    const std::size_t skip = ((64 - address % 64) % 64) / sizeof(Unit);
    start_ = skip + offset;
    if (data != nullptr) std::copy(data, data + count, storage_.begin() + static_cast<std::ptrdiff_t>(start_));
  }
  Unit* data() { return storage_.data() + start_; }
  // From the 64-byte boundary on, the same length whatever address the storage got: two buffers
  // placed alike compare equal when their contents do, though their allocations fall apart.
  std::basic_string<Unit> All() const {
    const std::size_t from = start_ - offset_;
    return {storage_.begin() + static_cast<std::ptrdiff_t>(from),
            storage_.begin() + static_cast<std::ptrdiff_t>(from + count_ + offset_ + 64 / sizeof(Unit))};
  }

 private:
  std::vector<Unit> storage_;
  std::size_t count_;
  std::size_t offset_;
  std::size_t start_ = 0;
};

// Selects `path` for the scope, and the widest form the processor has again afterwards.
class BlockPathScope {
 public:
  explicit BlockPathScope(int path) : selected_(QbSelectUtfBlockPath(path) != FALSE) {}
  ~BlockPathScope() {
    if (QbSelectUtfBlockPath(QbUtfBlocksAvx2) == FALSE) QbSelectUtfBlockPath(QbUtfBlocksSse2);
  }
  BlockPathScope(const BlockPathScope&) = delete;
  BlockPathScope& operator=(const BlockPathScope&) = delete;
  bool selected() const { return selected_; }

 private:
  bool selected_;
};

constexpr DWORD kUntouchedError = 0xC0DE;

// MultiByteToWideChar(CP_UTF8) of bytes placed at `sourceOffset` past a 64-byte boundary.
inline Outcome<char16_t> ToWideUnder(int path, const std::string& bytes, std::size_t sourceOffset, DWORD flags,
                                     const Destination& to) {
  BlockPathScope scope(path);
  PlacedBuffer<char> source(bytes.data(), bytes.size(), sourceOffset, '\0');
  PlacedBuffer<char16_t> dest(nullptr, static_cast<std::size_t>(to.capacity), to.offset, u'\xA5A5');
  SetLastError(kUntouchedError);
  Outcome<char16_t> outcome;
  outcome.result = MultiByteToWideChar(CP_UTF8, flags, source.data(), static_cast<int>(bytes.size()),
                                       to.present ? dest.data() : nullptr, to.present ? to.capacity : 0);
  outcome.error = GetLastError();
  outcome.written = dest.All();
  return outcome;
}

// WideCharToMultiByte(CP_UTF8) of units placed at `sourceOffset` units past a 64-byte boundary.
inline Outcome<char> ToUtf8Under(int path, const std::u16string& units, std::size_t sourceOffset, DWORD flags,
                                 const Destination& to) {
  BlockPathScope scope(path);
  PlacedBuffer<char16_t> source(units.data(), units.size(), sourceOffset, u'\0');
  PlacedBuffer<char> dest(nullptr, static_cast<std::size_t>(to.capacity), to.offset, '\xA5');
  SetLastError(kUntouchedError);
  Outcome<char> outcome;
  outcome.result =
      WideCharToMultiByte(CP_UTF8, flags, source.data(), static_cast<int>(units.size()),
                          to.present ? dest.data() : nullptr, to.present ? to.capacity : 0, nullptr, nullptr);
  outcome.error = GetLastError();
  outcome.written = dest.All();
  return outcome;
}

}  // namespace quillbox::test
