// The process's controlling terminal, opened directly so that prompts work whatever the standard
// streams are redirected to, as a console program's dialog would.
#pragma once

#include <signal.h>
#include <termios.h>

#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace qb::cryptdlg {

// The signals that end or stop a process at a prompt, which quiet input holds back.
inline constexpr int kPromptSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGALRM, SIGPIPE};

class Terminal {
 public:
  // The controlling terminal, or nothing when the process has none.
  static std::optional<Terminal> Open();

  Terminal(Terminal&& other) noexcept;
  Terminal& operator=(Terminal&&) = delete;
  ~Terminal();

  bool Write(std::string_view text);

  struct Line {
    std::string text;      // without the line end
    bool tooLong = false;  // the line was longer than asked for; its text is dropped
  };
  // One line of input of at most `maxBytes` bytes; nothing at end of input (or on an error, or
  // when QuietInput caught a signal). With `secret`, what is dropped is wiped.
  std::optional<Line> ReadLine(std::size_t maxBytes, bool secret = false);
  // A signal arrived while a QuietInput lived.
  static bool Interrupted();

  // Keeps typed input from being echoed while it lives. Taken before the prompt is written, so
  // that nothing typed ahead of the prompt shows either. A signal that would end or stop the
  // process meanwhile (Ctrl-C, Ctrl-Z, a hang-up) is held back until the terminal is as
  // it was, then delivered as if it had just come; the read it interrupted gives up.
  class QuietInput {
   public:
    explicit QuietInput(const Terminal& terminal);
    QuietInput(const QuietInput&) = delete;
    QuietInput& operator=(const QuietInput&) = delete;
    ~QuietInput();

   private:
    int fd_;
    termios saved_{};
    bool active_ = false;
    bool catching_ = false;
    struct sigaction previous_[std::size(kPromptSignals)]{};
  };

 private:
  explicit Terminal(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace qb::cryptdlg
