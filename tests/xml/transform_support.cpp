#include "xml/transform_support.h"

#include "common/bstr.h"
#include "xml/xml_text.h"
#include "support/bstr_helpers.h"

#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxslt/imports.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quillbox::test {

TransformOutcome RunTransform(Signature& object, const std::optional<std::u16string>& xsl) {
  UniqueBstr stylesheet;
  if (xsl) stylesheet = UniqueBstr::Copy(*xsl);
  BSTR tml = nullptr;
  TransformOutcome outcome;
  if (object.Transform(stylesheet.get(), &tml) != S_OK) throw std::runtime_error("Transform did not return S_OK");
  outcome.tml = Take(tml);
  object.get_ErrorNo(&outcome.errorNo);
  BSTR text = nullptr;
  object.get_ErrorStr(&text);
  outcome.errorStr = Take(text);
  text = nullptr;
  object.get_ErrorDesc(&text);
  outcome.errorDesc = Take(text);
  return outcome;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

DirectoryWatch::DirectoryWatch(const std::string& directory) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) throw std::runtime_error("inotify_init1 failed");
  constexpr uint32_t kAnyUse = IN_OPEN | IN_ACCESS | IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO;
  if (inotify_add_watch(fd_, directory.c_str(), kAnyUse) < 0) throw std::runtime_error("inotify_add_watch failed");
}

DirectoryWatch::~DirectoryWatch() { close(fd_); }

std::vector<std::string> DirectoryWatch::Touched() {
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      // An event of the directory itself (listing it) has no name; only its entries count.
      if (event->len > 0 && event->name[0] != '\0') names.emplace_back(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return names;
}

LoopbackListener::LoopbackListener() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd_, 8) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error("cannot listen on the loopback interface");
  }
  port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() { close(fd_); }

std::string LoopbackListener::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

bool LoopbackListener::Contacted() {
  const int peer = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (peer < 0) return false;
  close(peer);
  return true;
}

StderrCapture::StderrCapture() {
  std::fflush(stderr);
  saved_ = dup(STDERR_FILENO);
  const int file = open(dir_.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (saved_ < 0 || file < 0) throw std::runtime_error("cannot capture stderr");
  dup2(file, STDERR_FILENO);
  close(file);
}

void StderrCapture::Restore() noexcept {
  if (finished_) return;
  std::fflush(stderr);
  dup2(saved_, STDERR_FILENO);
  close(saved_);
  finished_ = true;
}

std::string StderrCapture::Finish() {
  Restore();
  return ReadBytes(dir_.File("stderr"));
}

// Only stderr needs putting back; what was captured is of no use to anyone by now.
StderrCapture::~StderrCapture() { Restore(); }

std::optional<std::string> Xsltproc(const std::string& stylesheet, const std::string& document) {
  const std::string command = "xsltproc '" + stylesheet + "' '" + document + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string output;
  char chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
  const int status = pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return output;
}

namespace {

void Ignore(void* /*context*/, const char* /*message*/, ...) {}

std::string CompiledOutputEncoding(const std::string& stylesheet) {
  xsltSetGenericErrorFunc(nullptr, Ignore);
  xmlSetGenericErrorFunc(nullptr, Ignore);
  xsltStylesheetPtr style = xsltParseStylesheetFile(reinterpret_cast<const xmlChar*>(stylesheet.c_str()));
  std::string name;
  if (style != nullptr) {
    const xmlChar* encoding = nullptr;
    XSLT_GET_IMPORT_PTR(encoding, style, encoding)
    if (encoding != nullptr) name = reinterpret_cast<const char*>(encoding);
    xsltFreeStylesheet(style);
  }
  xsltSetGenericErrorFunc(nullptr, nullptr);
  xmlSetGenericErrorFunc(nullptr, nullptr);
  return name;
}

}  // namespace

std::optional<std::u16string> XsltprocText(const std::string& bytes, const std::string& stylesheet) {
  const std::string encoding = CompiledOutputEncoding(stylesheet);
  return Take(SerializedXmlToBstr(reinterpret_cast<const xmlChar*>(bytes.data()), static_cast<int>(bytes.size()),
                                  encoding.empty() ? nullptr : reinterpret_cast<const xmlChar*>(encoding.c_str())));
}

std::optional<std::string> CanonicalTree(const std::string& bytes, bool ignoreDeclaredEncoding) {
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | (ignoreDeclaredEncoding ? XML_PARSE_IGNORE_ENC : 0);
  xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "compared.xml",
                                ignoreDeclaredEncoding ? "UTF-8" : nullptr, options);
  if (doc == nullptr) return std::nullopt;
  xmlChar* canonical = nullptr;
  const int size = xmlC14NDocDumpMemory(doc, nullptr, XML_C14N_1_0, nullptr, 1, &canonical);
  xmlFreeDoc(doc);
  if (size < 0 || canonical == nullptr) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(canonical), static_cast<std::size_t>(size));
  xmlFree(canonical);
  return text;
}

std::string XmlDeclaration(const std::string& text) {
  if (!text.starts_with("<?xml ")) return "";
  const auto end = text.find("?>");
  return end == std::string::npos ? "" : text.substr(0, end + 2);
}

}  // namespace quillbox::test
