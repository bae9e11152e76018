#include "signing/verifier.h"

#include "support/process.h"

#include <libxml/encoding.h>
#include <libxml/tree.h>

#include <memory>
#include <stdexcept>

namespace quillbox::test {
namespace {

struct BufferDeleter {
  void operator()(xmlBufferPtr buffer) const { xmlBufferFree(buffer); }
};
using UniqueBuffer = std::unique_ptr<xmlBuffer, BufferDeleter>;

std::string Encode(const std::string& utf8, const std::string& encoding) {
  if (encoding.empty()) return utf8;
  xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(encoding.c_str());
  if (handler == nullptr) throw std::runtime_error("no encoder for " + encoding);
  UniqueBuffer in(xmlBufferCreateStatic(const_cast<char*>(utf8.data()), utf8.size()));
  UniqueBuffer out(xmlBufferCreate());
  const int written = xmlCharEncOutFunc(handler, out.get(), in.get());
  xmlCharEncCloseFunc(handler);
  if (written < 0) throw std::runtime_error("cannot encode the document in " + encoding);
  return std::string(reinterpret_cast<const char*>(xmlBufferContent(out.get())),
                     static_cast<std::size_t>(xmlBufferLength(out.get())));
}

}  // namespace

Verification VerifyWithXmlsec1(const std::string& signedDocument, const std::string& signerPemFile,
                               const std::string& encoding, int signatureIndex) {
  TempDir dir("quillbox-verify");
  WriteFile(dir / "signed.xml", Encode(signedDocument, encoding));
  const std::string node = "(//*[local-name()='Signature' and namespace-uri()='http://www.w3.org/2000/09/xmldsig#'])[" +
                           std::to_string(signatureIndex) + "]";
  const CommandResult result = RunCommand({"xmlsec1", "--verify", "--crypto", "openssl", "--pubkey-cert-pem", signerPemFile,
                                           "--enabled-key-data", "rsa",
                                           "--node-xpath", node, dir / "signed.xml"});
  return {result.status == 0, result.output};
}

}  // namespace quillbox::test
