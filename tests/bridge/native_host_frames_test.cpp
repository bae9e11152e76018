// The real host's framing: answers cut into parts at the browser's 1 MiB bound, requests sent in
// parts, frames over the 64 MiB bound, frames cut short and frames that are not JSON.
#include "bridge/conversation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace quillbox::bridge::test {
namespace {

using host::test::World;

constexpr std::size_t kAnswerBound = 1u << 20;

class NativeHostFrames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { world_ = std::make_unique<World>(); }
  static void TearDownTestSuite() { world_.reset(); }
  static const World& world() { return *world_; }
  static inline std::unique_ptr<World> world_;
};

std::string PutDoc(int id, const std::string& quoted) {
  return "{\"id\":" + std::to_string(id) + ",\"op\":\"put\",\"object\":1,\"name\":\"XmlDoc\",\"value\":" + quoted + "}";
}
std::string GetDoc(int id) { return Request(id, "get", "\"object\":1,\"name\":\"XmlDoc\""); }

// The request `json` sent as parts of at most `piece` characters each.
void SendInParts(Conversation& talk, int id, const std::string& json, std::size_t piece) {
  for (std::size_t at = 0; at < json.size(); at += piece) {
    const std::string cut = json.substr(at, piece);
    talk.Send("{\"id\":" + std::to_string(id) + ",\"part\":" + Quoted(std::u16string(cut.begin(), cut.end())) +
              ",\"more\":" + (at + piece < json.size() ? "true" : "false") + "}");
  }
}

void ExpectFramesWithinBound(const Answered& answered) {
  for (const std::string& frame : answered.frames) ASSERT_LE(frame.size(), kAnswerBound);
}

TEST_F(NativeHostFrames, ATenMegabyteDocumentTravelsInPartsBothWays) {
  // Quotes and backslashes grow when escaped, non-ASCII and unpaired surrogates six-fold, so the
  // cuts fall at every kind of character.
  std::u16string document;
  const std::u16string pattern =
      u"<i a=\"\\\">\x017E\xD83D\xDE00\xDC01 " + std::u16string(48, u'x') + u"</i>";
  while (document.size() < 10u * 1024 * 1024) document += pattern;
  const std::string quoted = Quoted(document);
  Conversation talk;
  talk.Send(Request(1, "create")).Send(PutDoc(2, quoted)).Send(GetDoc(3));
  SendInParts(talk, 4, PutDoc(4, Quoted(document + u"!")), 1000003);
  talk.Send(GetDoc(5)).Send(Request(6, "get", "\"object\":1,\"name\":\"Handle\""));
  const Answered answered = talk.Run(world());
  ASSERT_EQ(answered.status, 0) << answered.err;
  ExpectFramesWithinBound(answered);
  EXPECT_GT(answered.frames.size(), 40u);
  EXPECT_EQ(Text(*answered.Answer(2).Member(u"value")), document);
  EXPECT_EQ(Text(*answered.Answer(3).Member(u"value")), document);
  EXPECT_EQ(Text(*answered.Answer(4).Member(u"value")), document + u"!");
  EXPECT_EQ(Text(*answered.Answer(5).Member(u"value")), document + u"!");
  EXPECT_EQ(Number(*answered.Answer(6).Member(u"value")), 0);
}

TEST_F(NativeHostFrames, AnAnswerOfExactlyTheBoundIsOneFrameAndOneByteMoreIsParts) {
  // {"id":7,"ok":true,"value":"aaa..."}
  const std::size_t overhead = std::strlen("{\"id\":7,\"ok\":true,\"value\":\"\"}");
  const std::string fits(kAnswerBound - overhead, 'a');
  Conversation exact;
  exact.Send(Request(1, "create")).Send(PutDoc(2, "\"" + fits + "\"")).Send(GetDoc(7));
  const Answered one = exact.Run(world());
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(one.frames.size(), 4u);  // hello, create, put, get
  EXPECT_EQ(one.frames[3].size(), kAnswerBound);
  EXPECT_EQ(one.frames[2].size(), kAnswerBound) << "the put's answer has the same length";

  Conversation over;
  over.Send(Request(1, "create")).Send(PutDoc(2, "\"" + fits + "a\"")).Send(GetDoc(7));
  const Answered parts = over.Run(world());
  ASSERT_EQ(parts.status, 0) << parts.err;
  ExpectFramesWithinBound(parts);
  ASSERT_EQ(parts.frames.size(), 6u);  // hello, create, two parts each for put and get
  EXPECT_NE(parts.frames[4].find("\"more\":true"), std::string::npos);
  EXPECT_NE(parts.frames[5].find("\"more\":false"), std::string::npos);
  EXPECT_EQ(Text(*parts.Answer(7).Member(u"value")).size(), fits.size() + 1);
}

std::string Header(std::uint32_t length) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &length, 4);
  return bytes;
}

