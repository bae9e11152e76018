// quillbox browser demo through the real binary: what it serves, what it refuses, its /verify,
// and its end on Ctrl-C.
#include "host/command_runner.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillbox::host::test {
namespace {

const std::string kSubject = "CN=Demo Test Signer, O=Quillbox Tests, C=SI";

// `quillbox browser demo --port 0 --no-open` running in the background of a world.
class DemoProcess {
 public:
  explicit DemoProcess(const World& world, const std::vector<std::string>& options = {"--no-open"}) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    output_ = pipeEnds[0];
    std::vector<std::string> argv = {std::string(QUILLBOX_BIN_DIR) + "/quillbox", "browser", "demo", "--port", "0"};
    argv.insert(argv.end(), options.begin(), options.end());
    std::vector<std::string> env = world.Environment();
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string errors = world.Path(".demo-stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int spawned = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) throw std::runtime_error("cannot start quillbox");
    // The first line names the address; it is printed once the socket listens.
    firstLine_ = ReadLine();
    const std::string marker = "http://127.0.0.1:";
    const auto at = firstLine_.find(marker);
    if (at != std::string::npos) port_ = std::stoi(firstLine_.substr(at + marker.size()));
  }
  ~DemoProcess() {
    if (pid_ > 0) Stop();
    close(output_);
  }
  DemoProcess(const DemoProcess&) = delete;
  DemoProcess& operator=(const DemoProcess&) = delete;

  int port() const { return port_; }
  const std::string& firstLine() const { return firstLine_; }

  // Ctrl-C: returns the exit status (128 + the signal when it was killed) and what it printed.
  std::pair<int, std::string> Stop() {
    kill(pid_, SIGINT);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0) {
    }
    pid_ = -1;
    std::string rest;
    char buffer[4096];
    for (ssize_t got; (got = read(output_, buffer, sizeof buffer)) > 0;)
      rest.append(buffer, static_cast<std::size_t>(got));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), rest};
  }

 private:
  std::string ReadLine() {
    std::string line;
    char c = 0;
    while (read(output_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  pid_t pid_ = -1;
  int output_ = -1;
  int port_ = 0;
  std::string firstLine_;
};

struct HttpAnswer {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string Header(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? "(none)" : it->second;
  }
};

// Sends `request` as it stands and reads the answer to the end (the server closes).
HttpAnswer Exchange(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  HttpAnswer answer;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return answer;
  }
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // a refusal may close before the whole body is read
    sent += static_cast<std::size_t>(n);
  }
  std::string raw;
  char buffer[16384];
  for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) raw.append(buffer, static_cast<std::size_t>(got));
  close(fd);
  const auto headEnd = raw.find("\r\n\r\n");
  if (headEnd == std::string::npos || !raw.starts_with("HTTP/1.1 ")) return answer;
  answer.status = std::stoi(raw.substr(9, 3));
  std::istringstream head(raw.substr(0, headEnd));
  std::string line;
  std::getline(head, line);
  while (std::getline(head, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    answer.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
  }
  answer.body = raw.substr(headEnd + 4);
  return answer;
}

std::string Host(int port) { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }

HttpAnswer Get(int port, const std::string& target, const std::string& method = "GET") {
  return Exchange(port, method + " " + target + " HTTP/1.1\r\n" + Host(port) + "\r\n");
}

HttpAnswer Post(int port, const std::string& target, const std::string& body) {
  return Exchange(port, "POST " + target + " HTTP/1.1\r\n" + Host(port) +
                            "Content-Type: application/xml\r\nContent-Length: " + std::to_string(body.size()) +
                            "\r\n\r\n" + body);
}

std::string Source(const std::string& name) {
  return quillbox::test::ReadFile(std::string(QUILLBOX_SOURCE_DIR) + "/examples/browser/" + name);
}

class QuillboxBrowserDemo : public SignerWorldSuite<QuillboxBrowserDemo> {
 public:
  static inline const std::string kSubject = test::kSubject;
};

