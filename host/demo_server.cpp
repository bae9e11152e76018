#include "host/demo_server.h"

#include "common/json_write.h"
#include "host/cli.h"
#include "host/demo_files.h"
#include "host/files.h"
#include "host/http_request.h"
#include "host/text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <list>
#include <optional>
#include <utility>
#include <vector>

namespace quillbox::host {
namespace {

// A request head longer than this is refused: the pages need nothing like it.
constexpr std::size_t kMaxHead = 16 * 1024;
// A connection that sends nothing for this long is closed (browsers open some they never use).
constexpr int kIdleMilliseconds = 10'000;
constexpr auto kIdle = std::chrono::milliseconds(kIdleMilliseconds);
// Open connections at once; more wait in the kernel's backlog.
constexpr std::size_t kMaxConnections = 32;
// Bytes read and dropped after an answer before the connection is closed anyway.
constexpr std::size_t kMaxDropped = 1024 * 1024;

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 431: return "Request Header Fields Too Large";
    default: return "Internal Server Error";
  }
}

Answer Plain(int status, std::string text) { return {status, "text/plain; charset=utf-8", std::move(text) + "\n", ""}; }

void Send(int fd, const Answer& answer, bool withBody) {
  std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " + Reason(answer.status) + "\r\n";
  head += "Content-Type: " + answer.type + "\r\n";
  head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
  if (!answer.allow.empty()) head += "Allow: " + answer.allow + "\r\n";
  // The page shows signed documents and their transformation only in a sandboxed frame; nothing
  // outside this server is loaded.
  head +=
      "Content-Security-Policy: default-src 'self'; style-src 'self' 'unsafe-inline'; frame-src 'self'; "
      "object-src 'none'; base-uri 'none'; form-action 'none'\r\n"
      "X-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\nReferrer-Policy: no-referrer\r\n"
      "Connection: close\r\n\r\n";
  if (SendAll(fd, head) && withBody) SendAll(fd, answer.body);
}

std::string JsonAnswer(const VerifyAnswer& verified) {
  std::string json = std::string("{\"ok\":") + (verified.ok ? "true" : "false") + ",\"message\":";
  quillbox::AppendJsonString(json, Utf8ToUtf16(verified.message));
  return json + "}";
}

// Only the names this server is reached by: a page of another site that a rebinding name points
// at 127.0.0.1 sends its own name here.
bool KnownHost(const std::string& host, unsigned short port) {
  const std::string suffix = ":" + std::to_string(port);
  return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

}  // namespace

namespace {
volatile std::sig_atomic_t stopRequested = 0;
extern "C" void RequestStop(int) { stopRequested = 1; }
}  // namespace

StopSignals::StopSignals() {
  stopRequested = 0;
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &oldInt_);
  sigaction(SIGTERM, &action, &oldTerm_);
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigprocmask(SIG_BLOCK, &stops, &oldMask_);
  waiting_ = oldMask_;
  sigdelset(&waiting_, SIGINT);
  sigdelset(&waiting_, SIGTERM);
}

StopSignals::~StopSignals() {
  sigprocmask(SIG_SETMASK, &oldMask_, nullptr);
  sigaction(SIGINT, &oldInt_, nullptr);
  sigaction(SIGTERM, &oldTerm_, nullptr);
}

bool StopSignals::Requested() const { return stopRequested != 0; }

DemoServer::DemoServer(std::string root, unsigned short port, std::function<VerifyAnswer(std::string_view)> verify)
    : root_(std::move(root)), verify_(std::move(verify)) {
  listener_ = UniqueFd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener_) throw CommandError(std::string("cannot make a socket: ") + std::strerror(errno));
  const int yes = 1;
  setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_.get(), 16) != 0) {
    const int error = errno;
    throw CommandError("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(error) +
                       (error == EADDRINUSE ? " (--port 0 takes a free port)" : ""));
  }
  socklen_t length = sizeof address;
  getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

