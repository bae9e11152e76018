// Native messaging's framing: each message is a 32-bit length in the machine's byte order, then
// that many bytes of UTF-8 JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillbox::bridge {

// The browsers' own bounds: a message to the host may be up to 64 MiB, one from the host 1 MiB.
inline constexpr std::uint32_t kMaxIncomingFrame = 64u << 20;
inline constexpr std::uint32_t kMaxOutgoingFrame = 1u << 20;

struct ByteSource {
  // Up to `size` bytes into `buffer`; 0 at the end of the input (or when it fails).
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

struct ByteSink {
  // All of `bytes`, or false.
  virtual bool Write(std::string_view bytes) = 0;
};

enum class FrameStatus {
  kMessage,   // `message` holds one whole frame's bytes
  kEnd,       // the input ended between frames
  kCut,       // the input ended inside a frame
  kTooLarge,  // the length is over the bound; nothing of the body was read
};

struct IncomingFrame {
  FrameStatus status = FrameStatus::kEnd;
  std::uint32_t length = 0;
  std::string message;
};

IncomingFrame ReadFrame(ByteSource& source, std::uint32_t maxLength = kMaxIncomingFrame);
// False when `message` is over kMaxOutgoingFrame (nothing is written) or the sink fails.
bool WriteFrame(ByteSink& sink, std::string_view message);

// The process's standard input and output.
class FileSource : public ByteSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  std::size_t Read(char* buffer, std::size_t size) override;

 private:
  int fd_;
};

class FileSink : public ByteSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}
  bool Write(std::string_view bytes) override;

 private:
  int fd_;
};

}  // namespace quillbox::bridge
