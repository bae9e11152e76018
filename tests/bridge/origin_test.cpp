// Which page origins the host serves: the browser's serialised form only, https anywhere, http on
// loopback hosts.
#include "common/origin.h"

#include <gtest/gtest.h>

namespace quillbox::bridge {
namespace {

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

TEST(Origin, AcceptsTheFormsBrowsersSend) {
  for (const std::string& origin : std::vector<std::string>
       {"https://example.org", "https://a.b-c.example:8443", "https://my_host.example", "https://192.0.2.1",
        "https://192.0.2.1:1", "https://[2001:db8::1]", "https://[2001:db8:0:0:1:0:0:1]:65535", "https://[::]",
        "https://xn--bcher-kva.example", "http://localhost", "http://localhost:3000", "http://127.0.0.1:8080",
        "http://127.255.255.255", "http://[::1]", "http://[::1]:9", "https://localhost"}) {
    EXPECT_EQ(OriginProblem(Wide(origin)), std::nullopt) << origin;
  }
  const std::string longest = "https://" + std::string(63, 'a') + "." + std::string(63, 'b') + "." +
                              std::string(63, 'c') + "." + std::string(55, 'd');
  ASSERT_EQ(longest.size(), 255u);
  EXPECT_EQ(OriginProblem(Wide(longest)), std::nullopt);
  EXPECT_NE(OriginProblem(Wide(longest + "d")), std::nullopt);
}

TEST(Origin, RefusesEveryOtherForm) {
  for (const std::string& origin : std::vector<std::string>
       {"", "null", "example.org", "//example.org", "https:example.org", "https:/example.org", "https://",
        "https://example.org/", "https://example.org/a", "https://example.org?", "https://example.org#",
        "https://u@example.org", "https://u:p@example.org", "https://example.org\\", "Https://example.org",
        "https://EXAMPLE.org", "https://example.org:443", "http://localhost:80", "https://example.org:0",
        "https://example.org:00", "https://example.org:08443", "https://example.org:65536", "https://example.org:",
        "https://example.org:x", "https://example.org::1", "file://", "ws://localhost", "chrome-extension://abc",
        "moz-extension://abc", "https://exa mple.org", "https://ex..org", "https://.example.org",
        "https://example.org.", "https://-a.example", "https://a-.example", "https://a%41.example",
        "https://" + std::string(64, 'a') + ".example", "https://127.1", "https://2130706433", "https://1.2.3.256",
        "https://01.2.3.4", "https://[::1", "https://::1", "https://[::1]]", "https://[1:2:3:4:5:6:7:8:9]",
        "https://[1:2:3:4:5:6:7]", "https://[1::2::3]", "https://[:::1]", "https://[::g]", "https://[::FFFF]",
        "https://[::ffff:127.0.0.1]", "https://[12345::]", "http://example.org", "http://localhost.example",
        "http://localhost.", "http://127.0.0.1.example", "http://128.0.0.1", "http://0.0.0.0", "http://[::2]",
        "http://[0:0:0:0:0:0:0:1]", "http://0177.0.0.1", "http://localhost\t", " https://example.org"}) {
    EXPECT_NE(OriginProblem(Wide(origin)), std::nullopt) << origin;
  }
  EXPECT_NE(OriginProblem(u"https://\x00E9.example"), std::nullopt);
  EXPECT_NE(OriginProblem(std::u16string(u"https://a\0.example", 18)), std::nullopt);
  EXPECT_NE(OriginProblem(u"https://\xD800.example"), std::nullopt);
}

}  // namespace
}  // namespace quillbox::bridge
