// The installer's texts on their own: the policies.json edits that must keep an administrator's
// file as it was, the file URL of the Firefox extension, the manifest's version.
#include "host/browser_manifests.h"
#include "host/cli.h"

#include <gtest/gtest.h>

namespace quillbox::host {
namespace {

const std::string kUrl = "file:///opt/quillbox/browser/quillbox.xpi";

TEST(FirefoxPolicy, AnEmptyOrMissingFileGetsJustTheEntry) {
  const std::string expected =
      "{\n"
      "  \"policies\": {\n"
      "    \"ExtensionSettings\": {\n"
      "      \"bridge@quillbox.org\": {\n"
      "        \"installation_mode\": \"force_installed\",\n"
      "        \"install_url\": \"file:///opt/quillbox/browser/quillbox.xpi\"\n"
      "      }\n"
      "    }\n"
      "  }\n"
      "}\n";
  EXPECT_EQ(WithFirefoxPolicy("", kUrl), expected);
  EXPECT_EQ(WithFirefoxPolicy(" \n\t", kUrl), expected);
  EXPECT_EQ(WithoutFirefoxPolicy(expected), std::nullopt);
}

TEST(FirefoxPolicy, OurEntryIsReplacedInPlaceAndOthersKeepTheirOrder) {
  const std::string existing =
      "{\"policies\":{\"ExtensionSettings\":{\"a@x\":{},\"bridge@quillbox.org\":{\"installation_mode\":\"blocked\"},"
      "\"b@x\":{}},\"Zeta\":[1,2.5,-3e-7,null,false,\"\\u0000\"]}}";
  const std::string installed = WithFirefoxPolicy(existing, kUrl);
  EXPECT_LT(installed.find("\"a@x\""), installed.find("bridge@quillbox.org"));
  EXPECT_LT(installed.find("bridge@quillbox.org"), installed.find("\"b@x\""));
  EXPECT_EQ(installed.find("blocked"), std::string::npos);
  EXPECT_NE(installed.find("-3e-07"), std::string::npos) << installed;
  EXPECT_NE(installed.find("\"\\u0000\""), std::string::npos);
  // Installing is idempotent.
  EXPECT_EQ(WithFirefoxPolicy(installed, kUrl), installed);
  const auto removed = WithoutFirefoxPolicy(installed);
  ASSERT_TRUE(removed.has_value());
  EXPECT_EQ(removed->find("bridge@quillbox.org"), std::string::npos);
  EXPECT_NE(removed->find("\"a@x\": {}"), std::string::npos) << *removed;
  EXPECT_NE(removed->find("\"Zeta\""), std::string::npos);
}

TEST(FirefoxPolicy, AFileWithoutOurEntryIsNotRewritten) {
  const std::string administrators = "{ \"policies\" : { \"DisableTelemetry\" : true } }";
  EXPECT_EQ(WithoutFirefoxPolicy(administrators), administrators);
  EXPECT_EQ(WithoutFirefoxPolicy("{}"), "{}");
}

TEST(FirefoxPolicy, WhatIsNoPoliciesFileIsRefused) {
  for (const std::string text : {"[]", "{\"policies\": 1}", "{\"policies\": {\"ExtensionSettings\": []}}",
                                 "{\"policies\": {}} trailing", "{\"a\": 1, \"a\": 2}", "{/* comment */}"}) {
    EXPECT_THROW(WithFirefoxPolicy(text, kUrl), CommandError) << text;
    EXPECT_THROW(WithoutFirefoxPolicy(text), CommandError) << text;
  }
}

TEST(FileUrl, EncodesAllButUnreservedCharactersAndSlashes) {
  EXPECT_EQ(FileUrl("/opt/quillbox/browser/quillbox.xpi"), "file:///opt/quillbox/browser/quillbox.xpi");
  EXPECT_EQ(FileUrl("/home/ana nov\xc3\xa1k/a#b?c%d~e_f-g"),
            "file:///home/ana%20nov%C3%A1k/a%23b%3Fc%25d~e_f-g");
}

TEST(ExtensionVersion, ComesFromTheManifest) {
  EXPECT_EQ(ExtensionVersion("{\"manifest_version\": 3, \"version\": \"1.0.1.0\"}"), "1.0.1.0");
  EXPECT_THROW(ExtensionVersion("{\"manifest_version\": 3}"), CommandError);
  EXPECT_THROW(ExtensionVersion("{\"version\": 1}"), CommandError);
  EXPECT_THROW(ExtensionVersion("{\"version\": \"\"}"), CommandError);
  EXPECT_THROW(ExtensionVersion("not json"), CommandError);
}

}  // namespace
}  // namespace quillbox::host
