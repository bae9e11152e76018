#include "browser/marionette.h"

#include "common/json_parse.h"
#include "common/json_write.h"
#include "host/text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace quillbox::browser::test {

using quillbox::JsonObject;
using quillbox::JsonValue;

namespace {

// How long any one answer may take before the browser is taken to hang: a bound against a stuck
// test run, not a measurement.
constexpr int kAnswerBoundMs = 120000;

std::string TextOf(const JsonValue* value) {
  return value != nullptr && value->String() != nullptr ? host::Utf16ToUtf8(*value->String()) : "";
}

}  // namespace

MarionetteBrowser::MarionetteBrowser(std::vector<std::string> argv, std::vector<std::string> environment,
                                     const std::string& logFile, const std::string& profile) {
  pid_ = StartBrowser(std::move(argv), std::move(environment), logFile);
  const std::string portFile = profile + "/MarionetteActivePort";
  for (int attempt = 0; attempt < 1200; ++attempt) {
    int port = 0;
    if (std::ifstream file(portFile); file >> port && port > 0) {
      Fd connection(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(port));
      if (connect(connection.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        socket_ = std::move(connection);
        ReadMessage();  // the greeting
        Call("WebDriver:NewSession", {{u"capabilities", JsonValue(JsonObject{})}});
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EndBrowser(pid_);
  throw std::runtime_error("Firefox did not open its Marionette port");
}

MarionetteBrowser::~MarionetteBrowser() {
  try {
    if (socket_.get() >= 0) Call("Marionette:Quit");
  } catch (const std::exception&) {
    // It has gone already, or does not answer; it is ended below either way.
  }
  socket_ = Fd();
  EndBrowser(pid_);
}

JsonValue MarionetteBrowser::Call(const std::string& command, JsonObject params) {
  const double id = nextId_++;
  const std::string text = quillbox::WriteJson(JsonValue(quillbox::JsonArray{
      JsonValue(0), JsonValue(id), JsonValue(host::Utf8ToUtf16(command)), JsonValue(std::move(params))}));
  const std::string framed = std::to_string(text.size()) + ":" + text;
  for (std::size_t at = 0; at < framed.size();) {
    const ssize_t wrote = send(socket_.get(), framed.data() + at, framed.size() - at, MSG_NOSIGNAL);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) throw std::runtime_error("Firefox's connection is closed");
    at += static_cast<std::size_t>(wrote);
  }
  for (;;) {
    const JsonValue answer = ReadMessage();
    const quillbox::JsonArray* parts = answer.Array();
    if (parts == nullptr || parts->size() != 4 || (*parts)[1].Number() == nullptr || *(*parts)[1].Number() != id) continue;
    if (!(*parts)[2].IsNull()) {
      throw std::runtime_error(command + ": " + TextOf((*parts)[2].Member(u"error")) + ": " +
                               TextOf((*parts)[2].Member(u"message")));
    }
    return (*parts)[3];
  }
}

JsonValue MarionetteBrowser::ReadMessage() {
  for (;;) {
    const std::size_t colon = buffer_.find(':');
    if (colon != std::string::npos) {
      const std::size_t length = std::stoul(buffer_.substr(0, colon));
      if (buffer_.size() >= colon + 1 + length) {
        const std::string text = buffer_.substr(colon + 1, length);
        buffer_.erase(0, colon + 1 + length);
        return quillbox::ParseJson(text, 256, 1u << 26);
      }
    }
    pollfd ready{socket_.get(), POLLIN, 0};
    const int polled = poll(&ready, 1, kAnswerBoundMs);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) throw std::runtime_error("Firefox does not answer");
    char chunk[65536];
    const ssize_t got = recv(socket_.get(), chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("Firefox ended");
    buffer_.append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace quillbox::browser::test
