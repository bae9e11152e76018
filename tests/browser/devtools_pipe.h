// A browser run headless under the DevTools protocol over a pipe (--remote-debugging-pipe): the
// protocol's JSON messages, each ended by a NUL byte, go in on the browser's descriptor 3 and come
// out on its descriptor 4.
#pragma once

#include "common/json_value.h"

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace quillbox::browser::test {

// An owned file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd();
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Release();

 private:
  int fd_ = -1;
};

// Starts `argv` (argv[0] an absolute path) in a process group of its own with `environment`,
// standard input from /dev/null, standard output and error appended to `logFile`, and each
// `moves` pair's first descriptor as its second.
pid_t StartBrowser(std::vector<std::string> argv, std::vector<std::string> environment, const std::string& logFile,
                   const std::vector<std::pair<int, int>>& moves = {});
// Waits a while for a browser asked to close to end, then kills what is left of its process group.
void EndBrowser(pid_t pid);

class DevToolsBrowser {
 public:
  // Starts `argv` (argv[0] an absolute path) with `environment`, standard output and error going
  // to `logFile`, and --remote-debugging-pipe added.
  DevToolsBrowser(std::vector<std::string> argv, std::vector<std::string> environment, const std::string& logFile);
  ~DevToolsBrowser();
  DevToolsBrowser(const DevToolsBrowser&) = delete;
  DevToolsBrowser& operator=(const DevToolsBrowser&) = delete;

  // Sends one command (to the page session `session`, or the browser when empty) and waits for
  // its answer; throws on a protocol error or when the browser ends.
  quillbox::JsonValue Call(const std::string& method, quillbox::JsonObject params = {}, const std::string& session = "");

  pid_t pid() const { return pid_; }

 private:
  quillbox::JsonValue ReadMessage();

  pid_t pid_ = -1;
  Fd toBrowser_;
  Fd fromBrowser_;
  std::string buffer_;
  double nextId_ = 1;
};

}  // namespace quillbox::browser::test
