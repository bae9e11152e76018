// Running a piece of a test in a child process that has a pseudo-terminal, or no terminal and no
// display at all, and bringing back a text the child reports.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillbox::test {

// The child body: returns the text to report to the parent.
using ChildBody = std::function<std::string()>;

// Runs `body` in a new session (no controlling terminal) with DISPLAY and WAYLAND_DISPLAY unset.
// Returns the reported text, or a description of how the child failed.
std::string RunWithoutTerminal(const ChildBody& body);

// One step of a terminal conversation: wait until the output shows `waitFor`, then type `send`.
struct Exchange {
  std::string waitFor;
  std::string send;
};

struct TerminalRun {
  std::string reported;    // what the body returned, or how the child failed
  std::string transcript;  // everything written to the terminal, echo included
};

// Runs `body` with a fresh pseudo-terminal as its controlling terminal (and no display), playing
// `script` on the terminal's keyboard side.
TerminalRun RunOnTerminal(const ChildBody& body, const std::vector<Exchange>& script);

}  // namespace quillbox::test
