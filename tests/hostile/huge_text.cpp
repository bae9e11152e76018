#include "hostile/huge_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

namespace quillbox::test {
namespace {

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
std::size_t StatusBytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with(field + ":")) return std::stoull(line.substr(field.size() + 1)) * 1024;
  return 0;
}

}  // namespace

bool UnderValgrind() {
  // Valgrind's core preloads its own library into every program it runs.
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

BSTR HugeText::Make() const {
  const std::size_t length = Length();
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (text == nullptr) return nullptr;
  char16_t* at = text;
  at = std::copy(head.begin(), head.end(), at);
  if (piece.size() == 1) {
    std::fill_n(at, times, piece[0]);
    at += times;
  } else {
    for (std::size_t i = 0; i < times; ++i) at = std::copy(piece.begin(), piece.end(), at);
  }
  std::copy(tail.begin(), tail.end(), at);
  return text;
}

::testing::AssertionResult HugeText::Matches(BSTR text) const {
  if (text == nullptr) return ::testing::AssertionFailure() << "the text is null";
  const std::size_t length = SysStringLen(text);
  if (length != Length()) return ::testing::AssertionFailure() << "length " << length << ", expected " << Length();
  const char16_t* at = text;
  auto same = [&at](const std::u16string& part) {
    const bool equal = std::equal(part.begin(), part.end(), at);
    at += part.size();
    return equal;
  };
  if (!same(head)) return ::testing::AssertionFailure() << "the head differs";
  if (piece.size() == 1) {
    const char16_t* end = at + times;
    if (const char16_t* wrong = std::find_if(at, end, [this](char16_t unit) { return unit != piece[0]; }); wrong != end)
      return ::testing::AssertionFailure() << "repetition " << (wrong - at) << " differs";
    at = end;
  } else {
    for (std::size_t i = 0; i < times; ++i)
      if (!same(piece)) return ::testing::AssertionFailure() << "repetition " << i << " differs";
  }
  if (!same(tail)) return ::testing::AssertionFailure() << "the tail differs";
  return ::testing::AssertionSuccess();
}

PeakMemoryWatch::PeakMemoryWatch() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";  // resets the peak resident size to the current one
  clear.close();
  reset_ = !clear.fail();
  start_ = StatusBytes("VmRSS");
}

std::optional<std::size_t> PeakMemoryWatch::Growth() const {
  if (!reset_) return std::nullopt;
  const std::size_t peak = StatusBytes("VmHWM");
  return peak > start_ ? peak - start_ : 0;
}

}  // namespace quillbox::test
