// The component as a guest in its host's process: the host's own libxml2 and libxslt behave the
// same before and after Signs and Transforms and after the module is unloaded, and objects on
// several apartment threads sign and transform at the same time.
#include "hostile/scripted_signature.h"
#include "hostile/signer_store.h"
#include "hostile/texts.h"
#include "support/temp_dir.h"
#include "support/temp_registry.h"

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxslt/documents.h>
#include <libxslt/security.h>
#include <libxslt/xslt.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace quillbox::test {
namespace {

// What of the libraries' process-wide state the host relies on.
struct HostLibraryState {
  xmlExternalEntityLoader entityLoader = xmlGetExternalEntityLoader();
  int substituteEntities = xmlSubstituteEntitiesDefaultValue;
  int loadExtDtd = xmlLoadExtDtdDefaultValue;
  int indentTreeOutput = xmlIndentTreeOutput;
  int keepBlanks = xmlKeepBlanksDefaultValue;
  xmlGenericErrorFunc genericError = xmlGenericError;
  xmlStructuredErrorFunc structuredError = xmlStructuredError;
  xsltDocLoaderFunc documentLoader = xsltDocDefaultLoader;
  xsltSecurityPrefsPtr securityPrefs = xsltGetDefaultSecurityPrefs();
  int maxDepth = xsltMaxDepth;
  bool operator==(const HostLibraryState&) const = default;
};

// The host parses a document of its own that names a local file as an external entity, with
// the process's defaults, as a host's code does without thinking about them.
class HostDocument {
 public:
  HostDocument() {
    std::ofstream(directory_ / "secret.txt") << "the host's secret";
    std::ofstream(directory_ / "page.xml")
        << "<!DOCTYPE r [<!ENTITY x SYSTEM 'file://" << (directory_ / "secret.txt")
        << "'>]><r>&x;</r>";
  }
  std::string Parse() const {
    xmlDocPtr doc = xmlReadFile((directory_ / "page.xml").c_str(), nullptr, XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr) return "<no document>";
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &text, &size);
    std::string out(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
    xmlFree(text);
    xmlFreeDoc(doc);
    return out;
  }

 private:
  TempDir directory_;
};

using Guest = ScriptedSignature;

TEST_F(Guest, TheHostsOwnLibrariesAreAsItLeftThemAfterSignTransformAndUnloading) {
  const HostLibraryState before;
  const HostDocument page;
  const std::string parsedBefore = page.Parse();
  ASSERT_EQ(parsedBefore.find("the host's secret"), std::string::npos) << parsedBefore;

  ExpectSignedBySigner(SignAdvanced(u"<form><a>1</a></form>"));
  ASSERT_EQ(PutText(u"XmlDoc", u"<form><a>1</a></form>"), S_OK);
  EXPECT_FALSE(TransformText(kCopyDocument).empty());
  EXPECT_EQ(ErrorNo(), 0);
  EXPECT_TRUE(HostLibraryState() == before) << "a call left a setting or hook of the XML libraries changed";
  EXPECT_EQ(page.Parse(), parsedBefore);

  object_->Release();
  object_ = nullptr;
  ExpectModuleCanUnload(module_);
  FreeLibrary(module_);
  module_ = nullptr;
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ModuleMapped());
  // Nothing points into the unloaded module: the host's parse runs as it did before.
  EXPECT_TRUE(HostLibraryState() == before);
  EXPECT_EQ(page.Parse(), parsedBefore);
}

// What the objects of one thread got right.
struct RoundCounts {
  std::atomic<int> signedCount = 0;
  std::atomic<int> transformedCount = 0;
};

// One round on an object of this thread's apartment: the signer signs the thread's own document,
// which a Transform then copies. Each step that gives the right result is counted.
void SignAndTransform(IDispatch* object, int thread, RoundCounts& counts) {
  Script script(object);
  const std::u16string document = u"<form thread='" + std::u16string(1, static_cast<char16_t>(u'0' + thread)) + u"'><a>1</a></form>";
  script.Put(u"CertFindOption", MakeI4(1));
  script.PutText(u"CertSubject", u"Test Signer");
  script.PutText(u"XmlDoc", document);
  VARIANT ok;
  VariantInit(&ok);
  if (script.Call(u"Sign", DISPATCH_METHOD, nullptr, 0, &ok) == S_OK && ok.vt == VT_BOOL && ok.boolVal == VARIANT_TRUE &&
      script.Text(u"XmlDoc").find(u"</Signature></form>") != std::u16string::npos) {
    ++counts.signedCount;
  }
  script.PutText(u"XmlDoc", document);
  VARIANT xsl;
  VariantInit(&xsl);
  xsl.vt = VT_BSTR;
  xsl.bstrVal = SysAllocStringLen(kCopyDocument.data(), static_cast<UINT>(kCopyDocument.size()));
  VARIANT result;
  VariantInit(&result);
  if (script.Call(u"Transform", DISPATCH_METHOD, &xsl, 1, &result) == S_OK && result.vt == VT_BSTR &&
      std::u16string(result.bstrVal, SysStringLen(result.bstrVal)).find(u"thread=\"") != std::u16string::npos) {
    ++counts.transformedCount;
  }
  VariantClear(&result);
  VariantClear(&xsl);
}

constexpr int kThreads = 4;
constexpr int kRounds = 5;

// Runs `body(t)` on kThreads apartment threads at once and waits for them all.
template <typename Body>
void OnApartmentThreads(Body body) {
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&body, t] {
      if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return;
      body(t);
      CoUninitialize();
    });
  }
  for (std::thread& thread : threads) thread.join();
}

TEST_F(Guest, ObjectsOnSeveralThreadsSignAndTransformAtOnce) {
  RoundCounts counts;
  OnApartmentThreads([&](int t) {
    IDispatch* object = Create();
    if (object == nullptr) return;
    for (int round = 0; round < kRounds; ++round) SignAndTransform(object, t, counts);
    object->Release();
  });
  EXPECT_EQ(counts.signedCount, kThreads * kRounds);
  EXPECT_EQ(counts.transformedCount, kThreads * kRounds);
}

// Every round creates its object afresh and asks for unused modules to be unloaded once it has
// released it: the module is unloaded by one thread while another loads it again or signs.
TEST_F(Guest, ObjectsComeAndGoOnSeveralThreadsWhileTheModuleUnloads) {
  RoundCounts counts;
  OnApartmentThreads([&](int t) {
    for (int round = 0; round < kRounds; ++round) {
      IDispatch* object = Create();
      if (object == nullptr) continue;
      SignAndTransform(object, t, counts);
      object->Release();
      CoFreeUnusedLibraries();
    }
  });
  EXPECT_EQ(counts.signedCount, kThreads * kRounds);
  EXPECT_EQ(counts.transformedCount, kThreads * kRounds);
}

}  // namespace
}  // namespace quillbox::test