TEST_F(QuillboxBrowserDemo, PrintsItsLoopbackAddressAndEndsWithStatusZeroOnCtrlC) {
  DemoProcess demo(world());
  ASSERT_GT(demo.port(), 0) << demo.firstLine() << world().Read(".demo-stderr");
  EXPECT_NE(demo.firstLine().find("on http://127.0.0.1:" + std::to_string(demo.port()) + "/"), std::string::npos)
      << demo.firstLine();
  EXPECT_EQ(Get(demo.port(), "/").status, 200);
  const auto [status, printed] = demo.Stop();
  EXPECT_EQ(status, 0) << world().Read(".demo-stderr");
  EXPECT_NE(printed.find("quillbox browser allow http://127.0.0.1:" + std::to_string(demo.port())), std::string::npos)
      << printed;
  EXPECT_EQ(Get(demo.port(), "/").status, 0) << "nothing listens any more";
}

TEST_F(QuillboxBrowserDemo, ServesThePageAndItsFilesAsUtf8WithTheirTypes) {
  DemoProcess demo(world());
  ASSERT_GT(demo.port(), 0) << world().Read(".demo-stderr");
  const HttpAnswer page = Get(demo.port(), "/");
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.Header("content-type"), "text/html; charset=utf-8");
  EXPECT_EQ(page.body, Source("index.html"));
  EXPECT_NE(page.body.find("Vloga za dodelitev štipendije"), std::string::npos) << "non-ASCII text intact";
  EXPECT_EQ(page.Header("content-length"), std::to_string(page.body.size()));
  EXPECT_EQ(page.Header("x-content-type-options"), "nosniff");
  EXPECT_EQ(Get(demo.port(), "/index.html").body, page.body);

  const HttpAnswer script = Get(demo.port(), "/demo.js?v=1");
  EXPECT_EQ(script.status, 200);
  EXPECT_EQ(script.Header("content-type"), "text/javascript; charset=utf-8");
  EXPECT_EQ(script.body, Source("demo.js"));
  EXPECT_EQ(Get(demo.port(), "/demo.css").Header("content-type"), "text/css; charset=utf-8");
  EXPECT_EQ(Get(demo.port(), "/form.xsl").Header("content-type"), "application/xml; charset=utf-8");
  EXPECT_EQ(Get(demo.port(), "/%64emo.css").status, 200) << "an escaped letter is that letter";

  const HttpAnswer head = Get(demo.port(), "/", "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("content-length"), std::to_string(page.body.size()));
  EXPECT_EQ(head.body, "") << "HEAD has no body";

  EXPECT_EQ(Get(demo.port(), "/missing.html").status, 404);
  EXPECT_EQ(Get(demo.port(), "/missing.html", "HEAD").body, "");
}

TEST_F(QuillboxBrowserDemo, NothingOutsideTheExampleFolderIsServed) {
  DemoProcess demo(world());
  ASSERT_GT(demo.port(), 0) << world().Read(".demo-stderr");
  // The folder served is build/examples/browser: its parent holds nothing of it, and the
  // sources' own files and the system's are further up.
  for (const std::string target :
       {"/../browser/index.html", "/..", "/a/../index.html", "/./index.html", "/%2e%2e/%2e%2e/CMakeCache.txt",
        "/%2E%2E/bin/quillbox", "/..%2fbin%2fquillbox", "/%2f..%2f..%2fetc/passwd", "/..\\..\\etc\\passwd",
        "/index.html%00.js", "/%zz", "/%2", "//etc/passwd", "/../../../../../../etc/passwd"}) {
    const HttpAnswer answer = Get(demo.port(), target);
    EXPECT_TRUE(answer.status == 403 || answer.status == 404 || answer.status == 400)
        << target << ": " << answer.status;
    EXPECT_EQ(answer.body.find("root:"), std::string::npos) << target;
    EXPECT_EQ(answer.body.find("<!doctype html>"), std::string::npos) << target;
  }
  // Targets that are not a path of this server.
  EXPECT_EQ(Exchange(demo.port(), "GET http://127.0.0.1/etc/passwd HTTP/1.1\r\n" + Host(demo.port()) + "\r\n").status,
            400);
  EXPECT_EQ(Exchange(demo.port(), "GET etc/passwd HTTP/1.1\r\n" + Host(demo.port()) + "\r\n").status, 400);
  EXPECT_EQ(Exchange(demo.port(), "GET / HTTP/1.1\r\nHost: rebound.example:" + std::to_string(demo.port()) + "\r\n\r\n")
                .status,
            403)
      << "a name another site points at the loopback address is not this server's";
  EXPECT_EQ(Exchange(demo.port(), "nonsense\r\n\r\n").status, 400);
}