void DemoServer::Run(const StopSignals& signals) {
  std::list<Connection> connections;
  while (!signals.Requested()) {
    std::vector<pollfd> waits;
    // A full house stops taking connections until one ends; the kernel's backlog holds the rest.
    if (connections.size() < kMaxConnections) waits.push_back({listener_.get(), POLLIN, 0});
    auto soonest = Clock::time_point::max();
    for (const Connection& connection : connections) {
      waits.push_back({connection.fd.get(), POLLIN, 0});
      soonest = std::min(soonest, connection.deadline);
    }
    timespec timeout{};
    const timespec* bound = nullptr;
    if (!connections.empty()) {
      const auto left = std::max(Clock::duration::zero(), soonest - Clock::now());
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
      timeout = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
      bound = &timeout;
    }
    if (ppoll(waits.data(), waits.size(), bound, signals.waiting()) < 0) {
      if (errno == EINTR) continue;
      throw CommandError(std::string("cannot wait for connections: ") + std::strerror(errno));
    }
    std::size_t next = 0;
    if (connections.size() < kMaxConnections && (waits[next++].revents & POLLIN) != 0) {
      UniqueFd accepted(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (accepted) {
        // An answer goes out with blocking writes; a client that stops reading cannot hold it long.
        const timeval sendBound{kIdleMilliseconds / 1000, 0};
        setsockopt(accepted.get(), SOL_SOCKET, SO_SNDTIMEO, &sendBound, sizeof sendBound);
        Connection& added = connections.emplace_back();
        added.fd = std::move(accepted);
        added.deadline = Clock::now() + kIdle;
      }
    }
    const auto now = Clock::now();
    for (auto it = connections.begin(); it != connections.end(); ++next) {
      const bool readable = next < waits.size() && (waits[next].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
      const bool keep = readable ? Receive(*it) : it->deadline > now;
      it = keep ? std::next(it) : connections.erase(it);
    }
  }
}

bool DemoServer::Receive(Connection& connection) {
  char buffer[16384];
  const ssize_t got = recv(connection.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  if (got <= 0) return false;
  connection.deadline = Clock::now() + kIdle;
  if (connection.answered) {
    // What a client still sends after its answer (a body refused unread) is dropped, within a
    // bound: closing with it unread would make the kernel reset the connection, and the client
    // could lose the answer.
    connection.dropped += static_cast<std::size_t>(got);
    return connection.dropped < kMaxDropped;
  }
  connection.received.append(buffer, static_cast<std::size_t>(got));
  // A body is only looked at once it is all there, not at each piece of it.
  if (connection.received.size() < connection.needed) return true;
  const auto reply = Respond(connection.received, connection.needed);
  if (!reply) return true;
  Send(connection.fd.get(), reply->answer, reply->withBody);
  shutdown(connection.fd.get(), SHUT_WR);
  connection.answered = true;
  connection.dropped = connection.received.size();
  connection.received.clear();
  connection.received.shrink_to_fit();
  return true;
}

std::optional<DemoServer::Reply> DemoServer::Respond(const std::string& received, std::size_t& needed) const {
  const std::size_t headEnd = received.find("\r\n\r\n");
  if (headEnd == std::string::npos && received.size() <= kMaxHead) return std::nullopt;
  if (headEnd == std::string::npos || headEnd > kMaxHead)
    return Reply{Plain(431, "the request head is too long"), true};
  const auto request = ParseRequestHead(std::string_view(received).substr(0, headEnd));
  if (!request) return Reply{Plain(400, "not a request this server understands"), true};
  if (!KnownHost(request->host, port_)) return Reply{Plain(403, "this server answers only to its own address"), true};

  if (request->path == "/verify") {
    if (request->method != "POST") {
      Answer refused = Plain(405, "/verify takes POST");
      refused.allow = "POST";
      return Reply{refused, request->method != "HEAD"};
    }
    if (request->chunked || !request->contentLength) return Reply{Plain(411, "a Content-Length is needed"), true};
    if (*request->contentLength > kMaxBody)
      return Reply{Plain(413, "the document is larger than " + std::to_string(kMaxBody) + " bytes"), true};
    const std::string_view body = std::string_view(received).substr(headEnd + 4);
    if (body.size() < *request->contentLength) {
      needed = headEnd + 4 + *request->contentLength;
      return std::nullopt;
    }
    const VerifyAnswer verified = verify_(body.substr(0, *request->contentLength));
    return Reply{{200, "application/json; charset=utf-8", JsonAnswer(verified), ""}, true};
  }

  if (request->method != "GET" && request->method != "HEAD") {
    Answer refused = Plain(405, "only GET and HEAD are served here");
    refused.allow = "GET, HEAD";
    return Reply{refused, true};
  }
  const bool withBody = request->method == "GET";
  const ResolvedFile file = ResolveFile(root_, request->path);
  if (file.lookup == FileLookup::kRefused) return Reply{Plain(403, "not served"), withBody};
  if (file.lookup == FileLookup::kMissing) return Reply{Plain(404, "no such page"), withBody};
  try {
    return Reply{{200, ContentTypeOf(file.path), ReadAll(file.path), ""}, withBody};
  } catch (const CommandError&) {
    return Reply{Plain(404, "no such page"), withBody};
  }
}

}  // namespace quillbox::host
