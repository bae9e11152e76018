#include "elf_file.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace qb::platform {
namespace {

constexpr std::uint64_t kMaxSectionSize = 64u << 20;  // resources larger than this are refused
constexpr std::uint64_t kMaxSectionCount = 1u << 16;

class File {
 public:
  explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool open() const { return fd_ >= 0; }
  std::uint64_t size() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  }
  // Reads exactly `size` bytes at `offset`, within a file of `fileSize` bytes.
  bool Read(std::uint64_t offset, void* into, std::uint64_t size, std::uint64_t fileSize) const {
    if (offset > fileSize || size > fileSize - offset) return false;
    auto* out = static_cast<std::uint8_t*>(into);
    while (size > 0) {
      const ssize_t n = ::pread(fd_, out, size, static_cast<off_t>(offset));
      if (n <= 0) return false;
      out += n;
      offset += static_cast<std::uint64_t>(n);
      size -= static_cast<std::uint64_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

}  // namespace

DWORD ReadElfSection(const std::string& path, const char* sectionName, std::vector<std::uint8_t>& out) {
  out.clear();
  File file(path);
  if (!file.open()) return ERROR_FILE_NOT_FOUND;
  const std::uint64_t fileSize = file.size();

  Elf64_Ehdr header{};
  if (!file.Read(0, &header, sizeof header, fileSize)) return ERROR_BAD_EXE_FORMAT;
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_ident[EI_DATA] != ELFDATA2LSB || header.e_ident[EI_VERSION] != EV_CURRENT)
    return ERROR_BAD_EXE_FORMAT;
  if (header.e_shoff == 0) return ERROR_RESOURCE_DATA_NOT_FOUND;  // no section table at all
  if (header.e_shentsize != sizeof(Elf64_Shdr)) return ERROR_BAD_EXE_FORMAT;

  // Section 0 carries the real count and string-table index when they do not fit the header.
  Elf64_Shdr first{};
  if (!file.Read(header.e_shoff, &first, sizeof first, fileSize)) return ERROR_BAD_EXE_FORMAT;
  const std::uint64_t count = header.e_shnum != 0 ? header.e_shnum : first.sh_size;
  const std::uint64_t namesIndex = header.e_shstrndx != SHN_XINDEX ? header.e_shstrndx : first.sh_link;
  if (count == 0 || count > kMaxSectionCount || namesIndex >= count || namesIndex == SHN_UNDEF)
    return ERROR_BAD_EXE_FORMAT;
  std::vector<Elf64_Shdr> sections(count);
  if (!file.Read(header.e_shoff, sections.data(), count * sizeof(Elf64_Shdr), fileSize)) return ERROR_BAD_EXE_FORMAT;

  const Elf64_Shdr& names = sections[namesIndex];
  if (names.sh_type != SHT_STRTAB || names.sh_size == 0 || names.sh_size > kMaxSectionSize) return ERROR_BAD_EXE_FORMAT;
  std::vector<char> nameTable(names.sh_size);
  if (!file.Read(names.sh_offset, nameTable.data(), names.sh_size, fileSize)) return ERROR_BAD_EXE_FORMAT;
  nameTable.back() = '\0';  // a name running off the end stops there

  const std::size_t wantedLength = std::strlen(sectionName);
  for (const Elf64_Shdr& section : sections) {
    if (section.sh_name >= nameTable.size()) return ERROR_BAD_EXE_FORMAT;
    const char* name = nameTable.data() + section.sh_name;
    if (std::strlen(name) != wantedLength || std::memcmp(name, sectionName, wantedLength) != 0) continue;
    if (section.sh_type == SHT_NOBITS || section.sh_size > kMaxSectionSize) return ERROR_BAD_EXE_FORMAT;
    out.resize(section.sh_size);
    if (!file.Read(section.sh_offset, out.data(), section.sh_size, fileSize)) {
      out.clear();
      return ERROR_BAD_EXE_FORMAT;
    }
    return ERROR_SUCCESS;
  }
  return ERROR_RESOURCE_DATA_NOT_FOUND;
}

}  // namespace qb::platform
