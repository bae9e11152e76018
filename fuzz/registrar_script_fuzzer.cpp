// The registry-script parser and its replacement pass, on fuzzed scripts with fuzzed
// replacement values. Every script is either refused as a whole (DISP_E_EXCEPTION) or parsed into
// a tree no deeper than the parser allows; nothing else may come back.
#include "registrar_script.h"

#include "fuzz/fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using namespace qb::platform::registrar;
using quillbox::fuzz::Expect;

int Depth(const std::vector<ScriptNode>& nodes) {
  int deepest = 0;
  for (const ScriptNode& node : nodes) {
    Expect(!node.isValue || node.children.empty(), "a named value has sub-keys");
    const int depth = 1 + Depth(node.children);
    if (depth > deepest) deepest = depth;
  }
  return deepest;
}

std::u16string Units(const std::string& bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) | static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
  return units;
}

// Scripts are mostly ASCII; letting the fuzzer write them byte by byte keeps its mutations useful.
std::u16string Widen(const std::string& bytes) { return std::u16string(bytes.begin(), bytes.end()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  Replacements replacements;
  const int count = data.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < count; ++i) {
    std::u16string name = Widen(data.ConsumeRandomLengthString(12));
    std::u16string value = Widen(data.ConsumeRandomLengthString(40));
    replacements.emplace_back(std::move(name), std::move(value));
  }
  const bool rawUnits = data.ConsumeBool();
  const std::string rest = data.ConsumeRemainingBytesAsString();
  const std::u16string script = rawUnits ? Units(rest) : Widen(rest);

  std::u16string expanded;
  const HRESULT expandedResult = ExpandReplacements(script, replacements, expanded);
  Expect(expandedResult == S_OK || expandedResult == DISP_E_EXCEPTION, "replacement gave an unexpected result");
  if (FAILED(expandedResult)) return 0;

  std::vector<ScriptRoot> roots;
  const HRESULT parsed = ParseScript(expanded, roots);
  Expect(parsed == S_OK || parsed == DISP_E_EXCEPTION, "parsing gave an unexpected result");
  if (parsed == S_OK) {
    for (const ScriptRoot& root : roots) {
      Expect(root.root != nullptr, "a parsed script has a root without a key");
      Expect(Depth(root.children) <= kMaxNesting + 1, "a parsed script is deeper than allowed");
    }
  }
  return 0;
}
