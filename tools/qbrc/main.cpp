// qbrc: the project's resource compiler. Reads a resource manifest and writes the module's
// resource section (formats/resource_format.h) and a C++ file that places it in the ELF
// section ".qbrsrc" of whatever links it; for the Windows module, the same resources as a Win32
// .res file, which windres turns into the object the linker places in the PE resource section.
//
//   qbrc [-D NAME=VALUE]... [--output FILE.res [--source FILE.cpp]] [--win32-res FILE.res]
//        [--depfile FILE.d] MANIFEST
//
// Manifest lines (docs/resources.md):  TYPE NAME LANGUAGE KIND ARGUMENT
//   TYPE     a number, a word (REGISTRY, TYPELIB), STRING (the string table) or VERSION
//   KIND     file "path" (the file's bytes; relative paths are relative to the manifest)
//            string "text" (with TYPE STRING: one string-table entry, NAME its number)
//            version "path" (a version description, see resources/quillbox.version)
// ${NAME} in a path is replaced by the value given with -D NAME=VALUE.
#include "common/atomic_write.h"
#include "version_block.h"

#include <resource_format.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct ManifestError : std::runtime_error {
  ManifestError(int line, const std::string& message) : std::runtime_error(message), line(line) {}
  int line;
};

struct Key {
  std::uint32_t id = 0;
  std::string name;  // upper case, or empty for a number
  bool operator<(const Key& o) const { return std::tie(name, id) < std::tie(o.name, o.id); }
  bool operator==(const Key& o) const { return id == o.id && name == o.name; }
};

struct Resource {
  Key type, name;
  std::uint16_t language = 0;
  std::vector<std::uint8_t> data;
  int line = 0;
};

constexpr std::uint32_t kRtString = 6;
constexpr std::uint32_t kRtVersion = 16;

std::vector<std::string> Words(const std::string& line, int number) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    if (line[i] == '#') break;
    if (line[i] == '"') {
      const auto close = line.find('"', i + 1);
      if (close == std::string::npos) throw ManifestError(number, "string is not closed");
      words.push_back(line.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    std::size_t end = i;
    while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) ++end;
    words.push_back(line.substr(i, end - i));
    i = end;
  }
  return words;
}

std::uint32_t Number(const std::string& text, int line, std::uint32_t max, const char* what) {
  try {
    std::size_t used = 0;
    const unsigned long long value = std::stoull(text, &used, 0);
    if (used == text.size() && value <= max) return static_cast<std::uint32_t>(value);
  } catch (const std::exception&) {
  }
  throw ManifestError(line, std::string(what) + " must be a number up to " + std::to_string(max) + ", found '" + text + "'");
}

Key MakeKey(const std::string& text, int line, const char* what) {
  Key key;
  if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
    key.id = Number(text, line, 0xFFFF, what);
    if (key.id == 0) throw ManifestError(line, std::string(what) + " 0 is not allowed");
    return key;
  }
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x21 || u > 0x7E) throw ManifestError(line, std::string(what) + " '" + text + "' must be printable ASCII");
    key.name += static_cast<char>(std::toupper(u));
  }
  return key;
}

