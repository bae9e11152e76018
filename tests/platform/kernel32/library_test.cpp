#include "support/temp_dir.h"

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class LibraryLoading : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QUILLBOX_DLL_PATH", QUILLBOX_FAKE_DIR, 1); }
};

TEST_F(LibraryLoading, WindowsNameFindsSharedObjectOnTheSearchPath) {
  HMODULE module = LoadLibraryA("FakeExports.DLL");
  ASSERT_NE(module, nullptr);
  auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "FakeAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(LibraryLoading, MissingFileGivesNull) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("ieframe.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(LibraryLoading, MissingExportGivesNull) {
  HMODULE module = LoadLibraryA("noexports.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetProcAddress(module, "FakeAnswer"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_NE(GetProcAddress(module, "SomethingElse"), nullptr);
  FreeLibrary(module);
}

TEST_F(LibraryLoading, SystemLibrariesResolveToThePlatform) {
  HMODULE module = LoadLibraryA("OLEAUT32.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, "SysAllocString")),
            reinterpret_cast<void*>(&SysAllocString));
  FreeLibrary(module);
}

TEST_F(LibraryLoading, WithoutTheSearchPathTheFakeIsNotFound) {
  unsetenv("QUILLBOX_DLL_PATH");
  EXPECT_EQ(LoadLibraryA("fakeexports.dll"), nullptr);
}

TEST_F(LibraryLoading, RepeatedLoadsShareOneHandleAndCountReferences) {
  HMODULE first = LoadLibraryA("fakeexports.dll");
  HMODULE second = LoadLibraryA("fakeexports.dll");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_NE(GetProcAddress(first, "FakeAnswer"), nullptr);  // still loaded
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_FALSE(FreeLibrary(first));  // no reference left to release
}

TEST_F(LibraryLoading, ModuleFileNameIsTheRealPath) {
  HMODULE module = LoadLibraryA("fakeexports.dll");
  ASSERT_NE(module, nullptr);
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  EXPECT_EQ(std::string(path, n), std::string(QUILLBOX_FAKE_DIR) + "/fakeexports.so");
  char tiny[4];
  EXPECT_EQ(GetModuleFileNameA(module, tiny, sizeof tiny), 4u);
  EXPECT_EQ(tiny[3], '\0');
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  FreeLibrary(module);
}

// The loader maps a new module where an unloaded one was, so the two get the same handle; the
// handle must then describe the new module, as it does on Windows.
TEST_F(LibraryLoading, AModuleLoadedWhereAnUnloadedOneWasHasItsOwnFileName) {
  const quillbox::test::TempDir temp("quillbox-library");
  const std::filesystem::path dir = temp.path();
  const std::string first = dir / "first.so";
  const std::string second = dir / "second.so";
  std::filesystem::copy_file(std::string(QUILLBOX_FAKE_DIR) + "/fakeexports.so", first);
  std::filesystem::copy_file(std::string(QUILLBOX_FAKE_DIR) + "/fakeexports.so", second);

  int sharedHandles = 0;
  for (int round = 0; round < 4; ++round) {
    HMODULE a = LoadLibraryA(first.c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_TRUE(FreeLibrary(a));
    HMODULE b = LoadLibraryA(second.c_str());
    ASSERT_NE(b, nullptr);
    if (a == b) ++sharedHandles;
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(b, path, MAX_PATH);
    EXPECT_EQ(std::string(path, n), second);
    ASSERT_TRUE(FreeLibrary(b));
  }
  std::filesystem::remove_all(dir);
  // Otherwise the check above proved nothing: the loader always reuses the freed range here.
  EXPECT_GT(sharedHandles, 0);
}

std::string FileNameOf(HMODULE module) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  return std::string(path, n);
}

// LoadLibraryA and LoadLibraryExA (run or opened as a data file) search alike for the same name.
TEST_F(LibraryLoading, EveryWayOfLoadingFindsTheSameFile) {
  HMODULE loaded = LoadLibraryA("FakeExports.dll");
  HMODULE loadedEx = LoadLibraryExA("FakeExports.dll", nullptr, 0);
  HMODULE dataFile = LoadLibraryExA("FakeExports.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(loaded, nullptr);
  ASSERT_NE(loadedEx, nullptr);
  ASSERT_NE(dataFile, nullptr);
  EXPECT_EQ(loaded, loadedEx);
  const std::string expected = std::string(QUILLBOX_FAKE_DIR) + "/fakeexports.so";
  EXPECT_EQ(FileNameOf(loaded), expected);
  EXPECT_EQ(FileNameOf(dataFile), expected);
  EXPECT_TRUE(FreeLibrary(dataFile));
  EXPECT_TRUE(FreeLibrary(loadedEx));
  EXPECT_TRUE(FreeLibrary(loaded));

  // Found by neither when it is neither beside the caller nor on the search path: the platform's
  // own directory is no search directory (the shipped modules there would shadow a test's fakes).
  unsetenv("QUILLBOX_DLL_PATH");
  for (const char* name : {"fakeexports", "libquillbox-platform"}) {
    SCOPED_TRACE(name);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(name), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExA(name, nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  }
}

TEST_F(LibraryLoading, ShortPathIsThePathItself) {
  const std::string path = std::string(QUILLBOX_FAKE_DIR) + "/fakeexports.so";
  char out[MAX_PATH];
  EXPECT_EQ(GetShortPathNameA(path.c_str(), out, MAX_PATH), path.size());
  EXPECT_EQ(out, path);
  EXPECT_EQ(GetShortPathNameA(path.c_str(), out, 3), path.size() + 1);
  EXPECT_EQ(GetShortPathNameA("/no/such/file", out, MAX_PATH), 0u);
}

}  // namespace
