// What a browser (or anything posing as one) can send the native messaging host: a stream of
// frames, each read up to its bound and parsed as strict JSON. Nothing may crash or hang; what
// parses must write back as ASCII and read back to the same text; the cut into answer parts must
// stay within its frame bound and join to the whole; an origin is judged without fault.
#include "bridge/frames.h"
#include "common/json_parse.h"
#include "common/json_write.h"
#include "bridge/parts.h"
#include "common/origin.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using namespace quillbox::bridge;
using quillbox::JsonError;
using quillbox::JsonObject;
using quillbox::JsonValue;
using quillbox::kMaxOriginLength;
using quillbox::ParseJson;
using quillbox::WriteJson;
using quillbox::OriginProblem;
using quillbox::fuzz::Expect;

class MemorySource : public ByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    // Uneven reads, as a pipe gives them.
    const std::size_t n = std::min({size, size_ - at_, std::size_t{7} + at_ % 5});
    std::memcpy(buffer, data_ + at_, n);
    at_ += n;
    return n;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void Check(const std::string& message) {
  JsonValue value;
  try {
    value = ParseJson(message);
  } catch (const JsonError&) {
    return;
  }
  const std::string written = WriteJson(value);
  for (const char c : written) Expect(c >= 0x20 && c < 0x7F, "the writer's output is printable ASCII");
  Expect(WriteJson(ParseJson(written)) == written, "what the writer writes reads back the same");

  constexpr std::size_t kBound = 96;
  const JsonValue answer(JsonObject{{u"id", JsonValue(1)}, {u"value", value}});
  std::string joined;
  const std::vector<std::string> frames = AnswerFrames(answer, kBound);
  for (const std::string& frame : frames) {
    Expect(frame.size() <= kBound || frames.size() == 1, "every part is within the frame bound");
    if (frames.size() == 1) break;
    const JsonValue part = ParseJson(frame);
    for (const char16_t unit : *part.Member(u"part")->String()) joined += static_cast<char>(unit);
  }
  Expect(frames.size() == 1 ? frames[0] == WriteJson(answer) : joined == WriteJson(answer),
         "the parts join to the whole answer");

  if (const JsonValue* origin = value.Member(u"origin"); origin != nullptr && origin->String() != nullptr) {
    const bool accepted = !OriginProblem(*origin->String()).has_value();
    Expect(!accepted || origin->String()->size() <= kMaxOriginLength, "no accepted origin is too long");
    if (quillbox::fuzz::Verbose()) std::fprintf(stderr, "origin %s\n", accepted ? "accepted" : "refused");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemorySource source(data, size);
  for (;;) {
    const IncomingFrame frame = ReadFrame(source, 1u << 16);
    if (frame.status != FrameStatus::kMessage) break;
    Check(frame.message);
  }
  // The whole input as one message, too: most mutations break the framing first.
  Check(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