TEST_F(NativeHostFrames, AFrameOfTheIncomingBoundIsReadAndOneByteMoreEndsTheHost) {
  std::string padded = Request(1, "create");
  padded += std::string((64u << 20) - padded.size(), ' ');
  const Answered exact = Conversation().Send(padded).Send(Request(2, "create")).Run(world());
  EXPECT_EQ(exact.status, 0) << exact.err;
  EXPECT_EQ(*exact.Answer(1).Member(u"ok")->Bool(), true);
  EXPECT_EQ(*exact.Answer(2).Member(u"ok")->Bool(), true);

  const Answered over = Conversation().SendRaw(Header((64u << 20) + 1)).SendRaw("{}").Run(world());
  EXPECT_EQ(over.status, 1);
  ASSERT_EQ(over.answers.size(), 2u);
  EXPECT_EQ(ErrorCode(over.answers[1]), "QB_TOO_LARGE");
  const Answered huge = Conversation().SendRaw(Header(0xFFFFFFFFu)).Run(world());
  EXPECT_EQ(huge.status, 1);
  EXPECT_EQ(ErrorCode(huge.answers.back()), "QB_TOO_LARGE");
}

TEST_F(NativeHostFrames, RequestPartsTogetherAreBoundedAndMustNotInterleave) {
  Conversation talk;
  talk.Send(Request(1, "create"));
  talk.Send("{\"id\":2,\"part\":\"{\\\"id\\\":2,\",\"more\":true}");
  talk.Send("{\"id\":3,\"part\":\"x\",\"more\":false}");  // another id before the first is done
  talk.Send("{\"id\":4,\"part\":\"{\\\"id\\\":5,\\\"op\\\":\\\"create\\\"}\",\"more\":false}");  // ids differ
  talk.Send("{\"id\":6,\"part\":\"\\u017e\",\"more\":false}");                            // not ASCII
  talk.Send("{\"id\":7,\"part\":\"{\",\"more\":true,\"x\":1}");                         // stray member
  talk.Send(Request(8, "create"));
  const Answered answered = talk.Run(world());
  EXPECT_EQ(answered.status, 0);
  EXPECT_EQ(ErrorCode(answered.Answer(3)), "QB_BAD_REQUEST");
  EXPECT_EQ(ErrorCode(answered.Answer(4)), "QB_BAD_REQUEST");
  EXPECT_EQ(ErrorCode(answered.Answer(6)), "QB_BAD_REQUEST");
  EXPECT_EQ(ErrorCode(answered.Answer(7)), "QB_BAD_REQUEST");
  EXPECT_EQ(Number(*answered.Answer(8).Member(u"object")), 2);

  // Parts beyond 64 MiB together end the host.
  Conversation big;
  const std::string piece(33u << 20, ' ');
  for (int i = 0; i < 2; ++i) big.Send("{\"id\":9,\"part\":\"" + piece + "\",\"more\":true}");
  const Answered ended = big.Run(world());
  EXPECT_EQ(ended.status, 1);
  EXPECT_EQ(ErrorCode(ended.Answer(9)), "QB_TOO_LARGE");
}

TEST_F(NativeHostFrames, AFrameCutShortEndsTheHostCleanly) {
  const std::string create = Conversation::Frame(Request(1, "create"));
  for (const std::string& cut : std::vector<std::string>{create.substr(0, 2), create.substr(0, 4), create.substr(0, create.size() - 1)}) {
    const Answered answered = Conversation().SendRaw(cut).Run(world());
    EXPECT_EQ(answered.status, 0);
    EXPECT_EQ(answered.answers.size(), 1u) << "only the hello is answered";
    EXPECT_FALSE(answered.cutShort);
  }
  const Answered silent = Conversation("").Run(world());
  EXPECT_EQ(silent.status, 0);
  EXPECT_TRUE(silent.frames.empty());
}

TEST_F(NativeHostFrames, WhatIsNotARequestIsAnsweredAndTheHostGoesOn) {
  Conversation talk;
  for (const std::string& junk : std::vector<std::string>{"", "garbage", "{\"id\":1,}", "[1,2]", "{\"id\":1,\"id\":2,\"op\":\"create\"}",
                                 "{\"id\":\"1\",\"op\":\"create\"}", "{\"id\":1.5,\"op\":\"create\"}", "{\"op\":\"create\"}",
                                 "{\"id\":1,\"op\":\"create\"} x", "{\"id\":1,\"op\":\"create\",\"more\":1}",
                                 "\"\xff\"", std::string(40, '[') + std::string(40, ']'), "{\"id\":1,\"op\":\"fly\"}",
                                 "{\"id\":2,\"op\":5}"}) {
    talk.Send(junk);
  }
  talk.Send(Request(3, "create"));
  const Answered answered = talk.Run(world());
  EXPECT_EQ(answered.status, 0);
  ASSERT_EQ(answered.answers.size(), 16u);
  for (std::size_t i = 1; i < 15; ++i) {
    const std::string code = ErrorCode(answered.answers[i]);
    EXPECT_TRUE(code == "QB_BAD_JSON" || code == "QB_BAD_REQUEST") << i << ": " << answered.frames[i];
  }
  EXPECT_EQ(ErrorCode(answered.answers[1]), "QB_BAD_JSON");
  EXPECT_EQ(ErrorCode(answered.answers[4]), "QB_BAD_REQUEST") << "an array is JSON, but no request";
  EXPECT_EQ(ErrorCode(answered.answers[5]), "QB_BAD_JSON") << "a repeated member is refused";
  EXPECT_EQ(Number(*answered.Answer(3).Member(u"object")), 1);
}

}  // namespace
}  // namespace quillbox::bridge::test