TEST_F(QuillboxBrowserDemo, OtherMethodsAreAnsweredWithWhatIsAllowed) {
  DemoProcess demo(world());
  ASSERT_GT(demo.port(), 0) << world().Read(".demo-stderr");
  const HttpAnswer put =
      Exchange(demo.port(), "PUT /index.html HTTP/1.1\r\n" + Host(demo.port()) + "Content-Length: 2\r\n\r\nhi");
  EXPECT_EQ(put.status, 405);
  EXPECT_EQ(put.Header("allow"), "GET, HEAD");
  EXPECT_EQ(Post(demo.port(), "/index.html", "<a/>").status, 405);
  const HttpAnswer getVerify = Get(demo.port(), "/verify");
  EXPECT_EQ(getVerify.status, 405);
  EXPECT_EQ(getVerify.Header("allow"), "POST");
  const HttpAnswer headVerify = Get(demo.port(), "/verify", "HEAD");
  EXPECT_EQ(headVerify.status, 405);
  EXPECT_EQ(headVerify.body, "");
  EXPECT_EQ(Source("index.html"), Get(demo.port(), "/").body) << "the PUT changed nothing";
}

TEST_F(QuillboxBrowserDemo, VerifyRunsTheCommandsCheckOnThePostedDocument) {
  const std::string form =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<vloga xmlns=\"urn:quillbox:demo:vloga:1\"><ime>Živa Čebašek</ime><znesek>100</znesek></vloga>";
  const Result signed_ = world().Quillbox({"sign", "--subject", "Demo Test Signer"}, form);
  ASSERT_EQ(signed_.status, 0) << signed_.err;
  DemoProcess demo(world());
  ASSERT_GT(demo.port(), 0) << world().Read(".demo-stderr");

  const HttpAnswer good = Post(demo.port(), "/verify", signed_.out);
  ASSERT_EQ(good.status, 200) << good.body;
  EXPECT_EQ(good.Header("content-type"), "application/json; charset=utf-8");
  EXPECT_TRUE(good.body.starts_with("{\"ok\":true,\"message\":\"signature 1: valid\\u000a")) << good.body;
  EXPECT_NE(good.body.find("subject: " + kSubject), std::string::npos) << good.body;

  std::string tampered = signed_.out;
  tampered.replace(tampered.find("<znesek>100"), 11, "<znesek>900");
  const HttpAnswer bad = Post(demo.port(), "/verify", tampered);
  ASSERT_EQ(bad.status, 200);
  EXPECT_TRUE(bad.body.starts_with("{\"ok\":false,")) << bad.body;
  EXPECT_NE(bad.body.find("the signature does not match the document"), std::string::npos) << bad.body;

  const HttpAnswer unsignedForm = Post(demo.port(), "/verify", form);
  EXPECT_TRUE(unsignedForm.body.starts_with("{\"ok\":false,")) << unsignedForm.body;
  EXPECT_NE(unsignedForm.body.find("no XML signature found"), std::string::npos) << unsignedForm.body;
  const HttpAnswer notXml = Post(demo.port(), "/verify", "not xml \"at\" all");
  EXPECT_TRUE(notXml.body.starts_with("{\"ok\":false,")) << notXml.body;
  EXPECT_NE(notXml.body.find("is not a well-formed XML document"), std::string::npos) << notXml.body;
}

