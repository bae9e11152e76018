// Throwaway NSS databases for tests, built with the standard NSS tools (certutil, pk12util), and
// the standard test store that most certificate tests run against.
//
// A test program that uses the standard store registers StandardStoreEnvironment: it copies the
// store into a temporary directory and points QUILLBOX_NSS_DB at it before anything opens NSS,
// and at the end checks that NSS shuts down without a leaked certificate or key reference.
#pragma once

#include "support/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillbox::test {

struct CertificateRequest {
  std::string nickname;
  std::string subject;  // as certutil -s takes it: "CN=Test Signer,O=Example,C=SI"
  std::string issuer;   // nickname of the issuing certificate in the same database; empty: self-signed
  long serial = 1;      // certutil takes 1 to 2^31-1
};

class NssDatabase {
 public:
  // An empty database in a new temporary directory, protected by `password` when one is given.
  static NssDatabase Create(const std::string& password = {});
  // A copy of the database in `directory` (its password, if any, is `password`).
  static NssDatabase CopyOf(const std::string& directory, const std::string& password = {});

  const std::string& directory() const { return dir_.path(); }
  std::string location() const { return "sql:" + dir_.path(); }

  // A certificate with a new RSA-2048 key pair, self-signed or issued by `request.issuer`.
  void AddCertificate(const CertificateRequest& request);
  // A certificate without a private key, from a DER file.
  void ImportCertificate(const std::string& nickname, const std::string& derFile);
  void ImportPkcs12(const std::string& file, const std::string& filePassword);
  // Removes the certificate; its private key, if any, stays in the database.
  void DeleteCertificate(const std::string& nickname);
  void ExportPkcs12(const std::string& nickname, const std::string& file, const std::string& filePassword) const;
  void ExportDer(const std::string& nickname, const std::string& file) const;
  void ExportPem(const std::string& nickname, const std::string& file) const;

 private:
  explicit NssDatabase(const std::string& password);
  void WriteNoise() const;
  std::vector<std::string> Certutil(std::vector<std::string> args) const;
  void Require(const std::vector<std::string>& argv) const;

  TempDir dir_;
  std::string password_;
};

// What the standard store holds. Every certificate but kPublicOnly has its private key.
struct FixtureCertificate {
  const char* nickname;
  const char* subject;      // the subject as given to certutil
  const char* issuerText;   // the issuer's X.500 text, most specific name first
  const char* serialText;   // the serial's text, most significant byte first
};

namespace fixture {
// The issuing CA of kSigner, kSecond and kPublicOnly.
inline constexpr FixtureCertificate kCa{"ca", "CN=Quillbox Test CA,O=Example,C=SI",
                                        "CN=Quillbox Test CA, O=Example, C=SI", "01"};
// Stored serial bytes 0A FF 3C 01.
inline constexpr FixtureCertificate kSigner{"signer", "CN=Test Signer,O=Example,C=SI",
                                            "CN=Quillbox Test CA, O=Example, C=SI", "013CFF0A"};
// A serial whose most significant byte is 0.
inline constexpr FixtureCertificate kSecond{"second", "CN=Second Signer,OU=Signing,O=Example,C=SI",
                                            "CN=Quillbox Test CA, O=Example, C=SI", "008F00AB"};
// Non-ASCII subject and (self-signed) issuer; a one-byte serial.
inline constexpr FixtureCertificate kUnicode{"unicode", "CN=Čebelar Žan Šuštar,O=Društvo čebelarjev,C=SI",
                                             "CN=Čebelar Žan Šuštar, O=Društvo čebelarjev, C=SI", "05"};
// Two CAs whose names read the same but are encoded differently (PrintableString, UTF8String),
// and one certificate from each with the same serial: equal issuer and serial texts.
inline constexpr FixtureCertificate kTwinPrintable{"twin-printable", "CN=Twin CA", "CN=Twin CA", "64"};
inline constexpr FixtureCertificate kTwinUtf8{"twin-utf8", "CN=#0C075477696E204341", "CN=Twin CA", "65"};
inline constexpr FixtureCertificate kTwinLeafA{"twin-leaf-a", "CN=Twin Leaf A,O=Example,C=SI", "CN=Twin CA", "42"};
inline constexpr FixtureCertificate kTwinLeafB{"twin-leaf-b", "CN=Twin Leaf B,O=Example,C=SI", "CN=Twin CA", "42"};
// Issued by the CA, but its private key is not in the database.
inline constexpr FixtureCertificate kPublicOnly{"public-only", "CN=Public Only,O=Example,C=SI",
                                                "CN=Quillbox Test CA, O=Example, C=SI", "4D"};

inline constexpr FixtureCertificate kWithKeys[] = {kCa,        kSigner,       kSecond,    kUnicode, kTwinPrintable,
                                                   kTwinUtf8,  kTwinLeafA,    kTwinLeafB};
}  // namespace fixture

// A fresh copy of the standard store. The store itself is built once per build tree (key
// generation is slow) and shared by every test program through a cache beside the test fakes.
NssDatabase StandardStore();

// Points the component at `database` as its personal store, with no password file, before anything
// opens NSS.
void UseAsStore(const NssDatabase& database);
// At the end of a program: NSS shuts down, which it refuses while a certificate or key reference
// is still held.
void ExpectNssClosesCleanly();

class StandardStoreEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
  // The copy this program runs against.
  static const NssDatabase& Store();
};

}  // namespace quillbox::test
