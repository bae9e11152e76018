// A tiny HTTP server on the loopback address that answers every request with one small page, for
// the browser tests' pages (http://127.0.0.1:PORT is a secure context).
#pragma once

#include "browser/devtools_pipe.h"

#include <mutex>
#include <thread>
#include <vector>

namespace quillbox::browser::test {

class PageServer {
 public:
  PageServer();
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  int port() const { return port_; }

 private:
  void Serve();

  Fd listener_;
  Fd stopRead_;
  Fd stopWrite_;
  int port_ = 0;
  std::thread thread_;
  // A thread a connection; at the end their sockets are shut, which wakes any of them still
  // waiting for a request, and they are joined.
  std::mutex clientsLock_;
  std::vector<int> clients_;
  std::vector<std::thread> clientThreads_;
};

}  // namespace quillbox::browser::test
