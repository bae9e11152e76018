// qbcrx, the Chromium extension packer, checked from outside: the container and header read by a
// parser of the test's own, the key, ID and signature checked with openssl, the archive read by
// Python's zipfile.
#include "host/command_runner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

namespace {

using quillbox::host::test::Result;
using quillbox::host::test::World;

const std::string kQbcrx = QBCRX_PATH;

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

std::uint64_t Varint(const std::string& bytes, std::size_t& at) {
  std::uint64_t value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    const auto byte = static_cast<unsigned char>(bytes.at(at++));
    value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return value;
  }
  throw std::runtime_error("varint too long");
}

// The length-delimited fields of a protocol buffer message, by field number; anything else (and
// a field twice) fails the test's parse, since the packer writes nothing else.
std::map<std::uint64_t, std::string> Fields(const std::string& message) {
  std::map<std::uint64_t, std::string> fields;
  for (std::size_t at = 0; at < message.size();) {
    const std::uint64_t key = Varint(message, at);
    if ((key & 7) != 2) throw std::runtime_error("not a length-delimited field");
    const std::uint64_t length = Varint(message, at);
    if (at + length > message.size()) throw std::runtime_error("field past the end");
    if (!fields.emplace(key >> 3, message.substr(at, length)).second) throw std::runtime_error("field twice");
    at += length;
  }
  return fields;
}

std::string Le32Bytes(std::uint32_t value) {
  std::string bytes;
  for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xFF);
  return bytes;
}

class CrxPack : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    world_ = std::make_unique<World>();
    const Result key = world_->Program("openssl", {"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                                                   "-out", world_->Path("key.pem")});
    ASSERT_EQ(key.status, 0) << key.err;
    const Result pub = world_->Program("openssl", {"pkey", "-in", world_->Path("key.pem"), "-pubout", "-outform",
                                                   "DER", "-out", world_->Path("pub.der")});
    ASSERT_EQ(pub.status, 0) << pub.err;
    ASSERT_EQ(world_->Program("openssl", {"pkey", "-in", world_->Path("key.pem"), "-pubout", "-out",
                                          world_->Path("pub.pem")}).status, 0);
  }
  static void TearDownTestSuite() { world_.reset(); }

  void SetUp() override {
    std::filesystem::create_directories(world_->Path("ext/js/lib"));
    world_->Write("ext/manifest.json", "{\"manifest_version\": 3, \"name\": \"t\", \"version\": \"1.0\"}");
    world_->Write("ext/js/page.js", "window.Quillbox = {};\n");
    world_->Write("ext/js/lib/empty.js", "");
    world_->Write("ext/b\xc5\xbe.txt", "a name that is not ASCII");
  }

  Result Pack(const std::string& output) const {
    return world_->ProgramWith(kQbcrx, {"--key", world_->Path("key.pem"), "--output", world_->Path(output),
                                        world_->Path("ext")}, {});
  }

  // Python's zipfile checks every entry's CRC and sizes and prints name and contents.
  Result ReadZip(const std::string& name) const {
    return world_->Program("python3", {"-c",
                                       "import sys, zipfile\n"
                                       "z = zipfile.ZipFile(sys.argv[1])\n"
                                       "assert z.testzip() is None\n"
                                       "for i in z.infolist(): print(i.filename, z.read(i).decode(), sep='=')\n",
                                       world_->Path(name)});
  }

  static inline std::unique_ptr<World> world_;
};

