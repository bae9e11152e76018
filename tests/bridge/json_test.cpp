// The bridge's JSON reader and writer: strict in what they take, UTF-16 units kept both ways.
#include "common/json_parse.h"
#include "common/json_write.h"

#include <gtest/gtest.h>

namespace quillbox::bridge {
namespace {

TEST(Json, ReadsEveryKindOfValue) {
  const JsonValue value = ParseJson(" {\"a\":[1,-0.5,2e3,true,false,null],\"b\":{\"c\":\"d\"},\"\":\"\"}\r\n\t");
  const JsonArray& items = *value.Member(u"a")->Array();
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(*items[0].Number(), 1);
  EXPECT_EQ(*items[1].Number(), -0.5);
  EXPECT_EQ(*items[2].Number(), 2000);
  EXPECT_TRUE(*items[3].Bool());
  EXPECT_FALSE(*items[4].Bool());
  EXPECT_TRUE(items[5].IsNull());
  EXPECT_EQ(*value.Member(u"b")->Member(u"c")->String(), u"d");
  EXPECT_EQ(*value.Member(u"")->String(), u"");
  EXPECT_EQ(value.Member(u"z"), nullptr);
}

TEST(Json, KeepsUnitsTheBrowserSends) {
  // Escaped NUL and unpaired surrogates, an escaped pair, and raw UTF-8 of two, three and four bytes.
  const JsonValue value = ParseJson("\"\\u0000\\ud800x\\udc00\\uD83D\\uDE00\xc5\xbe\xe2\x82\xac\xf0\x9f\x98\x80\\\"\\\\\\/\\b\\f\\n\\r\\t\"");
  EXPECT_EQ(*value.String(), std::u16string(u"\0\xD800x\xDC00\xD83D\xDE00\x017E\x20AC\xD83D\xDE00\"\\/\b\f\n\r\t", 18));
}

TEST(Json, RefusesWhatIsNotStrictJson) {
  for (const std::string& text : std::vector<std::string>
       {"", " ", "{", "}", "[1,]", "{\"a\":1,}", "{'a':1}", "{a:1}", "01", "1.", ".5", "+1", "-", "1e", "1e+", "0x10",
        "NaN", "Infinity", "1e999", "tru", "nul", "\"a", "\"\\x\"", "\"\\u12\"", "\"\\u12g4\"", "\"a\nb\"", "\"\t\"",
        "\"\xff\"", "\"\xc0\xaf\"", "\"\xe0\x80\xaf\"", "\"\xed\xa0\x80\"", "\"\xf4\x90\x80\x80\"", "\"\xc5\"",
        "\"\xe2\x82\"", "1 2", "{} {}", "{\"a\":1,\"a\":2}", "[1 2]", "{\"a\" 1}", "/*c*/1", "\xef\xbb\xbf{}",
        std::string("[\0]", 3)}) {
    EXPECT_THROW(ParseJson(text), JsonError) << ::testing::PrintToString(text);
  }
}

TEST(Json, BoundsNesting) {
  EXPECT_NO_THROW(ParseJson(std::string(32, '[') + std::string(32, ']')));
  EXPECT_THROW(ParseJson(std::string(33, '[') + std::string(33, ']')), JsonError);
  std::string objects;
  for (int i = 0; i < 33; ++i) objects += "{\"a\":";
  objects += "1" + std::string(33, '}');
  EXPECT_THROW(ParseJson(objects), JsonError);
  // Deep enough to overflow a stack without the bound.
  EXPECT_THROW(ParseJson(std::string(1000000, '[')), JsonError);
}

TEST(Json, BoundsTheNumberOfValuesAndFindsARepeatedNameFarAway) {
  std::string many = "[0";
  for (int i = 1; i < 99999; ++i) many += ",0";
  EXPECT_EQ(ParseJson(many + "]").Array()->size(), 99999u) << "the array itself is a value too";
  EXPECT_THROW(ParseJson(many + ",0]"), JsonError);
  std::string object = "{\"a\":0";
  for (int i = 0; i < 5000; ++i) object += ",\"n" + std::to_string(i) + "\":0";
  EXPECT_NO_THROW(ParseJson(object + "}"));
  EXPECT_THROW(ParseJson(object + ",\"a\":1}"), JsonError);
}

TEST(Json, WritesAsciiOnlyAndReadsBackTheSameUnits) {
  const std::u16string units(u"\0\x001F\x007F\x0080\xD800\xDFFF\xFFFF\"\\/a", 11);
  const std::string written = WriteJson(JsonValue(JsonObject{{u"k\x017E", JsonValue(units)}}));
  EXPECT_EQ(written, "{\"k\\u017e\":\"\\u0000\\u001f\\u007f\\u0080\\ud800\\udfff\\uffff\\\"\\\\/a\"}");
  EXPECT_EQ(*ParseJson(written).Member(u"k\x017E")->String(), units);
}

TEST(Json, WritesNumbersAsJavaScriptReadsThem) {
  EXPECT_EQ(WriteJson(JsonValue(JsonArray{JsonValue(0), JsonValue(-32768), JsonValue(4294967295u), JsonValue(0.25),
                                          JsonValue(true), JsonValue()})),
            "[0,-32768,4294967295,0.25,true,null]");
}

}  // namespace
}  // namespace quillbox::bridge
