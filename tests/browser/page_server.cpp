#include "browser/page_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace quillbox::browser::test {

namespace {

const std::string kPage =
    "<!doctype html><html><head><meta charset=\"utf-8\"><title>Quillbox test page</title></head>"
    "<body><form><p>A form to sign</p></form></body></html>";

void Answer(int client) {
  // Read the request head; what it asks for does not matter, every path gets the page.
  std::string request;
  char chunk[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    pollfd ready{client, POLLIN, 0};
    if (poll(&ready, 1, 10000) <= 0) return;
    const ssize_t got = read(client, chunk, sizeof chunk);
    if (got <= 0) return;
    request.append(chunk, static_cast<std::size_t>(got));
  }
  const bool favicon = request.starts_with("GET /favicon.ico");
  const std::string body = favicon ? std::string() : kPage;
  const std::string response = std::string(favicon ? "HTTP/1.1 404 Not Found\r\n" : "HTTP/1.1 200 OK\r\n") +
                               "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                               "Connection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  for (std::size_t at = 0; at < response.size();) {
    const ssize_t wrote = send(client, response.data() + at, response.size() - at, MSG_NOSIGNAL);
    if (wrote <= 0) return;
    at += static_cast<std::size_t>(wrote);
  }
}

}  // namespace

PageServer::PageServer() : listener_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  if (listener_.get() < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_.get(), 16) != 0) {
    throw std::runtime_error("cannot listen on the loopback address");
  }
  socklen_t length = sizeof address;
  getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  stopRead_ = Fd(ends[0]);
  stopWrite_ = Fd(ends[1]);
  thread_ = std::thread([this] { Serve(); });
}

PageServer::~PageServer() {
  const char stop = 's';
  (void)!write(stopWrite_.get(), &stop, 1);
  thread_.join();
  {
    const std::lock_guard<std::mutex> hold(clientsLock_);
    for (int client : clients_) shutdown(client, SHUT_RDWR);
  }
  // No new thread comes now that the accepting one has ended.
  for (std::thread& client : clientThreads_) client.join();
}

void PageServer::Serve() {
  for (;;) {
    pollfd ready[2] = {{listener_.get(), POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
    if (poll(ready, 2, -1) < 0) continue;
    if (ready[1].revents != 0) return;
    Fd client(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.get() < 0) continue;
    // One thread a connection: the browser opens connections ahead that may never carry a
    // request, and those must not hold up the next page.
    const std::lock_guard<std::mutex> hold(clientsLock_);
    clients_.push_back(client.get());
    clientThreads_.emplace_back([this, owned = std::move(client)] {
      Answer(owned.get());
      const std::lock_guard<std::mutex> done(clientsLock_);
      std::erase(clients_, owned.get());
    });
  }
}

}  // namespace quillbox::browser::test
