// The demo's web server: the example pages from one folder and a POST /verify, on the loopback
// address only, until SIGINT or SIGTERM. One thread: connections are read as bytes arrive, and a
// complete request is answered at once.
#pragma once

#include "host/unique_fd.h"

#include <signal.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillbox::host {

struct VerifyAnswer {
  bool ok = false;
  std::string message;
};

struct Answer {
  int status = 200;
  std::string type = "text/plain; charset=utf-8";
  std::string body;
  std::string allow;  // the Allow header of a 405
};

// SIGINT and SIGTERM, from construction on, ask the server to stop instead of ending the
// process. They stay blocked except while the server waits, so one that arrives in the middle of
// an answer ends the server after it, never inside a write; and one that arrives before the
// server runs (right after the address is printed) is kept for it.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // The signal mask to wait with: the stop signals let through.
  const sigset_t* waiting() const { return &waiting_; }
  bool Requested() const;

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
  sigset_t oldMask_{};
  sigset_t waiting_{};
};

class DemoServer {
 public:
  // The largest body /verify takes; a longer one is refused (413) without being read.
  static constexpr std::size_t kMaxBody = 16 * 1024 * 1024;

  // Listens on 127.0.0.1:port (0: a free port); throws CommandError when it cannot. `root` is
  // the real path of the folder served.
  DemoServer(std::string root, unsigned short port, std::function<VerifyAnswer(std::string_view)> verify);

  unsigned short port() const { return port_; }
  // Serves until one of `signals` arrives, then returns.
  void Run(const StopSignals& signals);

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    UniqueFd fd;
    std::string received;
    bool answered = false;  // then what still comes is dropped
    std::size_t dropped = 0;
    std::size_t needed = 0;  // the length of the whole request, once its head tells it
    Clock::time_point deadline;
  };
  struct Reply {
    Answer answer;
    bool withBody = true;
  };
  // Reads what arrived and answers a complete request; false when the connection is done.
  bool Receive(Connection& connection);
  // The answer to the request `received` holds, or nullopt while it is incomplete (then `needed`
  // is the whole request's length when the head gives it).
  std::optional<Reply> Respond(const std::string& received, std::size_t& needed) const;

  std::string root_;
  std::function<VerifyAnswer(std::string_view)> verify_;
  UniqueFd listener_;
  unsigned short port_ = 0;
};

}  // namespace quillbox::host
