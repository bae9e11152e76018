// The demo's web server: the example pages from one folder and a POST /verify, on the loopback
// address only, one connection at a time, until SIGINT or SIGTERM.
#pragma once

#include "host/unique_fd.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace quillbox::host {

struct VerifyAnswer {
  bool ok = false;
  std::string message;
};

class DemoServer {
 public:
  // The largest body /verify takes; a longer one is refused (413) without being read.
  static constexpr std::size_t kMaxBody = 16 * 1024 * 1024;

  // Listens on 127.0.0.1:port (0: a free port); throws CommandError when it cannot. `root` is
  // the real path of the folder served.
  DemoServer(std::string root, unsigned short port, std::function<VerifyAnswer(std::string_view)> verify);

  unsigned short port() const { return port_; }
  // Serves until SIGINT or SIGTERM arrives, then returns.
  void Run();

 private:
  void Serve(int connection);

  std::string root_;
  std::function<VerifyAnswer(std::string_view)> verify_;
  UniqueFd listener_;
  unsigned short port_ = 0;
};

}  // namespace quillbox::host
