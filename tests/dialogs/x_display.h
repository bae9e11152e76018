// A private X server (Xvfb) for the window tests, and the X tools that drive and capture it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
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

// Answers the window titled `title` on $DISPLAY, each time one appears, from a thread of its own
// until it is stopped: the window is focused and each of `actions` is run as the arguments of one
// xdotool command ({"key", "alt+o"}, {"type", "Second"}). Meant for a window another process shows
// while the test's thread waits in a call that only returns once the window is answered.
class WindowAnswerer {
 public:
  WindowAnswerer(std::string title, std::vector<std::vector<std::string>> actions);
  WindowAnswerer(const WindowAnswerer&) = delete;
  WindowAnswerer& operator=(const WindowAnswerer&) = delete;
  ~WindowAnswerer() { Stop(); }

  // Stops watching; gives how many windows it answered.
  int Stop();

 private:
  void Watch();

  std::string title_;
  std::vector<std::vector<std::string>> actions_;
  std::atomic<bool> stop_ = false;
  std::atomic<int> answered_ = 0;
  std::thread thread_;
};

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
