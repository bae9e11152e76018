// Certificates as an ordinary certificate authority issues them, made with the openssl command:
// a root CA (and intermediates under it) issuing RSA-2048 end-entity certificates with any serial
// (20 random bytes unless one is given, as openssl's own default), any validity window (expired,
// not yet valid) and optional key usage, handed over as PEM files and as PKCS#12, the way users
// receive them.
#pragma once

#include "support/nss_store.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace quillbox::test {

// A time as `openssl ca -startdate/-enddate` takes it (YYYYMMDDHHMMSSZ, UTC), `offset` from now
// (std::chrono::days converts).
std::string OpensslTimeFromNow(std::chrono::seconds offset);

struct IssueRequest {
  std::string subject;    // as openssl -subj takes it, most general first: "/C=SI/O=Example/CN=Signer"
  std::string serialHex;  // the serial's hexadecimal digits; empty: 20 random bytes, top bit clear
  std::string notBefore;  // OpensslTimeFromNow form; empty: a day ago
  std::string notAfter;   // empty: a year from now
  std::string keyUsage;   // an openssl keyUsage value ("critical,digitalSignature"); empty: none
};

struct IssuedCertificate {
  std::string certificatePem;  // file paths in the authority's directory
  std::string keyPem;
  std::string serialHex;  // as given or drawn, upper case
};

class OpensslCa {
 public:
  // A self-signed root CA with a new key, in a temporary directory of its own.
  explicit OpensslCa(const std::string& subject = "/C=SI/O=Quillbox Tests/CN=Quillbox Test Root CA");
  OpensslCa(OpensslCa&&) = default;

  // A CA certified by this one, issuing in a directory of its own.
  OpensslCa Intermediate(const std::string& subject);
  // An end-entity certificate with a new RSA-2048 key.
  IssuedCertificate Issue(const IssueRequest& request);

  const std::string& certificatePem() const { return certificatePem_; }
  // This CA's certificate and those above it, the nearest first (PEM text).
  const std::string& chainPem() const { return chainPem_; }

  // `issued` with its key and this CA's chain as PKCS#12, protected by `password`; returns the path.
  std::string ExportPkcs12(const IssuedCertificate& issued, const std::string& nickname,
                           const std::string& password) const;
  // Imports `issued` (key and chain) into `database` under `nickname`, as pk12util does.
  void ImportInto(NssDatabase& database, const IssuedCertificate& issued, const std::string& nickname) const;

 private:
  struct EmptyBooks {};
  // The directory and books of a CA that has no certificate yet.
  explicit OpensslCa(EmptyBooks);
  // Signs a new key's request with this CA (or the request's own key for `selfSigned`).
  IssuedCertificate Sign(const IssueRequest& request, const std::string& extensions, bool selfSigned = false);

  TempDir dir_;
  int issued_ = 0;
  std::string certificatePem_;
  std::string keyPem_;
  std::string chainPem_;
};

// The certificate's DER bytes, as the store hands them back.
std::string DerOf(const IssuedCertificate& issued);

// The environment of a test program whose store is what an openssl CA issued: SetUp makes an empty
// database, lets Fill issue into it and points the component at it before anything opens NSS;
// TearDown expects NSS to close cleanly, then drops the database.
class CaIssuedStoreEnvironment : public ::testing::Environment {
 public:
  void SetUp() final;
  void TearDown() final;

 protected:
  virtual void Fill(NssDatabase& database) = 0;

 private:
  std::unique_ptr<NssDatabase> database_;
};

}  // namespace quillbox::test
