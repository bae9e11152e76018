#include "version_block.h"

#include <sstream>
#include <stdexcept>

namespace qbrc {
namespace {

[[noreturn]] void Fail(int line, const std::string& message) {
  throw std::runtime_error("line " + std::to_string(line) + ": " + message);
}

// Splits a line into words; a double-quoted word may hold spaces and is returned unquoted.
std::vector<std::string> Words(const std::string& line, int number) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
      ++i;
      continue;
    }
    if (line[i] == '#') break;
    if (line[i] == '"') {
      const auto close = line.find('"', i + 1);
      if (close == std::string::npos) Fail(number, "string is not closed");
      words.push_back(line.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    const auto end = line.find_first_of(" \t\r", i);
    words.push_back(line.substr(i, end == std::string::npos ? std::string::npos : end - i));
    i = end == std::string::npos ? line.size() : end;
  }
  return words;
}

std::uint32_t Number(const std::string& text, int line, std::uint64_t max) {
  try {
    std::size_t used = 0;
    const unsigned long long value = std::stoull(text, &used, 0);
    if (used != text.size() || value > max) throw std::out_of_range(text);
    return static_cast<std::uint32_t>(value);
  } catch (const std::exception&) {
    Fail(line, "expected a number up to " + std::to_string(max) + ", found '" + text + "'");
  }
}

void FourParts(const std::string& text, int line, std::uint16_t (&out)[4]) {
  std::stringstream in(text);
  std::string part;
  int n = 0;
  while (std::getline(in, part, ',')) {
    if (n == 4) Fail(line, "a version has four parts: " + text);
    out[n++] = static_cast<std::uint16_t>(Number(part, line, 0xFFFF));
  }
  if (n != 4) Fail(line, "a version has four parts: " + text);
}

class Node {
 public:
  Node(std::string key, std::uint16_t type) : key_(std::move(key)), type_(type) {}
  void Value(std::vector<std::uint8_t> bytes, std::uint16_t valueLength) {
    value_ = std::move(bytes);
    valueLength_ = valueLength;
  }
  void Add(Node child) { children_.push_back(std::move(child)); }

  // wLength counts the node up to the end of its last child, without padding after it.
  std::vector<std::uint8_t> Encode() const {
    std::vector<std::uint8_t> out(6, 0);
    for (char16_t u : Utf16(key_)) Put16(out, u);
    Put16(out, 0);
    Pad(out);
    out.insert(out.end(), value_.begin(), value_.end());
    for (const Node& child : children_) {
      Pad(out);
      const std::vector<std::uint8_t> bytes = child.Encode();
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
    if (out.size() > 0xFFFF) throw std::runtime_error("version block too large");
    Set16(out, 0, static_cast<std::uint16_t>(out.size()));
    Set16(out, 2, valueLength_);
    Set16(out, 4, type_);
    return out;
  }

  static void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  static void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, static_cast<std::uint16_t>(v));
    Put16(out, static_cast<std::uint16_t>(v >> 16));
  }

 private:
  static void Set16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  static void Pad(std::vector<std::uint8_t>& out) {
    while (out.size() % 4 != 0) out.push_back(0);
  }

  std::string key_;
  std::uint16_t type_;  // 1 text, 0 binary
  std::vector<std::uint8_t> value_;
  std::uint16_t valueLength_ = 0;
  std::vector<Node> children_;
};

}  // namespace

