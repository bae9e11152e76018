#include "registry_handles.h"

#include <memory>
#include <mutex>
#include <unordered_map>

struct HKEY__ {
  qb::platform::registry::KeyId id;
  std::uint64_t generation;
  REGSAM access;
};

namespace qb::platform::registry {
namespace {

struct HandleTable {
  std::mutex lock;
  std::unordered_map<HKEY, std::unique_ptr<HKEY__>> open;
};

HandleTable& Handles() {
  static auto* table = new HandleTable;  // handles may be closed during process exit
  return *table;
}

std::optional<KeyId> PredefinedRoot(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return kClassesRoot;
  if (key == HKEY_CURRENT_USER) return kCurrentUser;
  if (key == HKEY_LOCAL_MACHINE) return kLocalMachine;
  return std::nullopt;
}

}  // namespace

bool IsPredefined(HKEY key) { return PredefinedRoot(key).has_value(); }

LSTATUS ResolveHandle(HKEY key, Transaction& transaction, ResolvedKey& resolved) {
  if (auto root = PredefinedRoot(key)) {
    resolved = {*root, KEY_ALL_ACCESS};
    return ERROR_SUCCESS;
  }
  {
    HandleTable& table = Handles();
    std::lock_guard guard(table.lock);
    auto found = table.open.find(key);
    if (found == table.open.end() || found->second->generation != transaction.Generation()) return ERROR_INVALID_HANDLE;
    resolved = {found->second->id, found->second->access};
  }
  return transaction.KeyExists(resolved.id) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

HKEY IssueHandle(KeyId id, std::uint64_t generation, REGSAM access) {
  auto record = std::make_unique<HKEY__>(HKEY__{id, generation, access});
  HKEY handle = record.get();
  HandleTable& table = Handles();
  std::lock_guard guard(table.lock);
  table.open.emplace(handle, std::move(record));
  return handle;
}

LSTATUS CloseHandle(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  HandleTable& table = Handles();
  std::lock_guard guard(table.lock);
  return table.open.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS SplitPath(LPCWSTR path, std::vector<std::u16string_view>& parts) {
  parts.clear();
  if (path == nullptr || *path == 0) return ERROR_SUCCESS;
  const std::u16string_view text(path);
  if (text.front() == u'\\') return ERROR_BAD_PATHNAME;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(u'\\', start), text.size());
    if (end == start) return ERROR_BAD_PATHNAME;
    if (end - start > kMaxKeyNameUnits) return ERROR_INVALID_PARAMETER;
    parts.push_back(text.substr(start, end - start));
    start = end + 1;  // a single trailing backslash is tolerated, as Windows does
  }
  return ERROR_SUCCESS;
}

}  // namespace qb::platform::registry
