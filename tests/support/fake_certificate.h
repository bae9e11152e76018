// A certificate context made by hand: only the fields the text forms read are filled.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <vector>

namespace quillbox::test {

class FakeCertificate {
 public:
  FakeCertificate(std::vector<BYTE> issuer, std::vector<BYTE> serialLittleEndian)
      : issuer_(std::move(issuer)), serial_(std::move(serialLittleEndian)) {
    info_.Issuer = {static_cast<DWORD>(issuer_.size()), issuer_.empty() ? nullptr : issuer_.data()};
    info_.SerialNumber = {static_cast<DWORD>(serial_.size()), serial_.empty() ? nullptr : serial_.data()};
    context_.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    context_.pCertInfo = &info_;
  }
  FakeCertificate(const FakeCertificate&) = delete;
  FakeCertificate& operator=(const FakeCertificate&) = delete;

  PCCERT_CONTEXT get() const { return &context_; }

 private:
  std::vector<BYTE> issuer_;
  std::vector<BYTE> serial_;
  CERT_INFO info_{};
  CERT_CONTEXT context_{};
};

}  // namespace quillbox::test
