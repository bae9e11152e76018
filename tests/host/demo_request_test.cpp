// The demo server's reading of requests and its choice of files, without a socket.
#include "host/demo_files.h"
#include "host/http_request.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace quillbox::host {
namespace {

TEST(DemoRequest, TheHeadGivesMethodDecodedPathHostAndLength) {
  const auto request =
      ParseRequestHead("POST /a%20b/%C5%BE.html?x=%2f#f HTTP/1.1\r\nhOsT:  127.0.0.1:8765 \r\nContent-Length: 42\r\n");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->method, "POST");
  EXPECT_EQ(request->path, "/a b/\xC5\xBE.html") << "the query goes, with whatever it escapes";
  EXPECT_EQ(request->host, "127.0.0.1:8765");
  EXPECT_EQ(request->contentLength, 42u);
  EXPECT_FALSE(request->chunked);
  EXPECT_TRUE(ParseRequestHead("GET / HTTP/1.0")) << "a head of one line";
  EXPECT_TRUE(ParseRequestHead("GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n")->chunked);
}

TEST(DemoRequest, WhatIsNoRequestOrHidesASegmentIsRefused) {
  for (const char* head : {"", "GET", "GET /", "GET / FTP/1.0", "GET http://x/ HTTP/1.1", "GET * HTTP/1.1",
                           "GET x HTTP/1.1", "GET /%2e%2e%2fetc HTTP/1.1", "GET /a%5cb HTTP/1.1", "GET /a%00 HTTP/1.1",
                           "GET /%g0 HTTP/1.1", "GET /% HTTP/1.1", "GET /%4 HTTP/1.1", "GET / HTTP/1.1\r\nno colon\r\n",
                           "GET / HTTP/1.1\r\nContent-Length: -1\r\n", "GET / HTTP/1.1\r\nContent-Length: 1x\r\n",
                           "GET / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n",
                           "GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n"}) {
    EXPECT_FALSE(ParseRequestHead(head)) << head;
  }
  EXPECT_EQ(PercentDecodedPath("/%2e%2E/x"), "/../x") << "decoded, and refused later as a segment";
}

class DemoFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "site/sub");
    std::ofstream(dir_ / "site/index.html") << "<p>kazalo</p>";
    std::ofstream(dir_ / "site/sub/index.html") << "<p>pod</p>";
    std::ofstream(dir_ / "site/page.css") << "p{}";
    std::ofstream(dir_ / "secret.txt") << "secret";
    std::filesystem::create_symlink(dir_ / "secret.txt", dir_ / "site/out.txt");
    std::filesystem::create_symlink(dir_ / "site/page.css", dir_ / "site/in.css");
    std::filesystem::create_symlink("..", dir_ / "site/up");
    char* real = realpath((dir_ / "site").c_str(), nullptr);
    root_ = real;
    std::free(real);
  }
  quillbox::test::TempDir dir_{"quillbox-demo-files"};
  std::string root_;
};

TEST_F(DemoFiles, AFileInsideIsFoundAndAFolderGivesItsIndex) {
  EXPECT_EQ(ResolveFile(root_, "/").path, root_ + "/index.html");
  EXPECT_EQ(ResolveFile(root_, "/page.css").path, root_ + "/page.css");
  EXPECT_EQ(ResolveFile(root_, "/sub/").path, root_ + "/sub/index.html");
  EXPECT_EQ(ResolveFile(root_, "/in.css").lookup, FileLookup::kFound) << "a link that stays inside is served";
  EXPECT_EQ(ResolveFile(root_, "/up/site/page.css").path, root_ + "/page.css") << "as does one that comes back in";
  EXPECT_EQ(ResolveFile(root_, "/sub").lookup, FileLookup::kMissing) << "a folder is no file";
  EXPECT_EQ(ResolveFile(root_, "/none.html").lookup, FileLookup::kMissing);
}

TEST_F(DemoFiles, NothingOutsideIsServedByAnyRoute) {
  for (const char* path : {"/../secret.txt", "/sub/../../secret.txt", "/./index.html", "/..", "/sub/..", "/out.txt",
                           "/up/secret.txt", "/a\\..\\secret.txt", "", "secret.txt"}) {
    EXPECT_EQ(ResolveFile(root_, path).lookup, FileLookup::kRefused) << path;
  }
  EXPECT_EQ(ResolveFile(root_, std::string_view("/index.html\0.css", 16)).lookup, FileLookup::kRefused);
  // A folder whose name begins as the root's does is not inside it.
  std::filesystem::create_directories(dir_ / "site-other");
  std::ofstream(dir_ / "site-other/x.html") << "x";
  std::filesystem::create_symlink(dir_ / "site-other/x.html", dir_ / "site/sibling.html");
  EXPECT_EQ(ResolveFile(root_, "/sibling.html").lookup, FileLookup::kRefused);
}

TEST(DemoContentType, TextIsUtf8AndTheRestIsBytes) {
  EXPECT_EQ(ContentTypeOf("/x/index.html"), "text/html; charset=utf-8");
  EXPECT_EQ(ContentTypeOf("a.js"), "text/javascript; charset=utf-8");
  EXPECT_EQ(ContentTypeOf("a.css"), "text/css; charset=utf-8");
  EXPECT_EQ(ContentTypeOf("form.xsl"), "application/xml; charset=utf-8");
  EXPECT_EQ(ContentTypeOf("README"), "application/octet-stream");
  EXPECT_EQ(ContentTypeOf("a.html.bak"), "application/octet-stream");
}

}  // namespace
}  // namespace quillbox::host