TEST_F(QuillboxBrowserDemo, ABodyTooLargeOrOfUnknownLengthIsRefused) {
  DemoProcess demo(world());
  ASSERT_GT(demo.port(), 0) << world().Read(".demo-stderr");
  const std::string limit = std::to_string(16 * 1024 * 1024);
  const HttpAnswer large = Exchange(demo.port(), "POST /verify HTTP/1.1\r\n" + Host(demo.port()) + "Content-Length: " +
                                                     std::to_string(16 * 1024 * 1024 + 1) + "\r\n\r\n<doc/>");
  EXPECT_EQ(large.status, 413);
  EXPECT_NE(large.body.find(limit), std::string::npos) << large.body;
  const HttpAnswer chunked = Exchange(demo.port(), "POST /verify HTTP/1.1\r\n" + Host(demo.port()) +
                                                       "Transfer-Encoding: chunked\r\n\r\n6\r\n<doc/>\r\n0\r\n\r\n");
  EXPECT_EQ(chunked.status, 411);
  EXPECT_EQ(Exchange(demo.port(), "POST /verify HTTP/1.1\r\n" + Host(demo.port()) + "\r\n").status, 411);
  EXPECT_EQ(
      Exchange(demo.port(), "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\n" + Host(demo.port()) + "\r\n").status,
      431);
  EXPECT_EQ(Get(demo.port(), "/").status, 200) << "the server goes on after refusing";
  // A large body within the bound arrives in many pieces and is checked whole.
  const HttpAnswer big = Post(demo.port(), "/verify", "<doc>" + std::string(3 * 1024 * 1024, 'x') + "</doc>");
  EXPECT_EQ(big.status, 200);
  EXPECT_NE(big.body.find("no XML signature found"), std::string::npos) << big.body.substr(0, 200);
}

