#include "qbcrx/stored_zip.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace qbcrx {
namespace {

std::uint32_t Crc32(const std::string& bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) crc = table[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

constexpr std::uint32_t kVersionNeeded = 10;  // stored entries only
constexpr std::uint32_t kUtf8Names = 0x0800;
constexpr std::uint32_t kDosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01, the format's first day

std::uint32_t Size32(std::size_t size, const std::string& what) {
  if (size >= std::numeric_limits<std::uint32_t>::max()) throw std::runtime_error(what + " is too large for a zip archive");
  return static_cast<std::uint32_t>(size);
}

}  // namespace

std::string StoredZip(const std::vector<ZipEntry>& entries) {
  if (entries.size() >= 0xFFFF) throw std::runtime_error("too many files for a zip archive");
  std::string archive;
  std::string directory;
  for (const ZipEntry& entry : entries) {
    if (entry.name.size() >= 0xFFFF) throw std::runtime_error("the name " + entry.name + " is too long");
    const std::uint32_t crc = Crc32(entry.bytes);
    const std::uint32_t size = Size32(entry.bytes.size(), entry.name);
    const std::uint32_t offset = Size32(archive.size(), "the archive");
    Put32(archive, 0x04034b50);
    Put16(archive, kVersionNeeded);
    Put16(archive, kUtf8Names);
    Put16(archive, 0);  // stored
    Put16(archive, 0);  // time 00:00
    Put16(archive, kDosDate);
    Put32(archive, crc);
    Put32(archive, size);
    Put32(archive, size);
    Put16(archive, static_cast<std::uint32_t>(entry.name.size()));
    Put16(archive, 0);
    archive += entry.name;
    archive += entry.bytes;

    Put32(directory, 0x02014b50);
    Put16(directory, (3 << 8) | 20);  // made on Unix, format 2.0
    Put16(directory, kVersionNeeded);
    Put16(directory, kUtf8Names);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, kDosDate);
    Put32(directory, crc);
    Put32(directory, size);
    Put32(directory, size);
    Put16(directory, static_cast<std::uint32_t>(entry.name.size()));
    Put16(directory, 0);              // extra
    Put16(directory, 0);              // comment
    Put16(directory, 0);              // disk
    Put16(directory, 0);              // internal attributes
    Put32(directory, 0100644u << 16); // a plain readable file
    Put32(directory, offset);
    directory += entry.name;
  }
  const std::uint32_t directoryOffset = Size32(archive.size(), "the archive");
  archive += directory;
  Put32(archive, 0x06054b50);
  Put16(archive, 0);
  Put16(archive, 0);
  Put16(archive, static_cast<std::uint32_t>(entries.size()));
  Put16(archive, static_cast<std::uint32_t>(entries.size()));
  Put32(archive, Size32(directory.size(), "the archive's directory"));
  Put32(archive, directoryOffset);
  Put16(archive, 0);
  return archive;
}

std::vector<ZipEntry> EntriesOf(const std::string& directory) {
  namespace fs = std::filesystem;
  if (!fs::is_directory(directory)) throw std::runtime_error(directory + " is not a directory");
  std::vector<ZipEntry> entries;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(directory)) {
    if (item.is_symlink()) throw std::runtime_error(item.path().string() + " is a symbolic link");
    if (item.is_directory()) continue;
    if (!item.is_regular_file()) throw std::runtime_error(item.path().string() + " is not a regular file");
    std::ifstream file(item.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    if (!file) throw std::runtime_error("cannot read " + item.path().string());
    entries.push_back({fs::relative(item.path(), directory).generic_string(), bytes.str()});
  }
  std::ranges::sort(entries, {}, &ZipEntry::name);
  return entries;
}

}  // namespace qbcrx
