#include "host/cli.h"

#include <gtest/gtest.h>

namespace quillbox::host {
namespace {

const OptionSpec kSpec{.withValue = {"-o", "--xsl"}, .flags = {"--advanced"}};

TEST(HostCli, ValuesFlagsAndPositionals) {
  const ParsedOptions parsed = ParseOptions({"in.xml", "--xsl=s.xsl", "-o", "out.xml", "--advanced"}, kSpec);
  EXPECT_EQ(parsed.Value("--xsl"), "s.xsl");
  EXPECT_EQ(parsed.Value("-o"), "out.xml");
  EXPECT_TRUE(parsed.Has("--advanced"));
  EXPECT_FALSE(parsed.Has("--help"));
  EXPECT_EQ(parsed.Positionals(), std::vector<std::string>{"in.xml"});
}

TEST(HostCli, DashIsAPositionalAndDoubleDashEndsOptions) {
  const ParsedOptions parsed = ParseOptions({"-", "--", "--advanced"}, kSpec);
  EXPECT_EQ(parsed.Positionals(), (std::vector<std::string>{"-", "--advanced"}));
  EXPECT_FALSE(parsed.Has("--advanced"));
}

TEST(HostCli, WrongUsageIsAUsageError) {
  EXPECT_THROW(ParseOptions({"--bogus"}, kSpec), UsageError);
  EXPECT_THROW(ParseOptions({"-o"}, kSpec), UsageError);
  EXPECT_THROW(ParseOptions({"-o", "a", "-o", "b"}, kSpec), UsageError);
  EXPECT_THROW(ParseOptions({"--advanced=yes"}, kSpec), UsageError);
}

TEST(HostCli, ScriptArgumentsAreLeftAlone) {
  const ParsedOptions parsed = ParseOptions({"script.js", "--store", "-o"}, OptionSpec{.stopAtPositional = true});
  EXPECT_EQ(parsed.Positionals(), (std::vector<std::string>{"script.js", "--store", "-o"}));
}

}  // namespace
}  // namespace quillbox::host