std::u16string Utf16(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    char32_t cp;
    int extra;
    if (c < 0x80) { cp = c; extra = 0; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
    else throw std::runtime_error("text is not UTF-8");
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
        throw std::runtime_error("text is not UTF-8");
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += 1 + extra;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

VersionInfo ParseVersionInfo(const std::string& text) {
  VersionInfo info;
  bool haveFile = false, haveProduct = false;
  std::stringstream in(text);
  std::string line;
  int number = 0;
  VersionInfo::StringTable* table = nullptr;
  while (std::getline(in, line)) {
    ++number;
    const std::vector<std::string> w = Words(line, number);
    if (w.empty()) continue;
    const std::string& key = w[0];
    auto one = [&]() -> const std::string& {
      if (w.size() != 2) Fail(number, key + " takes one value");
      return w[1];
    };
    if (key == "FILEVERSION") {
      FourParts(one(), number, info.fileVersion);
      haveFile = true;
    } else if (key == "PRODUCTVERSION") {
      FourParts(one(), number, info.productVersion);
      haveProduct = true;
    } else if (key == "FILEFLAGSMASK") {
      info.fileFlagsMask = Number(one(), number, 0xFFFFFFFF);
    } else if (key == "FILEFLAGS") {
      info.fileFlags = Number(one(), number, 0xFFFFFFFF);
    } else if (key == "FILEOS") {
      info.fileOs = Number(one(), number, 0xFFFFFFFF);
    } else if (key == "FILETYPE") {
      info.fileType = Number(one(), number, 0xFFFFFFFF);
    } else if (key == "FILESUBTYPE") {
      info.fileSubtype = Number(one(), number, 0xFFFFFFFF);
    } else if (key == "BLOCK") {
      const std::string& name = one();
      if (name.size() != 8 || name.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        Fail(number, "a string block is named by 8 hexadecimal digits, found '" + name + "'");
      info.stringTables.push_back({name, {}});
      table = &info.stringTables.back();
    } else if (key == "VALUE") {
      if (table == nullptr) Fail(number, "VALUE outside a BLOCK");
      if (w.size() != 3) Fail(number, "VALUE takes a name and a quoted text");
      table->values.emplace_back(w[1], w[2]);
    } else if (key == "TRANSLATION") {
      if (w.size() != 3) Fail(number, "TRANSLATION takes a language and a code page");
      info.translations.emplace_back(static_cast<std::uint16_t>(Number(w[1], number, 0xFFFF)),
                                     static_cast<std::uint16_t>(Number(w[2], number, 0xFFFF)));
    } else {
      Fail(number, "unknown keyword '" + key + "'");
    }
  }
  if (!haveFile || !haveProduct) Fail(number, "FILEVERSION and PRODUCTVERSION are required");
  return info;
}

std::vector<std::uint8_t> EncodeVersionInfo(const VersionInfo& info) {
  std::vector<std::uint8_t> fixed;
  Node::Put32(fixed, 0xFEEF04BD);  // signature
  Node::Put32(fixed, 0x00010000);  // structure version 1.0
  Node::Put32(fixed, (std::uint32_t{info.fileVersion[0]} << 16) | info.fileVersion[1]);
  Node::Put32(fixed, (std::uint32_t{info.fileVersion[2]} << 16) | info.fileVersion[3]);
  Node::Put32(fixed, (std::uint32_t{info.productVersion[0]} << 16) | info.productVersion[1]);
  Node::Put32(fixed, (std::uint32_t{info.productVersion[2]} << 16) | info.productVersion[3]);
  Node::Put32(fixed, info.fileFlagsMask);
  Node::Put32(fixed, info.fileFlags);
  Node::Put32(fixed, info.fileOs);
  Node::Put32(fixed, info.fileType);
  Node::Put32(fixed, info.fileSubtype);
  Node::Put32(fixed, 0);  // date
  Node::Put32(fixed, 0);
  Node root("VS_VERSION_INFO", 0);
  root.Value(fixed, static_cast<std::uint16_t>(fixed.size()));

  if (!info.stringTables.empty()) {
    Node strings("StringFileInfo", 1);
    for (const VersionInfo::StringTable& t : info.stringTables) {
      Node table(t.key, 1);
      for (const auto& [name, value] : t.values) {
        // The value is stored with its terminating zero, which its length (in units) counts.
        std::vector<std::uint8_t> bytes;
        const std::u16string units = Utf16(value);
        for (char16_t u : units) Node::Put16(bytes, u);
        Node::Put16(bytes, 0);
        Node entry(name, 1);
        entry.Value(std::move(bytes), static_cast<std::uint16_t>(units.size() + 1));
        table.Add(std::move(entry));
      }
      strings.Add(std::move(table));
    }
    root.Add(std::move(strings));
  }
  if (!info.translations.empty()) {
    Node vars("VarFileInfo", 1);
    std::vector<std::uint8_t> bytes;
    for (const auto& [language, codePage] : info.translations) {
      Node::Put16(bytes, language);
      Node::Put16(bytes, codePage);
    }
    Node translation("Translation", 0);
    const auto size = static_cast<std::uint16_t>(bytes.size());
    translation.Value(std::move(bytes), size);
    vars.Add(std::move(translation));
    root.Add(std::move(vars));
  }
  return root.Encode();
}

}  // namespace qbrc
