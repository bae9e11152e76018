// A type library that is truncated or damaged is refused with a TYPE_E_* code, never read past
// its end: every prefix of a valid file, every single-bit flip, and damage with a recomputed
// checksum (so the structural checks, not the checksum, must catch it).
#include <oleauto.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <typelib_format.h>

#include "support/temp_dir.h"
#include "platform/oleaut32/typelib_helpers.h"

namespace {

using quillbox::test::ComPtr;

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class CorruptTypeLib : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = ReadBytes(QUILLBOX_TLB);
    ASSERT_GT(original_.size(), qb::tlb::kHeaderSize);
    // Thousands of small files are written: memory-backed storage when the machine has it.
    try {
      temp_.emplace("qb-corrupt", "/dev/shm");
    } catch (const std::runtime_error&) {
      temp_.emplace("qb-corrupt");
    }
    path_ = *temp_ / "damaged.tlb";
  }

  HRESULT Load(const std::vector<std::uint8_t>& bytes, bool& loaded) {
    {
      std::ofstream out(path_, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ComPtr<ITypeLib> lib;
    const HRESULT hr = quillbox::test::LoadTypeLibFromPath(path_, lib.out());
    loaded = static_cast<bool>(lib);
    if (lib) Exercise(lib.get());
    return hr;
  }

  // Whatever loads must also be safe to use.
  static void Exercise(ITypeLib* lib) {
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
      ComPtr<ITypeInfo> info;
      if (FAILED(lib->GetTypeInfo(i, info.out()))) continue;
      TYPEATTR* attr = nullptr;
      if (FAILED(info->GetTypeAttr(&attr))) continue;
      for (UINT f = 0; f < attr->cFuncs; ++f) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(f, &desc))) continue;
        BSTR names[8] = {};
        UINT count = 0;
        if (SUCCEEDED(info->GetNames(desc->memid, names, 8, &count)))
          for (UINT k = 0; k < count; ++k) SysFreeString(names[k]);
        for (SHORT p = 0; p < desc->cParams; ++p) {
          const TYPEDESC* t = &desc->lprgelemdescParam[p].tdesc;
          while (t->vt == VT_PTR) t = t->lptdesc;
        }
        info->ReleaseFuncDesc(desc);
      }
      info->ReleaseTypeAttr(attr);
    }
  }

  static void FixChecksum(std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < qb::tlb::kCrcOffset + 4) return;
    for (int i = 0; i < 4; ++i) bytes[qb::tlb::kCrcOffset + i] = 0;
    const std::uint32_t crc = qb::tlb::Crc32(bytes);
    for (int i = 0; i < 4; ++i) bytes[qb::tlb::kCrcOffset + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  }

  std::vector<std::uint8_t> original_;
  std::optional<quillbox::test::TempDir> temp_;
  std::string path_;
};

TEST_F(CorruptTypeLib, TheOriginalLoads) {
  bool loaded = false;
  EXPECT_EQ(Load(original_, loaded), S_OK);
  EXPECT_TRUE(loaded);
}

TEST_F(CorruptTypeLib, EveryProperPrefixIsRefused) {
  for (std::size_t length = 0; length < original_.size(); ++length) {
    const std::vector<std::uint8_t> prefix(original_.begin(), original_.begin() + static_cast<std::ptrdiff_t>(length));
    bool loaded = true;
    const HRESULT hr = Load(prefix, loaded);
    ASSERT_FALSE(loaded) << "prefix of " << length << " bytes";
    ASSERT_TRUE(hr == TYPE_E_INVDATAREAD || hr == TYPE_E_UNSUPFORMAT) << "prefix of " << length << " bytes: " << std::hex << hr;
  }
}

TEST_F(CorruptTypeLib, ABitFlipInEveryByteIsRefused) {
  // One flip per byte, walking the bit position along, so every byte and every bit position is hit.
  for (std::size_t byte = 0; byte < original_.size(); ++byte) {
    const int bit = static_cast<int>(byte % 8);
    std::vector<std::uint8_t> damaged = original_;
    damaged[byte] ^= static_cast<std::uint8_t>(1u << bit);
    bool loaded = true;
    Load(damaged, loaded);
    ASSERT_FALSE(loaded) << "bit " << bit << " of byte " << byte;
  }
}

TEST_F(CorruptTypeLib, AppendedBytesAreRefused) {
  std::vector<std::uint8_t> longer = original_;
  longer.push_back(0);
  bool loaded = true;
  EXPECT_EQ(Load(longer, loaded), TYPE_E_INVDATAREAD);
  EXPECT_FALSE(loaded);
}

TEST_F(CorruptTypeLib, AnotherFormatVersionIsRefused) {
  std::vector<std::uint8_t> future = original_;
  future[4] = 2;  // major version
  FixChecksum(future);
  bool loaded = true;
  EXPECT_EQ(Load(future, loaded), TYPE_E_UNSUPFORMAT);
  EXPECT_FALSE(loaded);
}

TEST_F(CorruptTypeLib, DamageBehindAValidChecksumNeverCrashes) {
  // Random damage to the records, with the checksum recomputed: the loader either refuses the
  // file or yields a library that is safe to walk (Exercise). Seeded, so a failure repeats.
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> position(qb::tlb::kHeaderPrefixSize, original_.size() - 1);
  std::uniform_int_distribution<int> value(0, 255);
  int refused = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> damaged = original_;
    const int changes = 1 + round % 4;
    for (int c = 0; c < changes; ++c) damaged[position(random)] = static_cast<std::uint8_t>(value(random));
    FixChecksum(damaged);
    bool loaded = false;
    const HRESULT hr = Load(damaged, loaded);
    if (FAILED(hr)) {
      ++refused;
      EXPECT_FALSE(loaded);
    }
  }
  EXPECT_GT(refused, 0);
}

TEST_F(CorruptTypeLib, SectionsPointingOutsideAreRefused) {
  std::vector<std::uint8_t> damaged = original_;
  // The typeinfo section's count, made huge.
  const std::size_t countAt = qb::tlb::kSectionTableOffset + qb::tlb::kTypeInfos * 8 + 4;
  damaged[countAt + 3] = 0x7F;
  FixChecksum(damaged);
  bool loaded = true;
  EXPECT_EQ(Load(damaged, loaded), TYPE_E_INVDATAREAD);
  EXPECT_FALSE(loaded);
}

TEST_F(CorruptTypeLib, NotATypeLibraryAtAll) {
  bool loaded = true;
  EXPECT_EQ(Load({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!', '!', '!', '!'}, loaded),
            TYPE_E_UNSUPFORMAT);
  EXPECT_FALSE(loaded);
}

}  // namespace
