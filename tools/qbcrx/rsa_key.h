// The extension's RSA key, through NSS (already a dependency of the product): its public half
// as a DER SubjectPublicKeyInfo, which the browser hashes into the extension's ID, and
// RSASSA-PKCS1-v1_5 SHA-256 signatures with the private half.
#pragma once

#include <memory>
#include <string>

namespace qbcrx {

class RsaKey {
 public:
  // `pem` is a PKCS#8 "PRIVATE KEY" in PEM, as openssl genpkey writes it. Throws
  // std::runtime_error when it is not one.
  static RsaKey FromPem(const std::string& pem);
  ~RsaKey();
  RsaKey(RsaKey&&) noexcept;
  RsaKey& operator=(RsaKey&&) = delete;
  RsaKey(const RsaKey&) = delete;
  RsaKey& operator=(const RsaKey&) = delete;

  std::string SubjectPublicKeyInfo() const;
  std::string SignSha256(const std::string& data) const;

 private:
  struct Handles;
  explicit RsaKey(std::unique_ptr<Handles> handles);
  std::unique_ptr<Handles> handles_;
};

std::string Sha256(const std::string& data);

}  // namespace qbcrx
