// Helpers for the Transform tests: running a Transform and reading back every outcome, temporary
// directories, watching a directory and a port for any access, running xsltproc, and comparing
// documents as trees.
#pragma once

#include "component/signature.h"
#include "support/temp_dir.h"
#include "support/utf_text.h"

#include <optional>
#include <string>
#include <vector>

namespace quillbox::test {

// Everything a script can read after one Transform.
struct TransformOutcome {
  std::optional<std::u16string> tml;
  LONG errorNo = -1;
  std::optional<std::u16string> errorStr;
  std::optional<std::u16string> errorDesc;
};

// Runs Transform with `xsl` (nullopt: a null BSTR) on `object` as it is.
TransformOutcome RunTransform(Signature& object, const std::optional<std::u16string>& xsl);

bool Exists(const std::string& path);
std::string ReadBytes(const std::string& path);

// Reports every entry of a directory that anyone opened, read, created or changed after the
// watch began.
class DirectoryWatch {
 public:
  explicit DirectoryWatch(const std::string& directory);
  ~DirectoryWatch();
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;
  std::vector<std::string> Touched();

 private:
  int fd_ = -1;
};

// A TCP port on the loopback interface that records whether anyone connected to it.
class LoopbackListener {
 public:
  LoopbackListener();
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  int port() const { return port_; }
  std::string Url(const std::string& path) const;
  bool Contacted();

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Collects what is written to the process's stderr while it lives.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  std::string Finish();

 private:
  void Restore() noexcept;

  TempDir dir_;
  int saved_ = -1;
  bool finished_ = false;
};

// xsltproc's output bytes for the stylesheet and document files; nullopt when it fails.
std::optional<std::string> Xsltproc(const std::string& stylesheet, const std::string& document);

// xsltproc's output bytes for `stylesheet` (a file) read as characters: decoded from the output
// encoding that libxslt compiles from the stylesheet, imports included. Nullopt when they do not
// decode.
std::optional<std::u16string> XsltprocText(const std::string& bytes, const std::string& stylesheet);

// Canonical XML (inclusive 1.0, comments kept) of a document, as a comparable text. `bytes` are
// read in the encoding their declaration names; text that was already decoded into a string is
// given as UTF-8 with `ignoreDeclaredEncoding`. Nullopt when it does not parse.
std::optional<std::string> CanonicalTree(const std::string& bytes, bool ignoreDeclaredEncoding);

// The XML declaration at the start of a serialised document, or "" when there is none.
std::string XmlDeclaration(const std::string& text);

}  // namespace quillbox::test