// A connection that has sent half a request does not hold up another.
TEST_F(QuillboxBrowserDemo, ConnectionsAreServedAsTheirRequestsComplete) {
  DemoProcess demo(world());
  ASSERT_GT(demo.port(), 0) << world().Read(".demo-stderr");
  const int slow = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(demo.port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(slow, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const std::string first = "GET /demo.css HTTP/1.1\r\n";
  ASSERT_EQ(send(slow, first.data(), first.size(), MSG_NOSIGNAL), static_cast<ssize_t>(first.size()));
  const HttpAnswer other = Get(demo.port(), "/");
  EXPECT_EQ(other.status, 200);
  const std::string rest = Host(demo.port()) + "\r\n";
  ASSERT_EQ(send(slow, rest.data(), rest.size(), MSG_NOSIGNAL), static_cast<ssize_t>(rest.size()));
  std::string raw;
  char buffer[4096];
  for (ssize_t got; (got = recv(slow, buffer, sizeof buffer, 0)) > 0;)
    raw.append(buffer, static_cast<std::size_t>(got));
  close(slow);
  EXPECT_TRUE(raw.starts_with("HTTP/1.1 200 OK\r\n")) << raw;
  EXPECT_TRUE(raw.ends_with(Source("demo.css")));
}

// The browser is opened with xdg-open, which is told the page's address; without one the
// command says so and serves all the same.
TEST_F(QuillboxBrowserDemo, OpensTheBrowserWithXdgOpenOrSaysThereIsNone) {
  World world;
  std::filesystem::create_directories(world.Path("bin"));
  world.SetEnvironment("PATH", world.Path("bin"));
  {
    DemoProcess demo(world, {});
    ASSERT_GT(demo.port(), 0) << world.Read(".demo-stderr");
    EXPECT_EQ(Get(demo.port(), "/").status, 200);
    const auto [status, printed] = demo.Stop();
    EXPECT_EQ(status, 0);
    EXPECT_NE(printed.find("xdg-open is not there"), std::string::npos) << printed;
    EXPECT_NE(printed.find("open http://127.0.0.1:" + std::to_string(demo.port()) + "/ in your browser"),
              std::string::npos)
        << printed;
  }
  // A stand-in that prints what it was asked to open: its output joins the server's, which the
  // test reads to the end, so it is there once the stand-in has run.
  world.Write("bin/xdg-open", "#!/bin/sh\necho \"xdg-open asked for: $*\"\n");
  std::filesystem::permissions(world.Path("bin/xdg-open"), std::filesystem::perms::owner_all);
  DemoProcess demo(world, {});
  ASSERT_GT(demo.port(), 0) << world.Read(".demo-stderr");
  const auto [status, printed] = demo.Stop();
  EXPECT_EQ(status, 0);
  EXPECT_NE(printed.find("xdg-open asked for: http://127.0.0.1:" + std::to_string(demo.port()) + "/\n"),
            std::string::npos)
      << printed;
  EXPECT_EQ(printed.find("is not there"), std::string::npos) << printed;
}

TEST_F(QuillboxBrowserDemo, APortInUseIsNamed) {
  DemoProcess demo(world());
  ASSERT_GT(demo.port(), 0) << world().Read(".demo-stderr");
  const Result taken = world().Quillbox({"browser", "demo", "--no-open", "--port", std::to_string(demo.port())});
  EXPECT_EQ(taken.status, 1);
  EXPECT_NE(taken.err.find("cannot listen on 127.0.0.1:" + std::to_string(demo.port())), std::string::npos)
      << taken.err;
  EXPECT_NE(taken.err.find("--port 0"), std::string::npos) << taken.err;
}

// The page's stylesheet, through the component as TransformAsync runs it, on the form the page
// builds: before signing and after, when it names the signer.
TEST_F(QuillboxBrowserDemo, ThePagesStylesheetRendersTheFormAndItsSigner) {
  const std::string form =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<vloga xmlns=\"urn:quillbox:demo:vloga:1\"><vlagatelj><ime>Živa Čebašek</ime>"
      "<naslov>Šmartinska cesta 12</naslov><emso>0101990505006</emso></vlagatelj>"
      "<zahtevek vrsta=\"štipendija\"><znesek>1250.00</znesek><opombe>đ, ć</opombe></zahtevek>"
      "<izpolnjeno>2026-12-08T21:00:00+01:00</izpolnjeno></vloga>";
  world().Write("form.xsl", Source("form.xsl"));
  const Result plain = world().Quillbox({"transform", "--xsl", world().Path("form.xsl")}, form);
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("<td>Živa Čebašek</td>"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("<td>1250.00 EUR</td>"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("Vloga še ni podpisana."), std::string::npos) << plain.out;

  const Result signed_ = world().Quillbox({"sign", "--subject", "Demo Test Signer"}, form);
  ASSERT_EQ(signed_.status, 0) << signed_.err;
  const Result rendered = world().Quillbox({"transform", "--xsl", world().Path("form.xsl")}, signed_.out);
  ASSERT_EQ(rendered.status, 0) << rendered.err;
  EXPECT_NE(rendered.out.find("Podpisal: " + kSubject), std::string::npos) << rendered.out;
}

// The page loads nothing from elsewhere: every src and href names a file beside it.
TEST_F(QuillboxBrowserDemo, ThePageNamesOnlyItsOwnFiles) {
  const std::string page = Source("index.html");
  for (const std::string attribute : {"src=\"", "href=\""}) {
    for (auto at = page.find(attribute); at != std::string::npos; at = page.find(attribute, at + 1)) {
      const std::string target =
          page.substr(at + attribute.size(), page.find('"', at + attribute.size()) - at - attribute.size());
      EXPECT_FALSE(target.empty()) << attribute;
      EXPECT_EQ(target.find(':'), std::string::npos) << target;
      EXPECT_EQ(target.find('/'), std::string::npos) << target;
      EXPECT_FALSE(Source(target).empty()) << target << " is not in examples/browser";
    }
  }
}

TEST_F(QuillboxBrowserDemo, WrongUsageIsRefused) {
  EXPECT_EQ(world().Quillbox({"browser", "demo", "--port", "65536"}).status, 2);
  EXPECT_EQ(world().Quillbox({"browser", "demo", "--port", "x"}).status, 2);
  EXPECT_EQ(world().Quillbox({"browser", "demo", "extra"}).status, 2);
  const Result help = world().Quillbox({"browser", "demo", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("quillbox browser demo [--port N] [--no-open]"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace quillbox::host::test
