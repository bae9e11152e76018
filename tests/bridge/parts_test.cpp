// Messages cut into parts and joined again, within the frame bound, whatever characters fall at
// the cuts.
#include "common/json_parse.h"
#include "common/json_write.h"
#include "bridge/parts.h"

#include <gtest/gtest.h>

namespace quillbox::bridge {
namespace {

JsonValue AnswerWith(const std::u16string& text) {
  return JsonValue(JsonObject{{u"id", JsonValue(5)}, {u"ok", JsonValue(true)}, {u"value", JsonValue(text)}});
}

// Joins frames as the extension does.
JsonValue Join(const std::vector<std::string>& frames, std::size_t bound) {
  std::string whole;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_LE(frames[i].size(), bound);
    const JsonValue part = ParseJson(frames[i]);
    EXPECT_EQ(*part.Member(u"id")->Number(), 5);
    EXPECT_EQ(*part.Member(u"more")->Bool(), i + 1 < frames.size());
    for (const char16_t unit : *part.Member(u"part")->String()) whole += static_cast<char>(unit);
  }
  return ParseJson(whole);
}

TEST(Parts, AnAnswerWithinTheBoundIsSentWhole) {
  const JsonValue answer = AnswerWith(std::u16string(100, u'a'));
  const std::string whole = WriteJson(answer);
  EXPECT_EQ(AnswerFrames(answer, whole.size()), std::vector<std::string>{whole});
  EXPECT_EQ(AnswerFrames(answer, whole.size() - 1).size(), 2u);
  EXPECT_THROW(AnswerFrames(answer, 32), std::length_error);
}

TEST(Parts, CutsAnywhereAndJoinsToTheSameUnits) {
  // Every bound from tight to loose, over text whose escapes grow one unit to two or six bytes.
  const std::u16string text = u"\"\\\"\\\xD800\x00E9" + std::u16string(40, u'q') + u"\"\"\"\\\\\\\x0001";
  const std::size_t whole = WriteJson(AnswerWith(text)).size();
  for (std::size_t bound = 40; bound < whole; ++bound) {
    const std::vector<std::string> frames = AnswerFrames(AnswerWith(text), bound);
    ASSERT_GT(frames.size(), 1u);
    EXPECT_EQ(*Join(frames, bound).Member(u"value")->String(), text) << bound;
  }
}

TEST(Parts, JoinsARequestSentInPieces) {
  PartAssembler parts(100);
  std::string whole;
  std::string problem;
  const auto part = [](const char16_t* piece, bool more) {
    return JsonValue(JsonObject{{u"id", JsonValue(3)}, {u"part", JsonValue(piece)}, {u"more", JsonValue(more)}});
  };
  EXPECT_TRUE(PartAssembler::IsPart(part(u"", true)));
  EXPECT_EQ(parts.Add(part(u"{\"id\":3,", true), whole, problem), PartAssembler::Outcome::kMore);
  EXPECT_FALSE(parts.Idle());
  EXPECT_EQ(parts.Add(part(u"\"op\":\"create\"}", false), whole, problem), PartAssembler::Outcome::kWhole);
  EXPECT_EQ(whole, "{\"id\":3,\"op\":\"create\"}");
  EXPECT_TRUE(parts.Idle());

  EXPECT_EQ(parts.Add(part(u"\x00E9", false), whole, problem), PartAssembler::Outcome::kBad);
  EXPECT_EQ(parts.Add(JsonValue(JsonObject{{u"id", JsonValue(u"3")}, {u"part", JsonValue(u"")}, {u"more", JsonValue(false)}}),
                      whole, problem),
            PartAssembler::Outcome::kBad);
  const std::u16string sixty(60, u' ');
  EXPECT_EQ(parts.Add(part(sixty.c_str(), true), whole, problem), PartAssembler::Outcome::kMore);
  EXPECT_EQ(parts.Add(part(sixty.c_str(), true), whole, problem), PartAssembler::Outcome::kTooLarge);
  EXPECT_TRUE(parts.Idle()) << "what was gathered is dropped";
}

}  // namespace
}  // namespace quillbox::bridge