std::string Expand(const std::string& text, const std::map<std::string, std::string>& defines, int line) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "${") == 0) {
      const auto close = text.find('}', i);
      if (close == std::string::npos) throw ManifestError(line, "${ is not closed");
      const std::string name = text.substr(i + 2, close - i - 2);
      auto it = defines.find(name);
      if (it == defines.end()) throw ManifestError(line, "${" + name + "} is not defined (pass -D " + name + "=...)");
      out += it->second;
      i = close + 1;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::vector<std::uint8_t> ReadFile(const std::string& path, int line, std::vector<std::string>& inputs) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ManifestError(line, "cannot read '" + path + "'");
  inputs.push_back(path);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

std::vector<Resource> ReadManifest(const std::string& manifestPath, const std::map<std::string, std::string>& defines,
                                   std::vector<std::string>& inputs) {
  std::ifstream in(manifestPath);
  if (!in) throw ManifestError(0, "cannot read the manifest");
  inputs.push_back(manifestPath);
  const std::string base = DirectoryOf(manifestPath);
  auto resolve = [&](const std::string& path, int line) {
    const std::string expanded = Expand(path, defines, line);
    return !expanded.empty() && expanded[0] == '/' ? expanded : base + "/" + expanded;
  };

  std::vector<Resource> resources;
  // String-table entries, gathered into blocks of sixteen: (block, language) -> 16 texts.
  std::map<std::pair<std::uint32_t, std::uint16_t>, std::vector<std::u16string>> blocks;
  std::map<std::pair<std::uint32_t, std::uint16_t>, int> blockLine;
  std::set<std::pair<std::uint32_t, std::uint16_t>> stringIds;
  std::string text;
  int number = 0;
  while (std::getline(in, text)) {
    ++number;
    const std::vector<std::string> w = Words(text, number);
    if (w.empty()) continue;
    if (w.size() != 5) throw ManifestError(number, "expected TYPE NAME LANGUAGE KIND ARGUMENT");
    Resource r;
    r.line = number;
    r.language = static_cast<std::uint16_t>(Number(w[2], number, 0xFFFF, "language"));
    const std::string& kind = w[3];
    const std::string upperType = MakeKey(w[0], number, "type").name;
    if (upperType == "STRING") {
      if (kind != "string") throw ManifestError(number, "a STRING resource takes: string \"text\"");
      const std::uint32_t id = Number(w[1], number, 0xFFFF, "string id");
      if (!stringIds.emplace(id, r.language).second)
        throw ManifestError(number, "string " + std::to_string(id) + " is given twice for this language");
      auto& block = blocks[{(id >> 4) + 1, r.language}];
      block.resize(16);
      block[id & 15] = qbrc::Utf16(w[4]);
      if (block[id & 15].empty()) throw ManifestError(number, "a string-table entry cannot be empty");
      blockLine.emplace(std::make_pair((id >> 4) + 1, r.language), number);
      continue;
    }
    r.type = upperType == "VERSION" ? Key{kRtVersion, ""} : MakeKey(w[0], number, "type");
    r.name = MakeKey(w[1], number, "name");
    if (kind == "file") {
      r.data = ReadFile(resolve(w[4], number), number, inputs);
    } else if (kind == "version") {
      const std::string path = resolve(w[4], number);
      const std::vector<std::uint8_t> bytes = ReadFile(path, number, inputs);
      try {
        r.data = qbrc::EncodeVersionInfo(qbrc::ParseVersionInfo(std::string(bytes.begin(), bytes.end())));
      } catch (const std::runtime_error& e) {
        throw ManifestError(number, path + ": " + e.what());
      }
    } else {
      throw ManifestError(number, "unknown kind '" + kind + "' (file, string or version)");
    }
    resources.push_back(std::move(r));
  }
  for (const auto& [key, texts] : blocks) {
    Resource r;
    r.type = Key{kRtString, ""};
    r.name = Key{key.first, ""};
    r.language = key.second;
    r.line = blockLine[key];
    for (const std::u16string& s : texts) {
      Put16(r.data, static_cast<std::uint16_t>(s.size()));
      for (char16_t u : s) Put16(r.data, u);
    }
    resources.push_back(std::move(r));
  }
  for (std::size_t i = 0; i < resources.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (resources[i].type == resources[j].type && resources[i].name == resources[j].name &&
          resources[i].language == resources[j].language)
        throw ManifestError(resources[i].line, "this resource is given twice (same type, name and language)");
  return resources;
}

std::vector<std::uint8_t> EncodeSection(const std::vector<Resource>& resources) {
  namespace fmt = qb::rsrc;
  std::vector<std::uint8_t> names;  // placed after the entries
  std::vector<std::uint8_t> out;
  const std::size_t namesStart = fmt::kHeaderSize + resources.size() * fmt::kEntrySize;
  auto nameRef = [&](const Key& key) -> std::uint32_t {
    if (key.name.empty()) return fmt::kNoName;
    const auto at = static_cast<std::uint32_t>(namesStart + names.size());
    Put16(names, static_cast<std::uint16_t>(key.name.size()));
    names.insert(names.end(), key.name.begin(), key.name.end());
    return at;
  };
  std::vector<std::uint32_t> typeNames, nameNames;
  typeNames.reserve(resources.size());
  nameNames.reserve(resources.size());
  for (const Resource& r : resources) {
    typeNames.push_back(nameRef(r.type));
    nameNames.push_back(nameRef(r.name));
  }
  std::size_t dataAt = namesStart + names.size();
  std::vector<std::uint32_t> offsets;
  offsets.reserve(resources.size());
  for (const Resource& r : resources) {
    dataAt = (dataAt + fmt::kDataAlignment - 1) / fmt::kDataAlignment * fmt::kDataAlignment;
    offsets.push_back(static_cast<std::uint32_t>(dataAt));
    dataAt += r.data.size();
  }
  if (dataAt > 0xFFFFFFFFu) throw std::runtime_error("resources too large");

  out.insert(out.end(), fmt::kMagic.begin(), fmt::kMagic.end());
  Put16(out, fmt::kFormatMajor);
  Put16(out, fmt::kFormatMinor);
  Put32(out, static_cast<std::uint32_t>(dataAt));
  Put32(out, static_cast<std::uint32_t>(resources.size()));
  for (std::size_t i = 0; i < resources.size(); ++i) {
    const Resource& r = resources[i];
    Put32(out, r.type.name.empty() ? r.type.id : 0);
    Put32(out, typeNames[i]);
    Put32(out, r.name.name.empty() ? r.name.id : 0);
    Put32(out, nameNames[i]);
    Put16(out, r.language);
    Put16(out, 0);
    Put32(out, offsets[i]);
    Put32(out, static_cast<std::uint32_t>(r.data.size()));
  }
  out.insert(out.end(), names.begin(), names.end());
  for (std::size_t i = 0; i < resources.size(); ++i) {
    out.resize(offsets[i], 0);
    out.insert(out.end(), resources[i].data.begin(), resources[i].data.end());
  }
  return out;
}

// A Win32 .res file: an empty entry that marks the format, then each resource's header (sizes,
// type and name as 0xFFFF and a number or as an upper-case UTF-16 name, language) and its data,
// both padded to four bytes.
std::vector<std::uint8_t> EncodeWin32Res(const std::vector<Resource>& resources) {
  constexpr std::uint16_t kMoveablePureDiscardable = 0x1030;
  const auto putKey = [](std::vector<std::uint8_t>& out, const Key& key) {
    if (key.name.empty()) {
      Put16(out, 0xFFFF);
      Put16(out, static_cast<std::uint16_t>(key.id));
      return;
    }
    for (const char c : key.name) Put16(out, static_cast<std::uint8_t>(c));
    Put16(out, 0);
  };
  const auto pad = [](std::vector<std::uint8_t>& out) { out.resize((out.size() + 3) / 4 * 4, 0); };
  std::vector<std::uint8_t> out;
  const auto entry = [&](const Key& type, const Key& name, std::uint16_t language, std::uint16_t flags,
                         const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> header;
    putKey(header, type);
    putKey(header, name);
    pad(header);
    Put32(header, 0);  // data version
    Put16(header, flags);
    Put16(header, language);
    Put32(header, 0);  // version
    Put32(header, 0);  // characteristics
    if (data.size() > 0xFFFFFFFFu) throw std::runtime_error("a resource is too large");
    Put32(out, static_cast<std::uint32_t>(data.size()));
    Put32(out, static_cast<std::uint32_t>(header.size() + 8));
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), data.begin(), data.end());
    pad(out);
  };
  entry(Key{0, ""}, Key{0, ""}, 0, 0, {});
  for (const Resource& r : resources) entry(r.type, r.name, r.language, kMoveablePureDiscardable, r.data);
  return out;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  return quillbox::tools::WriteFileAtomically(path, bytes);
}

