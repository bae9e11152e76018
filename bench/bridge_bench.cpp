// quillbox-bench-bridge: a page's SignAsync through the extension and the native host, in headless
// Chromium and Firefox ESR, against the in-process Sign of the same document in the same run.
// Both sides sign by subject from the same throwaway store; each timed run sets XmlDoc and signs,
// so the page's time includes carrying the document to the host and the signed one back.
//
//   quillbox-bench-bridge [--scale N] [--browsers chromium,firefox]
//
// --scale multiplies every size's number of timed runs (40 at 1 KB, 10 at 1 MB, 3 at 10 MB).
//
// Prints one line per contender and size: "<contender> <size> <median ms> <min ms> <max ms>".
#include "browser/browser_world.h"
#include "browser/firefox_world.h"
#include "common/json_write.h"
#include "host/component_module.h"
#include "host/dispatch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using quillbox::JsonValue;
using namespace quillbox::browser::test;

struct Size {
  const char* label;
  std::size_t bytes;
  int runs;  // timed runs at the default; --runs scales them
};

constexpr Size kSizes[] = {{"1KB", 1024, 40}, {"1MB", 1 << 20, 10}, {"10MB", 10 << 20, 3}};

// A form record with Slovenian letters, so that multi-byte UTF-8 crosses every boundary. The page
// and this program build the same document from it: kOpen, `count` records, kClose.
constexpr char16_t kRecord[] = u"<zapis><ime>Ana \u017Dagar</ime><naslov>\u010Cop\u010Deva 12, Ljubljana</naslov>"
                               u"<opis>Vloga za izdajo potrdila; \u0161tevilka 4711</opis></zapis>";
constexpr char16_t kOpen[] = u"<obrazec>";
constexpr char16_t kClose[] = u"</obrazec>";

std::size_t Utf8Length(std::u16string_view text) {
  std::size_t bytes = 0;
  for (const char16_t unit : text) bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
  return bytes;
}

std::size_t RecordsFor(std::size_t bytes) {
  const std::size_t record = Utf8Length(kRecord);
  return std::max<std::size_t>(1, (bytes + record - 1) / record);
}

std::u16string Document(std::size_t records) {
  std::u16string text(kOpen);
  const std::u16string_view record(kRecord);
  text.reserve(text.size() + records * record.size() + 16);
  for (std::size_t i = 0; i < records; ++i) text += record;
  text += kClose;
  return text;
}

std::string JsString(std::u16string_view text) { return quillbox::WriteJson(JsonValue(std::u16string(text))); }

// The page's script: builds the document, warms up once, then times `runs` runs of set and sign.
std::string PageScript(std::size_t records, int runs) {
  return "(async () => {"
         "const doc = " + JsString(kOpen) + " + " + JsString(kRecord) + ".repeat(" + std::to_string(records) + ") + " +
         JsString(kClose) + ";"
         "const s = await Quillbox.createSignature();"
         "s.CertFindOption = 1; s.CertSubject = 'Test Signer';"
         "const times = [];"
         "for (let i = 0; i <= " + std::to_string(runs) + "; i++) {"
         "  const start = performance.now();"
         "  s.XmlDoc = doc;"
         "  if (!(await s.SignAsync())) return {error: String(s.ErrorStr) + ': ' + String(s.ErrorDesc)};"
         "  if (s.XmlDoc.length <= doc.length) return {error: 'the signed document did not come back'};"
         "  if (i > 0) times.push(performance.now() - start);"
         "}"
         "return {error: '', times: times.join(',')};"
         "})()";
}

void Print(const std::string& contender, const char* size, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  std::printf("%s %s %.3f %.3f %.3f\n", contender.c_str(), size, ms[ms.size() / 2], ms.front(), ms.back());
  std::fflush(stdout);
}

std::vector<double> ParseTimes(const JsonValue& answer) {
  const std::string error = Text(answer, u"error");
  if (!error.empty()) throw std::runtime_error("the page could not sign: " + error);
  std::vector<double> ms;
  const std::string list = Text(answer, u"times");
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    ms.push_back(std::stod(list.substr(at, end - at)));
    at = end + 1;
  }
  return ms;
}

// The component in this process, in the world's store and registry.
// The environment is the world's already, and the apartment open.
std::vector<double> InProcess(std::size_t records, int runs) {
  auto object = quillbox::host::CreateObject(quillbox::host::kSignatureProgId);
  const quillbox::host::DispatchClient signature(object.get());
  signature.Put(u"CertFindOption", quillbox::host::MakeI2(1));
  signature.Put(u"CertSubject", quillbox::host::MakeString(u"Test Signer"));
  const std::u16string document = Document(records);
  std::vector<double> ms;
  for (int i = 0; i <= runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    signature.Put(u"XmlDoc", quillbox::host::MakeString(document));
    if (!quillbox::host::ToBool(signature.Call(u"Sign"))) throw std::runtime_error("the in-process Sign failed");
    const std::u16string result = quillbox::host::ToText(signature.Get(u"XmlDoc"));
    if (result.size() <= document.size()) throw std::runtime_error("the in-process Sign gave no document");
    if (i > 0) ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  return ms;
}

int Run(int scale, bool chromium, bool firefox) {
  if (chromium) {
    BrowserWorld world;
    auto tab = world.OpenPage();
    for (const Size& size : kSizes) {
      Print("chromium", size.label, ParseTimes(tab->Evaluate(PageScript(RecordsFor(size.bytes), size.runs * scale))));
    }
  }
  if (firefox) {
    FirefoxWorld world;
    world.OpenTab(world.PageUrl());
    for (const Size& size : kSizes) {
      Print("firefox", size.label, ParseTimes(world.Evaluate(PageScript(RecordsFor(size.bytes), size.runs * scale))));
    }
  }
  // Last, so that the component's libraries loaded in this process do not share the browsers' time.
  const BridgeWorld world;
  for (const std::string& entry : world.Environment()) {
    const std::size_t equals = entry.find('=');
    setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
  const quillbox::host::Apartment apartment;
  quillbox::host::EnsureComponentRegistered();
  for (const Size& size : kSizes) Print("inprocess", size.label, InProcess(RecordsFor(size.bytes), size.runs * scale));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int scale = 1;
  bool chromium = true;
  bool firefox = true;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--scale" && i + 1 < argc) {
      scale = std::max(1, std::atoi(argv[++i]));
    } else if (argument == "--browsers" && i + 1 < argc) {
      const std::string list = argv[++i];
      chromium = list.find("chromium") != std::string::npos;
      firefox = list.find("firefox") != std::string::npos;
    } else {
      std::fprintf(stderr, "usage: quillbox-bench-bridge [--scale N] [--browsers chromium,firefox]\n");
      return 2;
    }
  }
  try {
    return Run(scale, chromium, firefox);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillbox-bench-bridge: %s\n", error.what());
    return 1;
  }
}
