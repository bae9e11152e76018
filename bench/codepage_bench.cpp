// The platform's UTF-8 <-> UTF-16 conversions (MultiByteToWideChar / WideCharToMultiByte with
// CP_UTF8) on a 50 MB document, against memcpy of the same bytes in the same run: a conversion
// reads every byte once and writes it once, so memcpy is the speed it could reach at best.
//
// The document is XML as the component signs it: mostly ASCII markup, with Slovenian names
// (two-byte sequences) in most records and some Japanese (three-byte sequences) in a few. Each
// conversion is timed as the house calls it (common/bstr.cpp): a size query, then the conversion
// into a buffer of that size.
//
// The program prints Google Benchmark's table and then one summary: MB/s of document (UTF-8
// bytes) per second and the ratio of each conversion's time to the memcpy of its input, from the
// median CPU time of the repetitions (on a shared machine wall time also counts waiting for a core).
#include "platform/kernel32/utf_blocks.h"
#include "tests/support/utf_text.h"

#include <windows.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillbox::bench {
namespace {

constexpr std::size_t kDocumentBytes = 50u << 20;

// A fixed pseudo-random walk over record templates, so every run converts the same text.
std::string MakeDocument() {
  // A hex escape runs on over the letters after it, so those are split off into their own literal.
  static const char* const names[] = {("Jo\xC5\xBE" "e \xC5\xA0" "karja"), "Ana Novak", ("Marko \xC4\x8C" "eh"),
                                      ("Peter Kova\xC4\x8D" "i\xC4\x8D"), "Nina Zupan"};
  static const char* const towns[] = {"Ljubljana", ("Ko\xC4\x8D" "evje"), ("\xC5\xBD" "alec"), "Maribor",
                                      ("\xC5\xA0" "kofja Loka")};
  static const char* const notes[] = {("Pla\xC4\x8D" "ilo prejeto."), "Payment received in full.",
                                      "\xE6\x94\xAF\xE6\x89\x95\xE3\x81\x84\xE6\xB8\x88\xE3\x81\xBF",  // Japanese
                                      "Brez pripomb.", "No remarks."};
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Applications>\n";
  text.reserve(kDocumentBytes + 512);
  unsigned state = 12345;
  auto next = [&state](unsigned n) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % n;
  };
  for (unsigned id = 0; text.size() < kDocumentBytes; ++id) {
    text += "  <Application id=\"" + std::to_string(id) + "\">\n    <Name>";
    text += names[next(5)];
    text += "</Name>\n    <Address><Street>Glavna cesta " + std::to_string(next(200)) + "</Street><Town>";
    text += towns[next(5)];
    text += "</Town></Address>\n    <Payment currency=\"EUR\">" + std::to_string(next(100000)) +
            ".00</Payment>\n    <Note>";
    text += notes[next(5)];
    text += "</Note>\n  </Application>\n";
  }
  return text + "</Applications>\n";
}

// The UTF-16 form comes from the tests' own converter, so a conversion is checked against
// something other than itself.
struct Texts {
  std::string utf8 = MakeDocument();
  std::u16string utf16 = quillbox::test::FromUtf8(utf8);
};

const Texts& TheTexts() {
  static const Texts texts;
  return texts;
}

void SetDocumentBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(TheTexts().utf8.size()));
}

void MemcpyBytes(benchmark::State& state, const void* source, std::size_t bytes) {
  std::vector<char> copy(bytes);
  for (auto _ : state) {
    std::memcpy(copy.data(), source, bytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  SetDocumentBytes(state);
}

void MemcpyUtf8(benchmark::State& state) { MemcpyBytes(state, TheTexts().utf8.data(), TheTexts().utf8.size()); }
void MemcpyUtf16(benchmark::State& state) {
  MemcpyBytes(state, TheTexts().utf16.data(), TheTexts().utf16.size() * sizeof(char16_t));
}

void Utf8ToUtf16(benchmark::State& state) {
  const std::string& text = TheTexts().utf8;
  std::u16string wide(TheTexts().utf16.size(), u'\0');
  for (auto _ : state) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (units != static_cast<int>(wide.size()) ||
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units) != units) {
      state.SkipWithError("MultiByteToWideChar failed");
      return;
    }
    benchmark::DoNotOptimize(wide.data());
  }
  if (wide != TheTexts().utf16) state.SkipWithError("MultiByteToWideChar converted wrongly");
  SetDocumentBytes(state);
}

void Utf16ToUtf8(benchmark::State& state) {
  const std::u16string& text = TheTexts().utf16;
  std::string narrow(TheTexts().utf8.size(), '\0');
  for (auto _ : state) {
    const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    if (bytes != static_cast<int>(narrow.size()) ||
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), narrow.data(),
                            bytes, nullptr, nullptr) != bytes) {
      state.SkipWithError("WideCharToMultiByte failed");
      return;
    }
    benchmark::DoNotOptimize(narrow.data());
  }
  if (narrow != TheTexts().utf8) state.SkipWithError("WideCharToMultiByte converted wrongly");
  SetDocumentBytes(state);
}

// Google Benchmark's console table, then the summary with each conversion's ratio to its baseline.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      seconds_[run.run_name.function_name].push_back(run.GetAdjustedCPUTime() / 1e3);  // reported in ms
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double megabytes = static_cast<double>(TheTexts().utf8.size()) / 1e6;
    std::printf("\n%-36s %10s %10s %14s\n", "conversion (50 MB document)", "ms", "MB/s", "x memcpy");
    for (const auto& [name, times] : seconds_) {
      const std::string baseline = BaselineOf(name);
      if (!seconds_.contains(baseline)) continue;
      const double t = Median(times);
      const double b = Median(seconds_[baseline]);
      std::printf("%-36s %10.2f %10.0f %13.2fx\n", name.c_str(), t * 1e3, megabytes / t, t / b);
    }
  }

  // Which memcpy each measurement is held against: the conversion's input, copied as it is.
  static std::string BaselineOf(const std::string& name) {
    if (name.starts_with("MultiByteToWideChar")) return "memcpy/utf8";
    if (name.starts_with("WideCharToMultiByte")) return "memcpy/utf16";
    return name;
  }

 private:
  static double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  }
  std::map<std::string, std::vector<double>> seconds_;
};

// Each conversion under one block form: the plain loop is the conversion as it was before the
// blocks (the same code with the run copied element by element), so before and after are
// measured in the same run.
template <void (*Convert)(benchmark::State&)>
void Under(benchmark::State& state, int path) {
  if (QbSelectUtfBlockPath(path) == FALSE) {
    state.SkipWithError("this processor lacks the form");
    return;
  }
  Convert(state);
}

int Run(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TheTexts();
  auto add = [](const std::string& name, auto function, auto... args) {
    benchmark::RegisterBenchmark(name.c_str(), function, args...)->Unit(benchmark::kMillisecond)->Repetitions(5);
  };
  add("memcpy/utf8", MemcpyUtf8);
  add("memcpy/utf16", MemcpyUtf16);
  for (const auto& [form, path] : {std::pair{"scalar", QbUtfBlocksScalar}, std::pair{"sse2", QbUtfBlocksSse2},
                                   std::pair{"avx2", QbUtfBlocksAvx2}}) {
    add(std::string("MultiByteToWideChar/") + form, Under<Utf8ToUtf16>, path);
    add(std::string("WideCharToMultiByte/") + form, Under<Utf16ToUtf8>, path);
  }
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace
}  // namespace quillbox::bench

int main(int argc, char** argv) {
  try {
    return quillbox::bench::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillbox-bench-codepage: %s\n", e.what());
    return 1;
  }
}
