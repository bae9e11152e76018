// The build tools' answers to bad input: a message naming the file and line, and failure.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

struct RunResult {
  int status = -1;
  std::string output;  // stderr and stdout together
};

class ToolRun : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  static RunResult Run(const std::string& command) {
    RunResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) result.output += buffer;
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }
  RunResult Qbidl(const std::string& idl) {
    const std::string input = Write("bad.idl", idl);
    return Run(std::string(QBIDL_PATH) + " --typelib " + dir_ + "/out.tlb --header " + dir_ + "/out.h " + input);
  }
  // The expected "file:line: error: ..." prefix, and the message part.
  void ExpectIdlError(const std::string& idl, int line, const std::string& words) {
    const RunResult r = Qbidl(idl);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("bad.idl:" + std::to_string(line) + ": error: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(words), std::string::npos) << r.output;
    EXPECT_FALSE(std::ifstream(dir_ + "/out.tlb").good()) << "no output is left behind on failure";
  }

  quillbox::test::TempDir temp_{"qb-tools"};
  std::string dir_ = temp_.path();
};

const std::string kHead =
    "import \"oaidl.idl\";\n"
    "[object, uuid(11111111-2222-3333-4444-555555555555), dual, pointer_default(unique)]\n"
    "interface IThing : IDispatch\n"
    "{\n";
const std::string kTail =
    "};\n"
    "[uuid(11111111-2222-3333-4444-555555555556), version(1.0)]\n"
    "library THINGLib { importlib(\"stdole2.tlb\");\n"
    "  [uuid(11111111-2222-3333-4444-555555555557)] coclass Thing { [default] interface IThing; }; };\n";

TEST_F(ToolRun, QbidlAcceptsAGoodDefinition) {
  const RunResult r = Qbidl(kHead + "  [id(1)] HRESULT Go([in] long a, [out, retval] BSTR* b);\n" + kTail);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(std::ifstream(dir_ + "/out.tlb").good());
  std::ifstream header(dir_ + "/out.h");
  const std::string text((std::istreambuf_iterator<char>(header)), {});
  EXPECT_NE(text.find("virtual HRESULT STDMETHODCALLTYPE Go(LONG a, BSTR* b) = 0;"), std::string::npos) << text;
  EXPECT_NE(text.find("struct IThing : IDispatch"), std::string::npos);
}

TEST_F(ToolRun, QbidlUnknownType) {
  ExpectIdlError(kHead + "  [id(1)] HRESULT Go([in] widget a);\n" + kTail, 5, "unknown type 'widget'");
}

TEST_F(ToolRun, QbidlMissingSemicolon) {
  ExpectIdlError(kHead + "  [id(1)] HRESULT Go()\n  [id(2)] HRESULT Stop();\n" + kTail, 6, "expected ';'");
}

TEST_F(ToolRun, QbidlDuplicateIdentifier) {
  ExpectIdlError(kHead + "  [id(1)] HRESULT Go();\n  [id(1)] HRESULT Stop();\n" + kTail, 6, "id 1");
}

TEST_F(ToolRun, QbidlRetvalNotLast) {
  ExpectIdlError(kHead + "  [id(1)] HRESULT Go([out, retval] long* a, [in] long b);\n" + kTail, 5,
                 "retval must be the last parameter");
}

TEST_F(ToolRun, QbidlOutParameterMustBeAPointer) {
  ExpectIdlError(kHead + "  [id(1)] HRESULT Go([out] long a);\n" + kTail, 5, "must be a pointer");
}

TEST_F(ToolRun, QbidlGetterNeedsRetval) {
  ExpectIdlError(kHead + "  [propget, id(1)] HRESULT Size([in] long a);\n" + kTail, 5, "needs an [out, retval]");
}

TEST_F(ToolRun, QbidlMethodsReturnHresult) {
  ExpectIdlError(kHead + "  [id(1)] long Go();\n" + kTail, 5, "must return HRESULT");
}

TEST_F(ToolRun, QbidlMalformedUuid) {
  ExpectIdlError("[object, uuid(1234-zz), dual]\ninterface IBad : IDispatch { };\n", 1, "malformed uuid");
}

TEST_F(ToolRun, QbidlUnknownAttribute) {
  ExpectIdlError(kHead + "  [id(1), sparkly] HRESULT Go();\n" + kTail, 5, "attribute 'sparkly' is not supported");
}

TEST_F(ToolRun, QbidlUnknownBaseInterface) {
  ExpectIdlError("[object, uuid(11111111-2222-3333-4444-555555555555)]\ninterface IBad : IWhatever { };\n", 2,
                 "unknown base interface 'IWhatever'");
}

TEST_F(ToolRun, QbidlUnclosedComment) {
  ExpectIdlError("import \"oaidl.idl\";\n/* no end\n\n", 2, "comment is not closed");
}

TEST_F(ToolRun, QbidlUnknownImport) {
  ExpectIdlError("import \"mystery.idl\";\n", 1, "cannot import 'mystery.idl'");
}

