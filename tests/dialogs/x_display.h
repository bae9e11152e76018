// A private X server (Xvfb) for the window tests, and the X tools that drive and capture it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace quillbox::test {

// True when `program` is an executable file on PATH.
bool ProgramInstalled(const std::string& program);

// Runs a program (no shell) and waits for it; returns its exit status, -1 when it did not run.
// `output`, when given, receives what it wrote to standard output.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// The X id of the visible window titled exactly `title` on $DISPLAY, once xdotool sees it (it
// waits up to 30 seconds, or not at all without `wait`); empty when none appeared.
std::string FindWindow(const std::string& title, bool wait = true);

class XvfbServer {
 public:
  // Starts Xvfb on a display number it picks itself among the free ones, listening on no TCP
  // port; null (with `error` set) when it cannot be started.
  static std::unique_ptr<XvfbServer> Start(std::string& error);
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;
  ~XvfbServer();  // stops the server

  const std::string& Display() const { return display_; }

 private:
  XvfbServer(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}
  pid_t pid_;
  std::string display_;
};

}  // namespace quillbox::test
