// Reading and writing native messaging frames: exact reads, however the input arrives, and the
// bounds of both directions.
#include "bridge/frames.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quillbox::bridge {
namespace {

// Hands out its bytes `step` at a time, as a pipe may.
class Trickle : public ByteSource {
 public:
  Trickle(std::string bytes, std::size_t step) : bytes_(std::move(bytes)), step_(step) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t n = std::min({size, step_, bytes_.size() - at_});
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string bytes_;
  std::size_t step_;
  std::size_t at_ = 0;
};

class Collect : public ByteSink {
 public:
  bool Write(std::string_view bytes) override {
    out += bytes;
    return true;
  }
  std::string out;
};

std::string Header(std::uint32_t length) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &length, 4);
  return bytes;
}

TEST(Frames, ReadsExactlyOneFrameAtATimeHoweverTheBytesArrive) {
  for (const std::size_t step : {1u, 3u, 4096u}) {
    Trickle in(Header(3) + "abc" + Header(0) + Header(2) + "de", step);
    IncomingFrame first = ReadFrame(in);
    ASSERT_EQ(first.status, FrameStatus::kMessage);
    EXPECT_EQ(first.message, "abc");
    IncomingFrame empty = ReadFrame(in);
    ASSERT_EQ(empty.status, FrameStatus::kMessage);
    EXPECT_EQ(empty.message, "");
    EXPECT_EQ(ReadFrame(in).message, "de");
    EXPECT_EQ(ReadFrame(in).status, FrameStatus::kEnd);
  }
}

TEST(Frames, AnInputEndingInsideAFrameIsCut) {
  Trickle header(Header(5).substr(0, 3), 1);
  EXPECT_EQ(ReadFrame(header).status, FrameStatus::kCut);
  Trickle body(Header(5) + "abcd", 2);
  EXPECT_EQ(ReadFrame(body).status, FrameStatus::kCut);
}

TEST(Frames, ALengthOverTheBoundIsRefusedUnread) {
  Trickle at(Header(8) + "12345678", 8);
  EXPECT_EQ(ReadFrame(at, 8).status, FrameStatus::kMessage);
  Trickle over(Header(9) + "123456789", 8);
  const IncomingFrame refused = ReadFrame(over, 8);
  EXPECT_EQ(refused.status, FrameStatus::kTooLarge);
  EXPECT_EQ(refused.length, 9u);
  Trickle claims(Header(kMaxIncomingFrame + 1), 4);
  EXPECT_EQ(ReadFrame(claims).status, FrameStatus::kTooLarge);
}

TEST(Frames, WritesTheLengthFirstAndNothingOverTheOutgoingBound) {
  Collect out;
  EXPECT_TRUE(WriteFrame(out, "{}"));
  EXPECT_EQ(out.out, Header(2) + "{}");
  const std::string bound(kMaxOutgoingFrame, 'x');
  EXPECT_TRUE(WriteFrame(out, bound));
  const std::size_t before = out.out.size();
  EXPECT_FALSE(WriteFrame(out, bound + "x"));
  EXPECT_EQ(out.out.size(), before);
}

}  // namespace
}  // namespace quillbox::bridge
