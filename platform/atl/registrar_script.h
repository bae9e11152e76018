// Registry scripts: the text in which a module describes its registry entries.
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {2A426405-...} = s 'Some Class'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// Tokens are separated by white space; a single-quoted token may hold anything, with '' for a
// quote. %NAME% anywhere in the text is replaced first (names case-insensitive, %% for a percent
// sign). The whole script is parsed before anything is written, so a malformed one writes nothing.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace qb::platform::registrar {

enum class KeyFlag { None, NoRemove, ForceRemove, Delete };

struct ScriptValue {
  DWORD type = REG_SZ;
  std::vector<BYTE> data;
};

// A key, or (isValue) a named value set with `val`.
struct ScriptNode {
  bool isValue = false;
  std::u16string name;
  KeyFlag flag = KeyFlag::None;
  bool hasValue = false;  // a key's default value, or the named value
  ScriptValue value;
  std::vector<ScriptNode> children;
};

struct ScriptRoot {
  HKEY root = nullptr;
  std::vector<ScriptNode> children;
};

using Replacements = std::vector<std::pair<std::u16string, std::u16string>>;

// Deep enough for any real script, shallow enough that a hostile one cannot exhaust the stack.
inline constexpr int kMaxNesting = 64;

// Both return S_OK or DISP_E_EXCEPTION (unknown or unterminated replacement; syntax error).
HRESULT ExpandReplacements(std::u16string_view script, const Replacements& replacements, std::u16string& expanded);
HRESULT ParseScript(std::u16string_view text, std::vector<ScriptRoot>& roots);

// Applies a parsed script to the registry in one transaction. Registration stops at the first
// failure and returns it (what was written until then stays); unregistration goes on past
// failures and returns the first one.
HRESULT RegisterScript(const std::vector<ScriptRoot>& roots);
HRESULT UnregisterScript(const std::vector<ScriptRoot>& roots);

}  // namespace qb::platform::registrar
