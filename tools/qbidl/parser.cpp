// Recursive-descent parser for the IDL subset the project uses.
#include "ast.h"
#include "diagnostics.h"
#include "lexer.h"

namespace qbidl {
namespace {

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  IdlFile File() {
    IdlFile file;
    while (!AtEnd()) {
      if (Accept(";")) continue;
      if (PeekName("import")) {
        const int line = Next().line;
        do {
          file.imports.emplace_back(ExpectString("file name after import"), line);
        } while (Accept(","));
        Expect(";");
        continue;
      }
      std::vector<Attribute> attrs = AttributesIfAny();
      if (PeekName("interface")) {
        InterfaceDecl decl = Interface(std::move(attrs));
        if (decl.methods.empty() && decl.base.empty()) continue;  // forward declaration
        file.interfaces.push_back(std::move(decl));
      } else if (PeekName("library")) {
        if (file.library) throw IdlError(Peek().line, "a file may hold only one library");
        file.library = Library(std::move(attrs), file);
      } else {
        throw IdlError(Peek().line, "expected import, interface or library, found " + Describe(Peek()));
      }
    }
    return file;
  }

 private:
  const Token& Peek() const { return tokens_[position_]; }
  bool AtEnd() const { return Peek().kind == TokenKind::End; }
  const Token& Next() {
    const Token& t = tokens_[position_];
    if (t.kind != TokenKind::End) ++position_;
    return t;
  }
  bool PeekPunct(const char* p) const { return Peek().kind == TokenKind::Punct && Peek().text == p; }
  bool PeekName(const char* n) const { return Peek().kind == TokenKind::Name && Peek().text == n; }
  bool Accept(const char* p) {
    if (!PeekPunct(p)) return false;
    Next();
    return true;
  }
  static std::string Describe(const Token& t) {
    switch (t.kind) {
      case TokenKind::End: return "end of file";
      case TokenKind::String: return "string \"" + t.text + "\"";
      default: return "'" + t.text + "'";
    }
  }
  void Expect(const char* p) {
    if (!Accept(p)) throw IdlError(Peek().line, std::string("expected '") + p + "', found " + Describe(Peek()));
  }
  std::string ExpectName(const char* what) {
    if (Peek().kind != TokenKind::Name) throw IdlError(Peek().line, std::string("expected ") + what + ", found " + Describe(Peek()));
    return Next().text;
  }
  std::string ExpectString(const char* what) {
    if (Peek().kind != TokenKind::String) throw IdlError(Peek().line, std::string("expected ") + what + ", found " + Describe(Peek()));
    return Next().text;
  }

  std::vector<Attribute> AttributesIfAny() {
    std::vector<Attribute> attrs;
    if (!Accept("[")) return attrs;
    if (Accept("]")) return attrs;
    do {
      Attribute a;
      a.line = Peek().line;
      a.name = ExpectName("attribute name");
      if (Accept("(")) {
        if (!PeekPunct(")")) {
          do {
            const Token& t = Next();
            if (t.kind == TokenKind::End || t.kind == TokenKind::Punct)
              throw IdlError(t.line, "expected an argument of " + a.name + ", found " + Describe(t));
            a.args.push_back(t.text);
          } while (Accept(","));
        }
        Expect(")");
      }
      attrs.push_back(std::move(a));
    } while (Accept(","));
    Expect("]");
    return attrs;
  }

  TypeRef Type() {
    TypeRef type;
    type.line = Peek().line;
    if (PeekName("const")) Next();
    std::string base = ExpectName("a type");
    if (base == "unsigned" || base == "signed") {
      if (PeekName("int") || PeekName("long") || PeekName("short") || PeekName("char") || PeekName("hyper")) {
        base += " " + Next().text;
      } else {
        base += " int";
      }
    }
    type.base = base;
    while (Accept("*")) ++type.pointers;
    return type;
  }

  MethodDecl Method() {
    MethodDecl m;
    m.attrs = AttributesIfAny();
    m.line = Peek().line;
    m.result = Type();
    m.name = ExpectName("a method name");
    Expect("(");
    if (PeekName("void") && tokens_[position_ + 1].kind == TokenKind::Punct && tokens_[position_ + 1].text == ")") Next();
    if (!PeekPunct(")")) {
      do {
        ParamDecl p;
        p.attrs = AttributesIfAny();
        p.line = Peek().line;
        p.type = Type();
        if (Peek().kind == TokenKind::Name) p.name = Next().text;
        m.params.push_back(std::move(p));
      } while (Accept(","));
    }
    Expect(")");
    Expect(";");
    return m;
  }

  InterfaceDecl Interface(std::vector<Attribute> attrs) {
    InterfaceDecl decl;
    decl.line = Next().line;  // "interface"
    decl.attrs = std::move(attrs);
    decl.name = ExpectName("an interface name");
    if (Accept(";")) return decl;  // forward declaration
    Expect(":");
    decl.base = ExpectName("a base interface name");
    Expect("{");
    while (!Accept("}")) {
      if (AtEnd()) throw IdlError(decl.line, "interface " + decl.name + " is not closed");
      decl.methods.push_back(Method());
    }
    Accept(";");
    return decl;
  }

  CoclassDecl Coclass(std::vector<Attribute> attrs) {
    CoclassDecl decl;
    decl.line = Next().line;  // "coclass"
    decl.attrs = std::move(attrs);
    decl.name = ExpectName("a coclass name");
    Expect("{");
    while (!Accept("}")) {
      if (AtEnd()) throw IdlError(decl.line, "coclass " + decl.name + " is not closed");
      CoclassMember member;
      member.attrs = AttributesIfAny();
      member.line = Peek().line;
      if (!PeekName("interface") && !PeekName("dispinterface"))
        throw IdlError(Peek().line, "expected interface in coclass " + decl.name + ", found " + Describe(Peek()));
      Next();
      member.interfaceName = ExpectName("an interface name");
      Expect(";");
      decl.members.push_back(std::move(member));
    }
    Accept(";");
    return decl;
  }

  LibraryDecl Library(std::vector<Attribute> attrs, IdlFile& file) {
    LibraryDecl lib;
    lib.line = Next().line;  // "library"
    lib.attrs = std::move(attrs);
    lib.name = ExpectName("a library name");
    Expect("{");
    while (!Accept("}")) {
      if (AtEnd()) throw IdlError(lib.line, "library " + lib.name + " is not closed");
      if (Accept(";")) continue;
      if (PeekName("importlib")) {
        const int line = Next().line;
        Expect("(");
        lib.importlibs.emplace_back(ExpectString("a type library file name"), line);
        Expect(")");
        Expect(";");
        continue;
      }
      std::vector<Attribute> a = AttributesIfAny();
      if (PeekName("coclass")) {
        lib.coclasses.push_back(Coclass(std::move(a)));
      } else if (PeekName("interface")) {
        InterfaceDecl decl = Interface(std::move(a));
        lib.interfaceRefs.emplace_back(decl.name, decl.line);
        if (!decl.base.empty()) {
          decl.insideLibrary = true;
          file.interfaces.push_back(std::move(decl));
        }
      } else {
        throw IdlError(Peek().line, "expected importlib, interface or coclass in library, found " + Describe(Peek()));
      }
    }
    Accept(";");
    return lib;
  }

  std::vector<Token> tokens_;
  std::size_t position_ = 0;
};

}  // namespace

IdlFile Parse(const std::string& source) { return Parser(Tokenize(source)).File(); }

}  // namespace qbidl
