// Firefox driven headless through Marionette (--marionette): the protocol's JSON messages, each
// framed as its decimal length, a colon and the text, on a loopback TCP connection.
#pragma once

#include "common/json_value.h"
#include "browser/devtools_pipe.h"

#include <string>
#include <vector>

namespace quillbox::browser::test {

class MarionetteBrowser {
 public:
  // Starts `argv` with `environment` and connects to the Marionette port that Firefox writes into
  // `profile`/MarionetteActivePort.
  MarionetteBrowser(std::vector<std::string> argv, std::vector<std::string> environment, const std::string& logFile,
                    const std::string& profile);
  ~MarionetteBrowser();
  MarionetteBrowser(const MarionetteBrowser&) = delete;
  MarionetteBrowser& operator=(const MarionetteBrowser&) = delete;

  // Sends one command and waits for its answer; throws on an error answer.
  quillbox::JsonValue Call(const std::string& command, quillbox::JsonObject params = {});

 private:
  quillbox::JsonValue ReadMessage();

  pid_t pid_ = -1;
  Fd socket_;
  std::string buffer_;
  double nextId_ = 1;
};

}  // namespace quillbox::browser::test