TEST_F(CrxPack, WritesASignedCrx3WithTheKeysId) {
  const Result packed = Pack("ext.crx");
  ASSERT_EQ(packed.status, 0) << packed.err;
  const std::string crx = world_->Read("ext.crx");
  ASSERT_GT(crx.size(), 12u);
  EXPECT_EQ(crx.substr(0, 4), "Cr24");
  EXPECT_EQ(Le32(crx, 4), 3u);
  const std::uint32_t headerSize = Le32(crx, 8);
  ASSERT_LE(12u + headerSize, crx.size());
  const std::string archive = crx.substr(12 + headerSize);

  const auto header = Fields(crx.substr(12, headerSize));
  ASSERT_EQ(header.size(), 2u);
  ASSERT_TRUE(header.contains(2));      // sha256_with_rsa
  ASSERT_TRUE(header.contains(10000));  // signed_header_data
  const auto proof = Fields(header.at(2));
  ASSERT_TRUE(proof.contains(1) && proof.contains(2));
  EXPECT_EQ(proof.at(1), world_->Read("pub.der"));

  // The ID is the first half of SHA-256 over the public key, in the letters a to p.
  world_->Write("digest.in", proof.at(1));
  const Result digest = world_->Program("openssl", {"dgst", "-sha256", "-r", world_->Path("digest.in")});
  ASSERT_EQ(digest.status, 0) << digest.err;
  std::string id;
  for (std::size_t i = 0; i < 32; ++i) {
    const char c = digest.out.at(i);
    id += static_cast<char>('a' + (c <= '9' ? c - '0' : c - 'a' + 10));
  }
  const auto signedData = Fields(header.at(10000));
  ASSERT_TRUE(signedData.contains(1));
  std::string crxIdHex;
  for (const char c : signedData.at(1)) {
    const auto byte = static_cast<unsigned char>(c);
    crxIdHex += static_cast<char>('a' + (byte >> 4));
    crxIdHex += static_cast<char>('a' + (byte & 0xF));
  }
  EXPECT_EQ(crxIdHex, id);
  const Result printed = world_->ProgramWith(kQbcrx, {"--key", world_->Path("key.pem"), "--print-id"}, {});
  EXPECT_EQ(printed.out, id + "\n") << printed.err;

  // The signature covers the fixed prefix, the signed header data and the archive.
  std::string content = "CRX3 SignedData";
  content += '\0';
  content += Le32Bytes(static_cast<std::uint32_t>(header.at(10000).size())) + header.at(10000) + archive;
  world_->Write("signed.bin", content);
  world_->Write("signature.bin", proof.at(2));
  const Result verified = world_->Program("openssl", {"dgst", "-sha256", "-verify", world_->Path("pub.pem"),
                                                      "-signature", world_->Path("signature.bin"),
                                                      world_->Path("signed.bin")});
  EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
  std::string tampered = content;
  tampered[tampered.size() - 30] ^= 1;
  world_->Write("tampered.bin", tampered);
  EXPECT_NE(world_->Program("openssl", {"dgst", "-sha256", "-verify", world_->Path("pub.pem"), "-signature",
                                        world_->Path("signature.bin"), world_->Path("tampered.bin")}).status, 0);

  // The archive holds every file under its path in the folder, sorted, directories implied.
  world_->Write("archive.zip", archive);
  const Result listed = ReadZip("archive.zip");
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out,
            "b\xc5\xbe.txt=a name that is not ASCII\n"
            "js/lib/empty.js=\n"
            "js/page.js=window.Quillbox = {};\n\n"
            "manifest.json={\"manifest_version\": 3, \"name\": \"t\", \"version\": \"1.0\"}\n");
}

TEST_F(CrxPack, TheSameFolderPacksToTheSameArchive) {
  ASSERT_EQ(Pack("one.crx").status, 0);
  ASSERT_EQ(Pack("two.crx").status, 0);
  const std::string one = world_->Read("one.crx");
  const std::string two = world_->Read("two.crx");
  const std::uint32_t headerSize = Le32(one, 8);
  // PKCS#1 v1.5 signatures are deterministic too, so the whole file repeats.
  EXPECT_EQ(one.substr(12 + headerSize), two.substr(12 + Le32(two, 8)));
  EXPECT_EQ(one, two);
}

TEST_F(CrxPack, RefusesWhatItCannotPack) {
  world_->Write("not-a-key.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
  const Result badKey = world_->ProgramWith(kQbcrx, {"--key", world_->Path("not-a-key.pem"), "--output",
                                                     world_->Path("x.crx"), world_->Path("ext")}, {});
  EXPECT_EQ(badKey.status, 1);
  EXPECT_NE(badKey.err.find("PRIVATE KEY"), std::string::npos) << badKey.err;
  EXPECT_FALSE(std::filesystem::exists(world_->Path("x.crx")));

  const Result noFolder = world_->ProgramWith(kQbcrx, {"--key", world_->Path("key.pem"), "--output",
                                                       world_->Path("x.crx"), world_->Path("missing")}, {});
  EXPECT_EQ(noFolder.status, 1);
  EXPECT_NE(noFolder.err.find("missing is not a directory"), std::string::npos) << noFolder.err;

  std::filesystem::create_symlink("/etc/passwd", world_->Path("ext/escape"));
  const Result link = Pack("x.crx");
  std::filesystem::remove(world_->Path("ext/escape"));
  EXPECT_EQ(link.status, 1);
  EXPECT_NE(link.err.find("symbolic link"), std::string::npos) << link.err;
  EXPECT_FALSE(std::filesystem::exists(world_->Path("x.crx")));

  EXPECT_EQ(world_->ProgramWith(kQbcrx, {"--output", world_->Path("x.crx")}, {}).status, 2);
}

}  // namespace
