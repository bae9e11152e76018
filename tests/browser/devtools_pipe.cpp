#include "browser/devtools_pipe.h"

#include "common/json_parse.h"
#include "common/json_write.h"
#include "host/text.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

namespace quillbox::browser::test {

using quillbox::JsonObject;
using quillbox::JsonValue;

Fd::~Fd() {
  if (fd_ >= 0) close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

int Fd::Release() { return std::exchange(fd_, -1); }

namespace {

// A pipe whose ends sit above the descriptors the child gets, so that moving them to 3 and 4
// never meets one of them.
std::pair<Fd, Fd> HighPipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  Fd read(fcntl(ends[0], F_DUPFD_CLOEXEC, 10));
  Fd write(fcntl(ends[1], F_DUPFD_CLOEXEC, 10));
  close(ends[0]);
  close(ends[1]);
  if (read.get() < 0 || write.get() < 0) throw std::runtime_error("fcntl failed");
  return {std::move(read), std::move(write)};
}

// How long any one answer may take before the browser is taken to hang: a bound against a stuck
// test run, not a measurement.
constexpr int kAnswerBoundMs = 120000;

}  // namespace

pid_t StartBrowser(std::vector<std::string> argv, std::vector<std::string> environment, const std::string& logFile,
                   const std::vector<std::pair<int, int>>& moves) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  for (const auto& [from, to] : moves) posix_spawn_file_actions_adddup2(&actions, from, to);
  // A process group of its own, so that the browser and its helpers go together at the end.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) throw std::runtime_error("cannot start " + argv[0]);
  signal(SIGPIPE, SIG_IGN);
  return pid;
}

void EndBrowser(pid_t pid) {
  for (int waited = 0; waited < 100; ++waited) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      kill(-pid, SIGKILL);
      return;
    }
    usleep(100000);
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

DevToolsBrowser::DevToolsBrowser(std::vector<std::string> argv, std::vector<std::string> environment,
                                 const std::string& logFile) {
  auto [childReads, weWrite] = HighPipe();
  auto [weRead, childWrites] = HighPipe();
  argv.push_back("--remote-debugging-pipe");
  pid_ = StartBrowser(std::move(argv), std::move(environment), logFile,
                      {{childReads.get(), 3}, {childWrites.get(), 4}});
  toBrowser_ = std::move(weWrite);
  fromBrowser_ = std::move(weRead);
}

DevToolsBrowser::~DevToolsBrowser() {
  if (pid_ <= 0) return;
  try {
    Call("Browser.close");
  } catch (const std::exception&) {
    // It has gone already, or does not answer; it is ended below either way.
  }
  toBrowser_ = Fd();
  fromBrowser_ = Fd();
  EndBrowser(pid_);
}

JsonValue DevToolsBrowser::Call(const std::string& method, JsonObject params, const std::string& session) {
  const double id = nextId_++;
  JsonObject message{{u"id", JsonValue(id)}, {u"method", JsonValue(host::Utf8ToUtf16(method))},
                     {u"params", JsonValue(std::move(params))}};
  if (!session.empty()) message.emplace_back(u"sessionId", JsonValue(host::Utf8ToUtf16(session)));
  std::string text = quillbox::WriteJson(JsonValue(std::move(message)));
  text.push_back('\0');
  for (std::size_t at = 0; at < text.size();) {
    const ssize_t wrote = write(toBrowser_.get(), text.data() + at, text.size() - at);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) throw std::runtime_error("the browser's pipe is closed");
    at += static_cast<std::size_t>(wrote);
  }
  for (;;) {
    const JsonValue answer = ReadMessage();
    const JsonValue* answerId = answer.Member(u"id");
    if (answerId == nullptr || answerId->Number() == nullptr || *answerId->Number() != id) continue;  // an event
    if (const JsonValue* error = answer.Member(u"error")) {
      const JsonValue* text = error->Member(u"message");
      throw std::runtime_error(method + ": " + (text && text->String() ? host::Utf16ToUtf8(*text->String()) : "error"));
    }
    const JsonValue* result = answer.Member(u"result");
    return result ? *result : JsonValue();
  }
}

JsonValue DevToolsBrowser::ReadMessage() {
  for (;;) {
    const std::size_t end = buffer_.find('\0');
    if (end != std::string::npos) {
      const std::string text = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      // The browser's messages are bigger and deeper than the native host's requests.
      return quillbox::ParseJson(text, 256, 1u << 26);
    }
    pollfd ready{fromBrowser_.get(), POLLIN, 0};
    const int polled = poll(&ready, 1, kAnswerBoundMs);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) throw std::runtime_error("the browser does not answer");
    char chunk[65536];
    const ssize_t got = read(fromBrowser_.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("the browser ended");
    buffer_.append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace quillbox::browser::test
