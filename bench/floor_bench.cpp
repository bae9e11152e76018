// The floor: the least a program of our own can do to make the same signature on the same
// libraries (libxml2, xmlsec with its NSS back end). The libraries are started once and the key
// is built once; each iteration parses the document text, builds the template, signs and
// serialises, which is the work Sign cannot avoid.
//
// QB_BENCH_NSS_DB names the database (sql:DIR) and QB_BENCH_NICKNAME the signer.
#include "bench/bench_support.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <xmlsec/xmlsec.h>

#include <xmlsec/crypto.h>
#include <xmlsec/nss/app.h>
#include <xmlsec/nss/crypto.h>
#include <xmlsec/nss/pkikeys.h>
#include <xmlsec/nss/x509.h>
#include <xmlsec/templates.h>
#include <xmlsec/xmldsig.h>

#include <cert.h>
#include <keyhi.h>
#include <nss.h>
#include <pk11pub.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>

namespace quillbox::bench {
namespace {

struct DocFreer {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using UniqueDoc = std::unique_ptr<xmlDoc, DocFreer>;
struct KeyFreer {
  void operator()(xmlSecKeyPtr key) const { xmlSecKeyDestroy(key); }
};
using UniqueKey = std::unique_ptr<xmlSecKey, KeyFreer>;
struct XmlCharsFreer {
  void operator()(xmlChar* text) const { xmlFree(text); }
};
using UniqueXmlChars = std::unique_ptr<xmlChar, XmlCharsFreer>;

// NSS on the benchmark database and xmlsec on top of it, for the life of the program.
class Libraries {
 public:
  Libraries() {
    xmlInitParser();
    if (NSS_Init(RequiredEnv("QB_BENCH_NSS_DB").c_str()) != SECSuccess) throw std::runtime_error("NSS_Init failed");
    if (xmlSecInit() < 0 || xmlSecNssInit() < 0) throw std::runtime_error("xmlsec start failed");
  }
  ~Libraries() {
    xmlSecNssShutdown();
    xmlSecShutdown();
    NSS_Shutdown();
  }
  Libraries(const Libraries&) = delete;
  Libraries& operator=(const Libraries&) = delete;
};

struct CertFreer {
  void operator()(CERTCertificate* cert) const { CERT_DestroyCertificate(cert); }
};
struct PrivateKeyFreer {
  void operator()(SECKEYPrivateKey* key) const { SECKEY_DestroyPrivateKey(key); }
};
struct PublicKeyFreer {
  void operator()(SECKEYPublicKey* key) const { SECKEY_DestroyPublicKey(key); }
};
struct KeyDataFreer {
  void operator()(xmlSecKeyDataPtr data) const { xmlSecKeyDataDestroy(data); }
};

// The signer's private key with its certificate attached, so the signature carries it. Each
// piece is owned here until the key takes it over.
UniqueKey BuildKey() {
  std::unique_ptr<CERTCertificate, CertFreer> cert(
      CERT_FindCertByNickname(CERT_GetDefaultCertDB(), RequiredEnv("QB_BENCH_NICKNAME").c_str()));
  if (!cert) throw std::runtime_error("no such certificate");
  std::unique_ptr<SECKEYPrivateKey, PrivateKeyFreer> privateKey(PK11_FindKeyByAnyCert(cert.get(), nullptr));
  std::unique_ptr<SECKEYPublicKey, PublicKeyFreer> publicKey(CERT_ExtractPublicKey(cert.get()));
  if (!privateKey || !publicKey) throw std::runtime_error("no key pair for the certificate");

  UniqueKey key(xmlSecKeyCreate());
  std::unique_ptr<xmlSecKeyData, KeyDataFreer> value(xmlSecNssPKIAdoptKey(privateKey.get(), publicKey.get()));
  if (!key || !value) throw std::runtime_error("cannot make the key value");
  privateKey.release();
  publicKey.release();
  if (xmlSecKeySetValue(key.get(), value.get()) < 0) throw std::runtime_error("cannot set the key value");
  value.release();

  std::unique_ptr<xmlSecKeyData, KeyDataFreer> x509(xmlSecKeyDataCreate(xmlSecNssKeyDataX509Id));
  if (!x509 || xmlSecNssKeyDataX509AdoptKeyCert(x509.get(), cert.get()) < 0)
    throw std::runtime_error("cannot attach the certificate");
  cert.release();
  if (xmlSecKeyAdoptData(key.get(), x509.get()) < 0) throw std::runtime_error("cannot attach the certificate");
  x509.release();
  return key;
}

// Parse, template, sign, serialise; the signed text, or empty on failure.
std::string SignOnce(const std::string& text, xmlSecKeyPtr key) {
  UniqueDoc doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), "noname.xml", nullptr, 0));
  if (!doc || xmlDocGetRootElement(doc.get()) == nullptr) return {};
  xmlNodePtr signature =
      xmlSecTmplSignatureCreate(doc.get(), xmlSecTransformInclC14NId, xmlSecTransformRsaSha1Id, nullptr);
  xmlAddChild(xmlDocGetRootElement(doc.get()), signature);
  xmlNodePtr reference = xmlSecTmplSignatureAddReference(signature, xmlSecTransformSha1Id, nullptr,
                                                         reinterpret_cast<const xmlChar*>(""), nullptr);
  xmlSecTmplReferenceAddTransform(reference, xmlSecTransformEnvelopedId);
  xmlSecTmplX509DataAddCertificate(xmlSecTmplKeyInfoAddX509Data(xmlSecTmplSignatureEnsureKeyInfo(signature, nullptr)));

  xmlSecDSigCtx context;
  if (xmlSecDSigCtxInitialize(&context, nullptr) < 0) return {};
  context.signKey = key;
  const int status = xmlSecDSigCtxSign(&context, signature);
  context.signKey = nullptr;
  xmlSecDSigCtxFinalize(&context);
  if (status < 0) return {};

  xmlChar* bytes = nullptr;
  int size = 0;
  xmlDocDumpFormatMemory(doc.get(), &bytes, &size, 0);
  const UniqueXmlChars dumped(bytes);
  return dumped ? std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size)) : std::string();
}

void SignDocument(benchmark::State& state, xmlSecKeyPtr key, Document document) {
  const std::string text = ReadWholeFile(document.path);
  std::string signedText;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    signedText = SignOnce(text, key);
    const auto stop = std::chrono::steady_clock::now();
    if (signedText.empty()) {
      state.SkipWithError("signing failed");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  WriteWholeFile(RequiredEnv("QB_BENCH_OUT") + "/floor-" + document.label + ".xml", signedText);
}

int Run(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const Libraries libraries;
  const UniqueKey key = BuildKey();
  for (const Document& document : DocumentsFromEnv()) {
    const std::size_t bytes = ReadWholeFile(document.path).size();
    benchmark::RegisterBenchmark(("Sign/floor/" + document.label).c_str(), SignDocument, key.get(), document)
        ->UseManualTime()
        ->Iterations(IterationsFor(bytes))
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::ClearRegisteredBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace
}  // namespace quillbox::bench

int main(int argc, char** argv) {
  try {
    return quillbox::bench::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillbox-bench-floor: %s\n", e.what());
    return 2;
  }
}
