// qbidl: the project's interface compiler. Reads one IDL file and writes the C++ header, the
// identifier definitions and the type library.
//
//   qbidl --header out.h --identifiers out_i.cpp --typelib out.tlb input.idl
#include "common/atomic_write.h"
#include "diagnostics.h"
#include "emit.h"
#include "model.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

int Usage() {
  std::cerr << "usage: qbidl [--header FILE] [--identifiers FILE] [--typelib FILE] INPUT.idl\n";
  return 2;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  return quillbox::tools::WriteFileAtomically(path, bytes);
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
  std::string header, identifiers, typelib, input;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    if (arg == "--header") {
      if (!value(header)) return Usage();
    } else if (arg == "--identifiers") {
      if (!value(identifiers)) return Usage();
    } else if (arg == "--typelib") {
      if (!value(typelib)) return Usage();
    } else if (arg.starts_with('-') || !input.empty()) {
      return Usage();  // an unknown option, or a second input
    } else {
      input = arg;
    }
  }
  if (input.empty()) return Usage();

  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::cerr << input << ": error: cannot read the file\n";
    return 1;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();

  try {
    const qbidl::Model model = qbidl::Resolve(qbidl::Parse(buffer.str()));
    if (!header.empty() && !WriteFile(header, qbidl::EmitHeader(model, BaseName(input)))) {
      std::cerr << header << ": error: cannot write the file\n";
      return 1;
    }
    if (!identifiers.empty() &&
        !WriteFile(identifiers, qbidl::EmitIdentifiers(model, BaseName(header.empty() ? "header.h" : header), BaseName(input)))) {
      std::cerr << identifiers << ": error: cannot write the file\n";
      return 1;
    }
    if (!typelib.empty()) {
      const std::vector<std::uint8_t> bytes = qbidl::EmitTypeLibrary(model);
      if (!WriteFile(typelib, std::string(bytes.begin(), bytes.end()))) {
        std::cerr << typelib << ": error: cannot write the file\n";
        return 1;
      }
    }
  } catch (const qbidl::IdlError& e) {
    std::cerr << input << ":" << e.line() << ": error: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << input << ": error: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
