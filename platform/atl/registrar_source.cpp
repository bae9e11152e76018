#include "registrar_source.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace qb::platform::registrar {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::string AnsiFromWide(LPCOLESTR text) {
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), bytes, nullptr, nullptr);
  narrow.resize(static_cast<std::size_t>(bytes) - 1);
  return narrow;
}

std::u16string DecodeScriptBytes(const BYTE* bytes, std::size_t size) {
  std::u16string text;
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    text.resize((size - 2) / 2);
    if (!text.empty()) std::memcpy(text.data(), bytes + 2, text.size() * 2);
  } else if (size > 0) {
    const char* ansi = reinterpret_cast<const char*>(bytes);
    const int length = static_cast<int>(std::min<std::size_t>(size, 0x7FFFFFFF));
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi, length, nullptr, 0);
    text.resize(static_cast<std::size_t>(units > 0 ? units : 0));
    if (units > 0) MultiByteToWideChar(CP_ACP, 0, ansi, length, text.data(), units);
  }
  if (auto end = text.find(u'\0'); end != std::u16string::npos) text.resize(end);
  return text;
}

ScriptText ScriptFromString(LPCOLESTR data) {
  if (data == nullptr) return {E_INVALIDARG, {}};
  return {S_OK, data};
}

ScriptText ScriptFromFile(LPCOLESTR fileName) {
  if (fileName == nullptr) return {E_INVALIDARG, {}};
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(AnsiFromWide(fileName).c_str(), "rb"));
  if (!file) return {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), {}};
  std::vector<BYTE> bytes;
  BYTE chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;)
    bytes.insert(bytes.end(), chunk, chunk + got);
  if (std::ferror(file.get())) return {HRESULT_FROM_WIN32(ERROR_CANTREAD), {}};
  return {S_OK, DecodeScriptBytes(bytes.data(), bytes.size())};
}

}  // namespace qb::platform::registrar
