// What quillbox browser list prints for the user's file and the administrator's list together.
#include "host/browser_list.h"

#include <gtest/gtest.h>

namespace quillbox::host {
namespace {

TEST(BrowserList, EachEntrySaysItsSourceAndAForbiddenOriginIsMarked) {
  AdminOrigins admin = ParseAdminOrigins(
      "# the office's sites\n"
      "allow https://intranet.example\n"
      "forbid https://bad.example\n"
      "allow https://both.example\n"
      "forbid https://both.example\n");
  ASSERT_TRUE(admin.problems.empty());
  EXPECT_EQ(BrowserListText({{"https://bad.example", "https://mine.example"}, {"https://intranet.example"}}, admin),
            "user   allow   https://bad.example  (but the administrator forbids it)\n"
            "user   allow   https://mine.example\n"
            "user   forbid  https://intranet.example\n"
            "admin  allow   https://intranet.example  (but the user forbids it)\n"
            "admin  forbid  https://bad.example\n"
            "admin  forbid  https://both.example\n")
      << "an origin both allowed and forbidden is listed as forbidden only";
  EXPECT_EQ(BrowserListText({}, admin),
            "admin  allow   https://intranet.example\n"
            "admin  forbid  https://bad.example\n"
            "admin  forbid  https://both.example\n");
  EXPECT_EQ(BrowserListText({}, {}), "no origin is allowed or forbidden\n");
}

}  // namespace
}  // namespace quillbox::host
