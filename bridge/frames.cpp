#include "bridge/frames.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillbox::bridge {
namespace {

// Exactly `size` bytes, or fewer when the input ends first.
std::size_t ReadFully(ByteSource& source, char* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const std::size_t got = source.Read(buffer + done, size - done);
    if (got == 0) break;
    done += got;
  }
  return done;
}

}  // namespace

IncomingFrame ReadFrame(ByteSource& source, std::uint32_t maxLength) {
  IncomingFrame frame;
  char header[4];
  const std::size_t got = ReadFully(source, header, sizeof header);
  if (got == 0) return frame;
  if (got < sizeof header) {
    frame.status = FrameStatus::kCut;
    return frame;
  }
  std::memcpy(&frame.length, header, sizeof header);
  if (frame.length > maxLength) {
    frame.status = FrameStatus::kTooLarge;
    return frame;
  }
  // Grown as the bytes arrive, so that a length the sender never fills costs no memory.
  constexpr std::size_t kStep = 1u << 20;
  while (frame.message.size() < frame.length) {
    const std::size_t before = frame.message.size();
    const std::size_t want = std::min<std::size_t>(kStep, frame.length - before);
    frame.message.resize(before + want);
    const std::size_t read = ReadFully(source, frame.message.data() + before, want);
    if (read < want) {
      frame.message.clear();
      frame.status = FrameStatus::kCut;
      return frame;
    }
  }
  frame.status = FrameStatus::kMessage;
  return frame;
}

bool WriteFrame(ByteSink& sink, std::string_view message) {
  if (message.size() > kMaxOutgoingFrame) return false;
  const auto length = static_cast<std::uint32_t>(message.size());
  char header[4];
  std::memcpy(header, &length, sizeof header);
  std::string frame(header, sizeof header);
  frame += message;
  return sink.Write(frame);
}

std::size_t FileSource::Read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

bool FileSink::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd_, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

}  // namespace quillbox::bridge
