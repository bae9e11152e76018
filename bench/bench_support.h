// Small helpers the benchmark programs share: their inputs come from the environment that
// bench/compare sets up, and their outputs go to files that it verifies before a time counts.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillbox::bench {

inline std::string RequiredEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') throw std::runtime_error(std::string("set ") + name);
  return value;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, std::string_view contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// QB_BENCH_DOCS holds "label=path" pairs separated by commas, smallest document first.
struct Document {
  std::string label;
  std::string path;
};

inline std::vector<Document> DocumentsFromEnv(const char* name = "QB_BENCH_DOCS") {
  std::vector<Document> documents;
  std::stringstream list(RequiredEnv(name));
  std::string item;
  while (std::getline(list, item, ',')) {
    const auto equals = item.find('=');
    if (equals == std::string::npos) throw std::runtime_error("bad document entry " + item);
    documents.push_back({item.substr(0, equals), item.substr(equals + 1)});
  }
  return documents;
}

// Enough iterations that one repetition of a small document is not dominated by clock noise,
// and exactly one for the large ones.
inline long IterationsFor(std::size_t bytes) {
  constexpr std::size_t kBytesPerRepetition = 4u << 20;
  const std::size_t n = kBytesPerRepetition / (bytes == 0 ? 1 : bytes);
  return static_cast<long>(n < 1 ? 1 : (n > 200 ? 200 : n));
}

}  // namespace quillbox::bench
