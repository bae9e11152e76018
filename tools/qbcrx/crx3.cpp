#include "qbcrx/crx3.h"

#include <cstdint>

namespace qbcrx {
namespace {

// Protocol buffer fields of CrxFileHeader, AsymmetricKeyProof and SignedData.
constexpr std::uint32_t kSha256WithRsa = 2;
constexpr std::uint32_t kSignedHeaderData = 10000;
constexpr std::uint32_t kPublicKey = 1;
constexpr std::uint32_t kSignature = 2;
constexpr std::uint32_t kCrxId = 1;

void PutVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

// A length-delimited field (wire type 2): every field of these messages is bytes or a message.
void PutBytesField(std::string& out, std::uint32_t field, const std::string& bytes) {
  PutVarint(out, (static_cast<std::uint64_t>(field) << 3) | 2);
  PutVarint(out, bytes.size());
  out += bytes;
}

void PutLe32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

}  // namespace

std::string ExtensionId(const std::string& subjectPublicKeyInfo) {
  const std::string digest = Sha256(subjectPublicKeyInfo);
  std::string id;
  for (std::size_t i = 0; i < 16; ++i) {
    const auto byte = static_cast<unsigned char>(digest[i]);
    id += static_cast<char>('a' + (byte >> 4));
    id += static_cast<char>('a' + (byte & 0xF));
  }
  return id;
}

std::string PackCrx3(const std::string& zip, const RsaKey& key) {
  const std::string publicKey = key.SubjectPublicKeyInfo();
  std::string signedData;
  PutBytesField(signedData, kCrxId, Sha256(publicKey).substr(0, 16));

  std::string signedContent = "CRX3 SignedData";
  signedContent += '\0';  // the prefix includes its terminating NUL
  PutLe32(signedContent, static_cast<std::uint32_t>(signedData.size()));
  signedContent += signedData;
  signedContent += zip;

  std::string proof;
  PutBytesField(proof, kPublicKey, publicKey);
  PutBytesField(proof, kSignature, key.SignSha256(signedContent));
  std::string header;
  PutBytesField(header, kSha256WithRsa, proof);
  PutBytesField(header, kSignedHeaderData, signedData);

  std::string crx = "Cr24";
  PutLe32(crx, 3);
  PutLe32(crx, static_cast<std::uint32_t>(header.size()));
  crx += header;
  crx += zip;
  return crx;
}

}  // namespace qbcrx
