// Whole-file reads and writes; "-" (or no name) means standard input or output.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillbox::host {

// Throws CommandError naming the file when it cannot be read or written.
std::string ReadAll(const std::string& path);

// A file (or standard input) read from the start in pieces, for a reader that decodes as it goes
// instead of holding all the bytes first.
class FileReader {
 public:
  explicit FileReader(const std::string& path);
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // The size of a regular file when it was opened; nothing for a pipe or a terminal.
  std::optional<std::size_t> Size() const { return size_; }
  // Fills `room` as far as the file goes; fewer bytes only at its end, none past it.
  std::size_t Read(char* room, std::size_t bytes);
  // Appends the rest of the file to `bytes`.
  void ReadToEnd(std::string& bytes);

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  std::optional<std::size_t> size_;
};

// A file written as WriteAll writes it, the bytes handed over in pieces: a regular file is
// replaced only by Commit, so a writer that fails or is abandoned leaves the old file as it was.
// (Standard output and devices are written as the pieces come.)
class FileWriter {
 public:
  explicit FileWriter(const std::string& path, std::optional<mode_t> mode = std::nullopt);
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  void Write(std::string_view bytes);
  void Commit();

 private:
  class Temporary;
  enum class Kind { StandardOutput, InPlace, Replacing };
  std::string path_;
  std::string target_;
  Kind kind_ = Kind::Replacing;
  int descriptor_ = -1;  // the device written in place
  std::unique_ptr<Temporary> temporary_;
};
// A file is never left half-written: the bytes go to a new file beside it, which is synced and
// then renamed over it, so on any failure the old file (if any) is as it was and nothing else is
// left behind. A new file gets the permissions the umask allows, a replaced one keeps its own;
// with `mode` the file gets exactly that mode either way (files other users' programs read).
void WriteAll(const std::string& path, std::string_view bytes, std::optional<mode_t> mode = std::nullopt);

// Flushes standard output and checks it for errors, so that a failure to write what the command
// printed (a full disk, a closed pipe) ends it with an error rather than unnoticed.
void FlushStandardOutput();

}  // namespace quillbox::host
