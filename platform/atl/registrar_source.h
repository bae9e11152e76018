// Where a registrar run gets its script text from: a string, a file, or a module's resource.
// File and resource scripts are ANSI text (or UTF-16 if they start with its byte-order mark); the
// text ends at its first zero character.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <string>

namespace qb::platform::registrar {

struct ScriptText {
  HRESULT status = S_OK;
  std::u16string text;
};

ScriptText ScriptFromString(LPCOLESTR data);
ScriptText ScriptFromFile(LPCOLESTR fileName);
// `id` is a resource name, or "#number"; `type` likewise.
ScriptText ScriptFromResource(LPCOLESTR moduleFile, LPCOLESTR id, LPCOLESTR type);
ScriptText ScriptFromResource(LPCOLESTR moduleFile, UINT id, LPCOLESTR type);
// A path or resource name handed over as UTF-16, in the ANSI code page the file system uses.
std::string AnsiFromWide(LPCOLESTR text);
// Bytes as stored in a file or resource, decoded as described above.
std::u16string DecodeScriptBytes(const BYTE* bytes, std::size_t size);

}  // namespace qb::platform::registrar
