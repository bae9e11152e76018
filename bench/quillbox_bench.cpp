// Quillbox as a script drives it: Sign and Transform through IDispatch, and one property get
// through Invoke against the same get through the interface's vtable.
//
//   quillbox-bench [benchmark flags]     the micro benchmarks (inputs from QB_BENCH_* variables)
//   quillbox-bench --sign-once DOC OUT   one Sign of DOC into OUT, for peak-memory measurement
#include "bench/bench_support.h"
#include "bench/com_client.h"
#include "certs/text_forms.h"
#include "common/bstr_owner.h"

#include <quillbox_h.h>
#include <wincrypt.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string_view>

namespace quillbox::bench {
namespace {

struct SignerIdentity {
  std::string issuer;
  std::string serial;
};

// The text forms of the one certificate in the benchmark store, as ShowCertsDlg would record them.
SignerIdentity StoreSigner() {
  HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
  if (store == nullptr) throw std::runtime_error("cannot open the benchmark store");
  PCCERT_CONTEXT certificate = CertEnumCertificatesInStore(store, nullptr);
  if (certificate == nullptr) throw std::runtime_error("the benchmark store is empty");
  BSTR issuer = IssuerNameText(certificate);
  BSTR serial = SerialNumberText(certificate);
  SignerIdentity identity{BstrToUtf8String(issuer), BstrToUtf8String(serial)};
  SysFreeString(issuer);
  SysFreeString(serial);
  CertFreeCertificateContext(certificate);
  CertCloseStore(store, 0);
  return identity;
}


class Signer {
 public:
  Signer(const RegisteredComponent& component, const SignerIdentity& identity)
      : object_(component.Create()), xmlDoc_(object_.Id(u"XmlDoc")), sign_(object_.Id(u"Sign")) {
    object_.PutShort(u"CertFindOption", 0);
    object_.PutText(u"CertIssuerName", identity.issuer);
    object_.PutText(u"CertSerial", identity.serial);
  }

  void SetDocument(BSTR document) const {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocStringLen(document, SysStringLen(document));
    object_.Put(xmlDoc_, value);
  }
  // The Sign call alone; true when it reported success.
  bool Sign() const {
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = object_.Call(sign_, &result);
    return hr == S_OK && result.vt == VT_BOOL && result.boolVal == VARIANT_TRUE;
  }
  std::string Document() const { return object_.Text(u"XmlDoc"); }
  std::string Error() const { return object_.Text(u"ErrorStr") + ": " + object_.Text(u"ErrorDesc"); }
  const DispatchObject& object() const { return object_; }

 private:
  DispatchObject object_;
  DISPID xmlDoc_;
  DISPID sign_;
};

struct Fixture {
  RegisteredComponent component;
  SignerIdentity identity = StoreSigner();
};

void SignDocument(benchmark::State& state, const Fixture* fixture, Document document) {
  const Signer signer(fixture->component, fixture->identity);
  const UniqueBstr text(Utf8ToBstr(ReadWholeFile(document.path)));
  for (auto _ : state) {
    signer.SetDocument(text.get());
    const auto start = std::chrono::steady_clock::now();
    const bool signedOk = signer.Sign();
    const auto stop = std::chrono::steady_clock::now();
    if (!signedOk) {
      state.SkipWithError(signer.Error().c_str());
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  WriteWholeFile(RequiredEnv("QB_BENCH_OUT") + "/quillbox-" + document.label + ".xml", signer.Document());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(SysStringLen(text.get())));
}

void TransformDocument(benchmark::State& state, const Fixture* fixture, std::string docPath, std::string xslPath) {
  const Signer holder(fixture->component, fixture->identity);
  {
    const UniqueBstr text(Utf8ToBstr(ReadWholeFile(docPath)));
    holder.SetDocument(text.get());
  }
  const DISPID transform = holder.object().Id(u"Transform");
  std::string output;
  for (auto _ : state) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = Utf8ToBstr(ReadWholeFile(xslPath));
    VARIANT result;
    VariantInit(&result);
    const auto start = std::chrono::steady_clock::now();
    const HRESULT hr = holder.object().Call(transform, &result, &arg, 1);
    const auto stop = std::chrono::steady_clock::now();
    VariantClear(&arg);
    if (hr != S_OK || result.vt != VT_BSTR || SysStringLen(result.bstrVal) == 0) {
      VariantClear(&result);
      state.SkipWithError(("Transform failed: " + holder.object().Text(u"ErrorStr")).c_str());
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    output = BstrToUtf8String(result.bstrVal);
    VariantClear(&result);
  }
  WriteWholeFile(RequiredEnv("QB_BENCH_OUT") + "/transform-quillbox.out", output);
}

// What a script pays for one property read against a compiled client calling the slot directly.
void InvokePropertyGet(benchmark::State& state, const Fixture* fixture) {
  const DispatchObject object(fixture->component.Create());
  const DISPID id = object.Id(u"CertFindOption");
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    benchmark::DoNotOptimize(object.get()->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    benchmark::DoNotOptimize(result.iVal);
  }
}

void VtablePropertyGet(benchmark::State& state, const Fixture* fixture) {
  const DispatchObject object(fixture->component.Create());
  ISignature* signature = nullptr;
  if (object.get()->QueryInterface(IID_ISignature, reinterpret_cast<void**>(&signature)) != S_OK) {
    state.SkipWithError("no ISignature");
    return;
  }
  for (auto _ : state) {
    SHORT value = -1;
    benchmark::DoNotOptimize(signature->get_CertFindOption(&value));
    benchmark::DoNotOptimize(value);
  }
  signature->Release();
}

int SignOnce(const char* docPath, const char* outPath) {
  Fixture fixture;
  const Signer signer(fixture.component, fixture.identity);
  {
    const UniqueBstr text(Utf8ToBstr(ReadWholeFile(docPath)));
    signer.SetDocument(text.get());
  }
  if (!signer.Sign()) {
    std::fprintf(stderr, "Sign failed: %s\n", signer.Error().c_str());
    return 1;
  }
  WriteWholeFile(outPath, signer.Document());
  return 0;
}

int RunBenchmarks(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const Fixture fixture;
  for (const Document& document : DocumentsFromEnv()) {
    const std::size_t bytes = ReadWholeFile(document.path).size();
    benchmark::RegisterBenchmark(("Sign/quillbox/" + document.label).c_str(), SignDocument, &fixture, document)
        ->UseManualTime()
        ->Iterations(IterationsFor(bytes))
        ->Unit(benchmark::kMillisecond);
  }
  if (const char* doc = std::getenv("QB_BENCH_TRANSFORM_DOC"); doc != nullptr && *doc != '\0') {
    benchmark::RegisterBenchmark("Transform/quillbox", TransformDocument, &fixture, std::string(doc),
                                 RequiredEnv("QB_BENCH_XSL"))
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("PropertyGet/invoke", InvokePropertyGet, &fixture);
  benchmark::RegisterBenchmark("PropertyGet/vtable", VtablePropertyGet, &fixture);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace
}  // namespace quillbox::bench

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::string_view(argv[1]) == "--sign-once") return quillbox::bench::SignOnce(argv[2], argv[3]);
    return quillbox::bench::RunBenchmarks(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillbox-bench: %s\n", e.what());
    return 2;
  }
}
