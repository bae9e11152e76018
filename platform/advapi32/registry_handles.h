// Open registry key handles. An HKEY is either one of the predefined roots or a record in this
// table; a handle that was never issued, or was closed, is refused instead of dereferenced.
#pragma once

#include "registry_store.h"
#include "common/boundary.h"

namespace qb::platform::registry {

struct ResolvedKey {
  KeyId id = 0;
  REGSAM access = 0;
};

// Checks the handle and that its key still exists. Call inside a transaction.
LSTATUS ResolveHandle(HKEY key, Transaction& transaction, ResolvedKey& resolved);
HKEY IssueHandle(KeyId id, std::uint64_t generation, REGSAM access);
LSTATUS CloseHandle(HKEY key);
bool IsPredefined(HKEY key);

// Splits "a\b\c" into its components. A null or empty path has none; a leading backslash or an
// empty component is ERROR_BAD_PATHNAME, an over-long component ERROR_INVALID_PARAMETER.
LSTATUS SplitPath(LPCWSTR path, std::vector<std::u16string_view>& parts);

// Runs `body` in a transaction of the given mode; commits when it returns ERROR_SUCCESS and rolls
// back otherwise. Store failures become their status.
template <typename Body>
LSTATUS RunInTransaction(Transaction::Mode mode, Body&& body) {
  return quillbox::StatusBoundary([&]() -> LSTATUS {
    try {
      Transaction transaction(mode);
      if (transaction.status() != ERROR_SUCCESS) return transaction.status();
      const LSTATUS status = body(transaction);
      if (status != ERROR_SUCCESS) return status;
      return transaction.Commit();
    } catch (const StoreError& error) {
      return error.status;
    }
  });
}

}  // namespace qb::platform::registry
