#include "terminal.h"

#include "display_text.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace qb::cryptdlg {
namespace {

// The signal caught while input was quiet; 0 for none.
volatile sig_atomic_t gCaught = 0;

void Catch(int signal) { gCaught = signal; }

// Holds the prompt signals back on this thread except while it waits for input. A signal that
// came between a check of the flag and a blocking read would otherwise leave the read waiting for
// a line that Ctrl-C has just thrown away; ppoll lets them in only while it waits.
class SignalsOnlyWhileWaiting {
 public:
  SignalsOnlyWhileWaiting() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : kPromptSignals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &original_);
    waiting_ = original_;
    for (const int signal : kPromptSignals) sigdelset(&waiting_, signal);
  }
  ~SignalsOnlyWhileWaiting() { pthread_sigmask(SIG_SETMASK, &original_, nullptr); }
  SignalsOnlyWhileWaiting(const SignalsOnlyWhileWaiting&) = delete;
  SignalsOnlyWhileWaiting& operator=(const SignalsOnlyWhileWaiting&) = delete;

  // Waits until `fd` can be read or a signal arrives (false, EINTR).
  bool WaitForInput(int fd) const {
    pollfd wait{fd, POLLIN, 0};
    return ppoll(&wait, 1, nullptr, &waiting_) >= 0;
  }

 private:
  sigset_t original_{};
  sigset_t waiting_{};
};

}  // namespace

Terminal::QuietInput::QuietInput(const Terminal& terminal) : fd_(terminal.fd_) {
  if (tcgetattr(fd_, &saved_) != 0) return;
  gCaught = 0;
  // Without SA_RESTART, so that the read waiting for the password returns at once.
  struct sigaction catching {};
  catching.sa_handler = Catch;
  sigemptyset(&catching.sa_mask);
  for (std::size_t i = 0; i < std::size(kPromptSignals); ++i) sigaction(kPromptSignals[i], &catching, &previous_[i]);
  catching_ = true;
  termios quiet = saved_;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  // TCSANOW, not TCSAFLUSH: input typed ahead of the prompt is kept, not thrown away.
  active_ = tcsetattr(fd_, TCSANOW, &quiet) == 0;
}

Terminal::QuietInput::~QuietInput() {
  if (active_) tcsetattr(fd_, TCSANOW, &saved_);
  if (!catching_) return;
  for (std::size_t i = 0; i < std::size(kPromptSignals); ++i) sigaction(kPromptSignals[i], &previous_[i], nullptr);
  // Now that echo is back, the signal does what it would have done: end the process, stop it,
  // or reach the host's own handler (or nothing, when the host ignores it).
  if (const int caught = gCaught; caught != 0) {
    gCaught = 0;
    raise(caught);
  }
}

bool Terminal::Interrupted() { return gCaught != 0; }

std::optional<Terminal> Terminal::Open() {
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  return Terminal(fd);
}

Terminal::Terminal(Terminal&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Terminal::~Terminal() {
  if (fd_ >= 0) close(fd_);
}

bool Terminal::Write(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::optional<Terminal::Line> Terminal::ReadLine(std::size_t maxBytes, bool secret) {
  Line line;
  line.text.reserve(maxBytes + 1);  // no reallocation, so no stray copies of a secret
  bool readAny = false;
  const SignalsOnlyWhileWaiting signals;
  for (;;) {
    char c = 0;
    ssize_t n = -1;
    if (Interrupted()) {
      errno = EINTR;
    } else if (signals.WaitForInput(fd_)) {
      n = read(fd_, &c, 1);
    }
    if (n < 0 && errno == EINTR) {
      if (!Interrupted()) continue;
      if (secret) Wipe(line.text);
      return std::nullopt;
    }
    if (n <= 0) {
      // End of input (or a hang-up) before anything was typed is a refusal; after some text it
      // ends the line, as a terminal's end-of-file key does mid-line.
      if (!readAny) {
        if (secret) Wipe(line.text);
        return std::nullopt;
      }
      break;
    }
    readAny = true;
    if (c == '\n') break;
    if (line.tooLong) continue;
    if (line.text.size() == maxBytes) {
      line.tooLong = true;
      if (secret) Wipe(line.text);
      line.text.clear();
      continue;
    }
    line.text.push_back(c);
  }
  if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
  return line;
}

}  // namespace qb::cryptdlg
