// The interface definition as written: what the parser reads, before any meaning is checked.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qbidl {

struct Attribute {
  std::string name;
  std::vector<std::string> args;  // strings without quotes, numbers and names as written
  int line = 0;
};

struct TypeRef {
  std::string base;  // "BSTR", "long", "unsigned int", ...
  int pointers = 0;
  int line = 0;
};

struct ParamDecl {
  std::vector<Attribute> attrs;
  TypeRef type;
  std::string name;  // may be empty
  int line = 0;
};

struct MethodDecl {
  std::vector<Attribute> attrs;
  TypeRef result;
  std::string name;
  std::vector<ParamDecl> params;
  int line = 0;
};

struct InterfaceDecl {
  std::vector<Attribute> attrs;
  std::string name;
  std::string base;
  std::vector<MethodDecl> methods;
  bool insideLibrary = false;
  int line = 0;
};

struct CoclassMember {
  std::vector<Attribute> attrs;
  std::string interfaceName;
  int line = 0;
};

struct CoclassDecl {
  std::vector<Attribute> attrs;
  std::string name;
  std::vector<CoclassMember> members;
  int line = 0;
};

struct LibraryDecl {
  std::vector<Attribute> attrs;
  std::string name;
  std::vector<std::pair<std::string, int>> importlibs;
  std::vector<CoclassDecl> coclasses;
  // Interfaces named in the library body, in order: defined there or forward-referenced there.
  std::vector<std::pair<std::string, int>> interfaceRefs;
  int line = 0;
};

struct IdlFile {
  std::vector<std::pair<std::string, int>> imports;
  std::vector<InterfaceDecl> interfaces;
  std::optional<LibraryDecl> library;
};

IdlFile Parse(const std::string& source);

}  // namespace qbidl
