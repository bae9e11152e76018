// Shared pieces of the fuzz targets: turning fuzzer bytes into the strings a script would pass,
// and a check that ends the run with a message libFuzzer records beside the crashing input.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/bstr.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace quillbox::fuzz {

// A violated expectation is as much a finding as a crash: report it and abort so that the input
// is kept.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant violated: %s\n", what);
  std::abort();
}
inline void Expect(bool condition, const char* what) {
  if (!condition) Fail(what);
}

// QUILLBOX_FUZZ_VERBOSE=1 makes a target say what each input led to (for checking seeds).
inline bool Verbose() {
  static const bool verbose = std::getenv("QUILLBOX_FUZZ_VERBOSE") != nullptr;
  return verbose;
}

// One owner for every BSTR a target holds: the component's own.
using Text = quillbox::UniqueBstr;

// Bytes as a script's string: read as UTF-8 the way the system converts (invalid sequences become
// U+FFFD), or taken as raw UTF-16 units so that NULs and unpaired surrogates reach the component.
inline BSTR ScriptString(std::string_view bytes, bool rawUnits) {
  if (rawUnits) {
    const UINT units = static_cast<UINT>(bytes.size() / 2);
    BSTR text = SysAllocStringLen(nullptr, units);
    if (text != nullptr && units > 0) std::memcpy(text, bytes.data(), units * sizeof(OLECHAR));
    return text;
  }
  if (bytes.empty()) return SysAllocStringLen(u"", 0);
  const int length = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0);
  if (units <= 0) return nullptr;
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (text != nullptr) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, text, units);
  return text;
}

// The next text of the input, as a script's string. The input's texts come first, each ended by
// a backslash and one more character (a doubled backslash stands for one); whether a string is
// null or raw units is decided by flag bits kept at the input's end, so that a seed can be
// written by hand: "document\\n<name>\\n...", then the flag bytes.
inline BSTR ConsumeScriptString(FuzzedDataProvider& data, std::size_t maxBytes, bool isNull, bool rawUnits) {
  std::string bytes = data.ConsumeRandomLengthString(maxBytes);
  return isNull ? nullptr : ScriptString(bytes, rawUnits);
}

}  // namespace quillbox::fuzz
