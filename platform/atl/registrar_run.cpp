// Applying a parsed registry script: registration writes what the script names, unregistration
// removes it again except what the script marks NoRemove.
#include "registrar_script.h"

#include "advapi32/registry_store.h"
#include "common/boundary.h"

namespace qb::platform::registrar {
namespace {

HRESULT FromStatus(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

LSTATUS DeleteTreeIfPresent(HKEY parent, const std::u16string& name) {
  const LSTATUS status = RegDeleteTreeW(parent, name.c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LSTATUS SetValue(HKEY key, const std::u16string& name, const ScriptValue& value) {
  return RegSetValueExW(key, name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
}

HRESULT Register(HKEY parent, const std::vector<ScriptNode>& nodes) {
  for (const ScriptNode& node : nodes) {
    if (node.isValue) {
      if (LSTATUS status = SetValue(parent, node.name, node.value); status != ERROR_SUCCESS) return FromStatus(status);
      continue;
    }
    if (node.flag == KeyFlag::Delete || node.flag == KeyFlag::ForceRemove) {
      if (LSTATUS status = DeleteTreeIfPresent(parent, node.name); status != ERROR_SUCCESS) return FromStatus(status);
      if (node.flag == KeyFlag::Delete) continue;
    }
    OpenKey key;
    LSTATUS status =
        RegCreateKeyExW(parent, node.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
    if (status == ERROR_SUCCESS && node.hasValue) status = SetValue(key.get(), u"", node.value);
    if (status != ERROR_SUCCESS) return FromStatus(status);
    if (HRESULT inner = Register(key.get(), node.children); FAILED(inner)) return inner;
  }
  return S_OK;
}

// Returns whether anything the script marks NoRemove survives at or below the entries, in which
// case their parent must stay too. `firstFailure` collects the first real failure.
bool Unregister(HKEY parent, const std::vector<ScriptNode>& nodes, HRESULT& firstFailure) {
  auto note = [&firstFailure](LSTATUS status) {
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(firstFailure))
      firstFailure = FromStatus(status);
  };
  bool kept = false;
  for (const ScriptNode& node : nodes) {
    if (node.isValue) {
      note(RegDeleteValueW(parent, node.name.c_str()));
      continue;
    }
    if (node.flag == KeyFlag::Delete) continue;  // only acts at registration
    OpenKey key;
    const LSTATUS opened = RegOpenKeyExW(parent, node.name.c_str(), 0, KEY_ALL_ACCESS, key.out());
    if (opened != ERROR_SUCCESS) {
      note(opened);
      continue;
    }
    const bool keptBelow = Unregister(key.get(), node.children, firstFailure);
    if (node.flag == KeyFlag::NoRemove || keptBelow) {
      kept = true;
      continue;
    }
    note(DeleteTreeIfPresent(parent, node.name));
  }
  return kept;
}

// One transaction for the whole script: a crash leaves all of it or none, and a concurrent
// registration never interleaves with it. A registration that fails part-way still commits what
// it wrote before the failure.
template <typename Apply>
HRESULT InOneTransaction(Apply apply) {
  return quillbox::HresultBoundary([&]() -> HRESULT {
    try {
      registry::Transaction transaction(registry::Transaction::Mode::Write);
      if (transaction.status() != ERROR_SUCCESS) return FromStatus(transaction.status());
      const HRESULT result = apply();
      if (LSTATUS committed = transaction.Commit(); committed != ERROR_SUCCESS) return FromStatus(committed);
      return result;
    } catch (const registry::StoreError& error) {
      return FromStatus(error.status);
    }
  });
}

}  // namespace

HRESULT RegisterScript(const std::vector<ScriptRoot>& roots) {
  return InOneTransaction([&roots] {
    for (const ScriptRoot& root : roots)
      if (HRESULT result = Register(root.root, root.children); FAILED(result)) return result;
    return S_OK;
  });
}

HRESULT UnregisterScript(const std::vector<ScriptRoot>& roots) {
  return InOneTransaction([&roots] {
    HRESULT firstFailure = S_OK;
    for (const ScriptRoot& root : roots) Unregister(root.root, root.children, firstFailure);
    return firstFailure;
  });
}

}  // namespace qb::platform::registrar