// The path goes into an assembler string inside a C++ string; plain paths need no escapes, and
// anything else is refused rather than half-escaped.
std::string PathForAssembler(const std::string& path) {
  if (path.find_first_of("\"\\\n") != std::string::npos)
    throw std::runtime_error("output path must not contain quotes, backslashes or line breaks: " + path);
  return path;
}

int Usage() {
  std::cerr << "usage: qbrc [-D NAME=VALUE]... [--output FILE.res [--source FILE.cpp]] [--win32-res FILE.res]\n"
               "            [--depfile FILE.d] MANIFEST\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> defines;
  std::string output, source, win32Res, depfile, manifest;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    if (arg == "-D") {
      std::string definition;
      if (!value(definition)) return Usage();
      const auto eq = definition.find('=');
      if (eq == std::string::npos || eq == 0) return Usage();
      defines[definition.substr(0, eq)] = definition.substr(eq + 1);
    } else if (arg == "--output") {
      if (!value(output)) return Usage();
    } else if (arg == "--source") {
      if (!value(source)) return Usage();
    } else if (arg == "--win32-res") {
      if (!value(win32Res)) return Usage();
    } else if (arg == "--depfile") {
      if (!value(depfile)) return Usage();
    } else if (arg.starts_with('-') || !manifest.empty()) {
      return Usage();  // an unknown option, or a second manifest
    } else {
      manifest = arg;
    }
  }
  if (manifest.empty() || (output.empty() && win32Res.empty()) || (output.empty() && !source.empty())) return Usage();

  try {
    std::vector<std::string> inputs;
    const std::vector<Resource> resources = ReadManifest(manifest, defines, inputs);
    const auto write = [](const std::string& path, const std::vector<std::uint8_t>& bytes) {
      if (WriteFile(path, std::string(bytes.begin(), bytes.end()))) return true;
      std::cerr << path << ": error: cannot write the file\n";
      return false;
    };
    if (!output.empty() && !write(output, EncodeSection(resources))) return 1;
    if (!win32Res.empty() && !write(win32Res, EncodeWin32Res(resources))) return 1;
    if (!source.empty()) {
      // The section is allocated ("a") so stripping the module keeps it.
      const std::string text = "// Generated by qbrc from " + manifest + ". Do not edit.\n"
                               "// Places the module's resources in its ELF section .qbrsrc.\n"
                               "asm(\".pushsection .qbrsrc,\\\"a\\\",@progbits\\n\"\n"
                               "    \".balign 16\\n\"\n"
                               "    \".incbin \\\"" + PathForAssembler(output) + "\\\"\\n\"\n"
                               "    \".popsection\\n\");\n";
      if (!WriteFile(source, text)) {
        std::cerr << source << ": error: cannot write the file\n";
        return 1;
      }
    }
    if (!depfile.empty()) {
      std::string text = (output.empty() ? win32Res : output) + ":";
      for (const std::string& input : inputs) {
        text += " ";
        for (char c : input) {
          if (c == ' ' || c == '#' || c == '$') text += '\\';
          text += c;
        }
      }
      text += "\n";
      if (!WriteFile(depfile, text)) {
        std::cerr << depfile << ": error: cannot write the file\n";
        return 1;
      }
    }
  } catch (const ManifestError& e) {
    std::cerr << manifest << ":" << e.line << ": error: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << manifest << ": error: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
