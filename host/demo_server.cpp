#include "host/demo_server.h"

#include "bridge/json_write.h"
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

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <utility>

namespace quillbox::host {
namespace {

// A request head longer than this is refused: the pages need nothing like it.
constexpr std::size_t kMaxHead = 16 * 1024;
// A client that sends nothing for this long is dropped, so one stalled connection cannot hold
// the single-threaded server for ever.
constexpr int kIdleMilliseconds = 10'000;

volatile std::sig_atomic_t stopRequested = 0;
extern "C" void RequestStop(int) { stopRequested = 1; }

// The stop signals are blocked except while the server waits for a connection, so one that
// arrives in the middle of an answer ends the server after it, never inside a write.
class StopSignals {
 public:
  StopSignals() {
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
  ~StopSignals() {
    sigprocmask(SIG_SETMASK, &oldMask_, nullptr);
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  const sigset_t* waiting() const { return &waiting_; }

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
  sigset_t oldMask_{};
  sigset_t waiting_{};
};

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

// Reads what arrives within the idle bound; "" and false at the end or on a stall.
bool ReadSome(int fd, std::string& into) {
  pollfd wait{fd, POLLIN, 0};
  if (poll(&wait, 1, kIdleMilliseconds) <= 0) return false;
  char buffer[16384];
  const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
  if (got <= 0) return false;
  into.append(buffer, static_cast<std::size_t>(got));
  return true;
}

// Closing with unread bytes of the request waiting makes the kernel reset the connection, and a
// client may then lose the answer (a refusal of a body too large, say). So the answer is ended
// first and what the client still sends is read and dropped, within bounds.
void Linger(int fd) {
  shutdown(fd, SHUT_WR);
  std::string dropped;
  while (dropped.size() < 1024 * 1024 && ReadSome(fd, dropped)) {
    if (dropped.size() > 65536) dropped.clear();
  }
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

struct Answer {
  int status = 200;
  std::string type = "text/plain; charset=utf-8";
  std::string body;
  std::string allow;  // the Allow header of a 405
};

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
  bridge::AppendJsonString(json, Utf8ToUtf16(verified.message));
  return json + "}";
}

// Only the names this server is reached by: a page of another site that a rebinding name points
// at 127.0.0.1 sends its own name here.
bool KnownHost(const std::string& host, unsigned short port) {
  const std::string suffix = ":" + std::to_string(port);
  return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

}  // namespace

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
    throw CommandError("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
  }
  socklen_t length = sizeof address;
  getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

void DemoServer::Run() {
  const StopSignals signals;
  while (stopRequested == 0) {
    pollfd wait{listener_.get(), POLLIN, 0};
    const int ready = ppoll(&wait, 1, nullptr, signals.waiting());
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw CommandError(std::string("cannot wait for connections: ") + std::strerror(errno));
    }
    const UniqueFd connection(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection) continue;
    Serve(connection.get());
    Linger(connection.get());
  }
}

void DemoServer::Serve(int connection) {
  std::string received;
  std::size_t headEnd = std::string::npos;
  while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
    if (received.size() > kMaxHead) return Send(connection, Plain(431, "the request head is too long"), true);
    if (!ReadSome(connection, received)) return;
  }
  if (headEnd > kMaxHead) return Send(connection, Plain(431, "the request head is too long"), true);
  const auto request = ParseRequestHead(std::string_view(received).substr(0, headEnd));
  if (!request) return Send(connection, Plain(400, "not a request this server understands"), true);
  if (!KnownHost(request->host, port_)) return Send(connection, Plain(403, "this server answers only to its own address"), true);

  if (request->path == "/verify") {
    if (request->method != "POST") {
      Answer refused = Plain(405, "/verify takes POST");
      refused.allow = "POST";
      return Send(connection, refused, request->method != "HEAD");
    }
    if (request->chunked || !request->contentLength) return Send(connection, Plain(411, "a Content-Length is needed"), true);
    if (*request->contentLength > kMaxBody)
      return Send(connection, Plain(413, "the document is larger than " + std::to_string(kMaxBody) + " bytes"), true);
    std::string body = received.substr(headEnd + 4);
    while (body.size() < *request->contentLength) {
      if (!ReadSome(connection, body)) return;
    }
    body.resize(*request->contentLength);
    return Send(connection, {200, "application/json; charset=utf-8", JsonAnswer(verify_(body)), ""}, true);
  }

  if (request->method != "GET" && request->method != "HEAD") {
    Answer refused = Plain(405, "only GET and HEAD are served here");
    refused.allow = "GET, HEAD";
    return Send(connection, refused, true);
  }
  const bool withBody = request->method == "GET";
  const ResolvedFile file = ResolveFile(root_, request->path);
  if (file.lookup == FileLookup::kRefused) return Send(connection, Plain(403, "not served"), withBody);
  if (file.lookup == FileLookup::kMissing) return Send(connection, Plain(404, "no such page"), withBody);
  std::string bytes;
  try {
    bytes = ReadAll(file.path);
  } catch (const CommandError&) {
    return Send(connection, Plain(404, "no such page"), withBody);
  }
  Send(connection, {200, ContentTypeOf(file.path), std::move(bytes), ""}, withBody);
}

}  // namespace quillbox::host
