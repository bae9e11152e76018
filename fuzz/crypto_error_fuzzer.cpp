// The crypto library's error callback with fuzzed reports: any of its texts absent, empty, very
// long or not valid in the code page. The first report of an operation becomes ErrorDesc, cut to
// the callback's buffer; later reports leave it alone until the next operation clears the report.
#include "component/error_report.h"
#include "fuzz/fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace {

using namespace quillbox;
using quillbox::fuzz::Expect;

// The buffer holds 499 bytes of text; no code page makes more UTF-16 units than bytes.
constexpr std::size_t kMaxDescriptionUnits = 499;

std::optional<std::string> ConsumeText(FuzzedDataProvider& data) {
  if (data.ConsumeIntegralInRange(0, 5) == 0) return std::nullopt;
  return data.ConsumeRandomLengthString(700);
}

const char* Pointer(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  ClearErrorState();
  const int reports = data.ConsumeIntegralInRange(1, 3);
  std::u16string first;
  for (int i = 0; i < reports; ++i) {
    const auto file = ConsumeText(data);
    const auto func = ConsumeText(data);
    const auto object = ConsumeText(data);
    const auto subject = ConsumeText(data);
    const auto message = ConsumeText(data);
    const int line = data.ConsumeIntegral<int>();
    const int reason = data.ConsumeIntegral<int>();
    CryptoErrorCallback(Pointer(file), line, Pointer(func), Pointer(object), Pointer(subject), reason, Pointer(message));

    const BSTR description = TheErrorState()->ErrorDesc;
    const std::u16string now = description ? std::u16string(description, SysStringLen(description)) : u"<null>";
    if (i == 0) {
      first = now;
      const bool anyText = file || func || object || subject || message;
      if (description != nullptr) {
        Expect(SysStringLen(description) <= kMaxDescriptionUnits, "the description is longer than its buffer");
        Expect(anyText || SysStringLen(description) == 0, "a report without texts gave a description");
        if (file) Expect(now.starts_with(u"Error in "), "the description does not start with the file");
      }
    } else {
      Expect(now == first, "a later report replaced the first");
    }
  }
  ClearErrorState();
  Expect(TheErrorState()->ErrorDesc == nullptr, "clearing the report kept the description");
  return 0;
}
