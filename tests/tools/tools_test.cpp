// The build tools' answers to bad input: a message naming the file and line, and failure.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
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

}  // namespace
