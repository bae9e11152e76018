#include "display_text.h"

#include <cstring>
#include <ctime>
#include <vector>

namespace qb::cryptdlg {
namespace {

// Both conversions pass through UTF-16, as the Windows calls do; the intermediate may hold a
// password, so it is wiped before it is freed.
struct WideText {
  std::vector<WCHAR> units;
  ~WideText() {
    if (!units.empty()) explicit_bzero(units.data(), units.size() * sizeof(WCHAR));
  }
};

bool ToWide(UINT codePage, std::string_view text, WideText& wide) {
  if (text.empty()) return true;
  const int length = static_cast<int>(text.size());
  const int count = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (count <= 0) return false;
  wide.units.resize(static_cast<std::size_t>(count));
  return MultiByteToWideChar(codePage, 0, text.data(), length, wide.units.data(), count) == count;
}

std::string FromWide(UINT codePage, const WideText& wide) {
  if (wide.units.empty()) return {};
  const int length = static_cast<int>(wide.units.size());
  const int count = WideCharToMultiByte(codePage, 0, wide.units.data(), length, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return {};
  std::string out(static_cast<std::size_t>(count), '\0');
  if (WideCharToMultiByte(codePage, 0, wide.units.data(), length, out.data(), count, nullptr, nullptr) != count)
    return {};
  return out;
}

std::string Convert(UINT from, UINT to, std::string_view text) {
  WideText wide;
  if (!ToWide(from, text, wide)) return {};
  return FromWide(to, wide);
}

}  // namespace

std::string AnsiToUtf8(std::string_view text) { return Convert(CP_ACP, CP_UTF8, text); }

std::string ValidUtf8(std::string_view text) { return Convert(CP_UTF8, CP_UTF8, text); }

std::string Utf8ToAnsi(std::string_view text) { return Convert(CP_UTF8, CP_ACP, text); }

std::string NameText(PCCERT_CONTEXT certificate, const CERT_NAME_BLOB& name) {
  constexpr DWORD kForm = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  // CertNameToStrA takes a non-const blob although it only reads it.
  CERT_NAME_BLOB blob = name;
  const DWORD size = CertNameToStrA(certificate->dwCertEncodingType, &blob, kForm, nullptr, 0);
  if (size <= 1) return {};
  std::string narrow(size, '\0');
  const DWORD written = CertNameToStrA(certificate->dwCertEncodingType, &blob, kForm, narrow.data(), size);
  if (written <= 1) return {};
  narrow.resize(std::strlen(narrow.c_str()));
  return AnsiToUtf8(narrow);
}

std::string SerialText(const CRYPT_INTEGER_BLOB& serial) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  if (serial.pbData == nullptr) return text;
  text.reserve(serial.cbData * 2u);
  for (DWORD i = serial.cbData; i > 0; --i) {
    const BYTE value = serial.pbData[i - 1];
    text.push_back(kDigits[value >> 4]);
    text.push_back(kDigits[value & 0x0F]);
  }
  return text;
}

std::optional<std::tm> UtcParts(const FILETIME& time) {
  // FILETIME counts 100-nanosecond intervals since 1601-01-01 UTC.
  constexpr std::int64_t kTicksPerSecond = 10'000'000;
  constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
  const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  const std::time_t seconds =
      static_cast<std::time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970);
  std::tm parts{};
  if (gmtime_r(&seconds, &parts) == nullptr) return std::nullopt;
  return parts;
}

std::string TimeText(const FILETIME& time) {
  const std::optional<std::tm> parts = UtcParts(time);
  if (!parts) return {};
  char text[40];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &*parts);
  return std::string(text, length);
}

void Wipe(std::string& secret) {
  explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

}  // namespace qb::cryptdlg
