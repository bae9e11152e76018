// Registry scripts stored as resources of a module file.
#include "registrar_source.h"

namespace qb::platform::registrar {

// The module's resources are read through the resource services once they are in place.
ScriptText ScriptFromResource(LPCOLESTR moduleFile, LPCOLESTR id, LPCOLESTR type) {
  if (moduleFile == nullptr || id == nullptr || type == nullptr) return {E_INVALIDARG, {}};
  return {E_NOTIMPL, {}};
}

ScriptText ScriptFromResource(LPCOLESTR moduleFile, UINT, LPCOLESTR type) {
  if (moduleFile == nullptr || type == nullptr) return {E_INVALIDARG, {}};
  return {E_NOTIMPL, {}};
}

}  // namespace qb::platform::registrar
