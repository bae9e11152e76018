// Transform with a fuzzed document and stylesheet. Transform never changes XmlDoc, returns S_OK,
// gives an empty result on every failure, and never reaches outside the process: the run takes
// place in an empty working directory that must still be empty afterwards (relative names resolve
// there; the fuzzer's own paths stay relative to where it was started).
#include "component/error_report.h"
#include "component/signature.h"
#include "fuzz/fuzz_environment.h"
#include "fuzz/fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace quillbox;
using quillbox::fuzz::Expect;

const std::filesystem::path& WorkDirectory() {
  static const std::filesystem::path directory = fuzz::TemporaryDirectory() / "work";
  return directory;
}

class InWorkDirectory {
 public:
  InWorkDirectory() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(WorkDirectory()); }
  ~InWorkDirectory() { std::filesystem::current_path(previous_); }
  InWorkDirectory(const InWorkDirectory&) = delete;
  InWorkDirectory& operator=(const InWorkDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::filesystem::create_directories(WorkDirectory());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  Signature object;
  const bool rawUnits = data.ConsumeBool();  // the last byte
  {
    fuzz::Text document(fuzz::ConsumeScriptString(data, size, false, rawUnits));
    object.put_XmlDoc(document.get());
  }
  fuzz::Text stylesheet(fuzz::ScriptString(data.ConsumeRemainingBytesAsString(), rawUnits));

  fuzz::Text before;
  object.get_XmlDoc(before.out());
  fuzz::Text result;
  InWorkDirectory confined;
  Expect(object.Transform(stylesheet.get(), result.out()) == S_OK, "Transform returned a failure status");
  fuzz::Text after;
  object.get_XmlDoc(after.out());

  if (fuzz::Verbose())
    std::fprintf(stderr, "Transform: error %d, %zu units\n", static_cast<int>(TheErrorState()->ErrorNo), result.view().size());
  Expect((before.get() == nullptr) == (after.get() == nullptr) && before.view() == after.view(),
         "Transform changed XmlDoc");
  if (TheErrorState()->ErrorNo != 0) {
    Expect(result.get() != nullptr && result.view().empty(), "a failed Transform returned a result");
  } else {
    Expect(result.get() != nullptr, "a successful Transform returned no string");
  }
  Expect(std::filesystem::is_empty(WorkDirectory()), "Transform wrote a file");
  return 0;
}