TEST_F(ToolRun, QbidlCoclassOfUndefinedInterface) {
  ExpectIdlError(kHead + "};\n[uuid(11111111-2222-3333-4444-555555555556)]\nlibrary L { importlib(\"stdole2.tlb\");\n"
                             "  [uuid(11111111-2222-3333-4444-555555555557)] coclass C { interface INope; }; };\n",
                 8, "interface INope is not defined");
}

TEST_F(ToolRun, QbidlMissingInputFile) {
  const RunResult r = Run(std::string(QBIDL_PATH) + " " + dir_ + "/absent.idl");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("cannot read the file"), std::string::npos) << r.output;
}

TEST_F(ToolRun, QbrcReportsBadManifestLines) {
  const std::string manifest = Write("bad.qbrc", "# comment\nREGISTRY 101 1060 file\n");
  const RunResult r = Run(std::string(QBRC_PATH) + " --output " + dir_ + "/out.res " + manifest);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("bad.qbrc:2: error: expected TYPE NAME LANGUAGE KIND ARGUMENT"), std::string::npos)
      << r.output;
}

TEST_F(ToolRun, QbrcReportsMissingFilesAndVariables) {
  const std::string missing = Write("missing.qbrc", "DATA 1 1033 file absent.bin\n");
  RunResult r = Run(std::string(QBRC_PATH) + " --output " + dir_ + "/out.res " + missing);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("missing.qbrc:1: error: cannot read"), std::string::npos) << r.output;
  const std::string variable = Write("variable.qbrc", "\n\nDATA 1 1033 file ${NOPE}/x\n");
  r = Run(std::string(QBRC_PATH) + " --output " + dir_ + "/out.res " + variable);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("variable.qbrc:3: error: ${NOPE} is not defined"), std::string::npos) << r.output;
}

TEST_F(ToolRun, QbrcRefusesDuplicates) {
  Write("a.bin", "a");
  const std::string manifest = Write("dup.qbrc", "DATA 1 1033 file a.bin\nDATA 1 1033 file a.bin\n");
  const RunResult r = Run(std::string(QBRC_PATH) + " --output " + dir_ + "/out.res " + manifest);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("dup.qbrc:2: error: this resource is given twice"), std::string::npos) << r.output;
}

// The Win32 .res the Windows module's resources come from, read as Windows' tools read it.
TEST_F(ToolRun, QbrcWritesTheSameResourcesAsAWin32ResFile) {
  Write("script.rgs", "HKCR\n");
  const std::string manifest = Write("module.qbrc",
                                     "REGISTRY 101 1060 file script.rgs\n"
                                     "STRING 100 1033 string \"Hi\"\n");
  const std::string res = dir_ + "/module.res";
  const RunResult r = Run(std::string(QBRC_PATH) + " --win32-res " + res + " " + manifest);
  ASSERT_EQ(r.status, 0) << r.output;
  std::ifstream in(res, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const auto u16 = [&](std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
  };
  const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  ASSERT_GE(bytes.size(), 32u);
  // The empty entry that marks a 32-bit .res: no data, a 32-byte header, type and name 0.
  EXPECT_EQ(u32(0), 0u);
  EXPECT_EQ(u32(4), 32u);
  EXPECT_EQ(u32(8), 0xFFFFu);
  EXPECT_EQ(u32(12), 0xFFFFu);

  // The registry script: its bytes, its type by name, its number and its language.
  std::size_t at = 32;
  ASSERT_GE(bytes.size(), at + 8);
  EXPECT_EQ(u32(at), 5u) << "the script's size";
  const std::size_t header = u32(at + 4);
  std::u16string type;
  for (std::size_t i = at + 8; u16(i) != 0; i += 2) type += static_cast<char16_t>(u16(i));
  EXPECT_EQ(type, u"REGISTRY");
  const std::size_t name = at + 8 + (type.size() + 1) * 2;
  EXPECT_EQ(u16(name), 0xFFFFu);
  EXPECT_EQ(u16(name + 2), 101u);
  EXPECT_EQ(u16(at + header - 10), 1060u) << "the language";
  EXPECT_EQ(bytes.substr(at + header, 5), "HKCR\n");

  // The string table: block 7 (strings 96 to 111), entry 100 the fifth, the others empty.
  at = (at + header + 5 + 3) / 4 * 4;
  ASSERT_GE(bytes.size(), at + 32);
  EXPECT_EQ(u32(at + 8), 0xFFFFu | 6u << 16) << "RT_STRING";
  EXPECT_EQ(u32(at + 12), 0xFFFFu | 7u << 16);
  EXPECT_EQ(u16(at + 22), 1033u);
  const std::size_t data = at + u32(at + 4);
  EXPECT_EQ(u32(at), 16u * 2 + 2 * 2) << "sixteen lengths and two units";
  EXPECT_EQ(u16(data + 4 * 2), 2u);
  EXPECT_EQ(u16(data + 5 * 2), u'H');
  EXPECT_EQ(u16(data + 6 * 2), u'i');
  EXPECT_EQ(at + u32(at + 4) + u32(at), bytes.size()) << "nothing after the last resource";
}

}  // namespace
