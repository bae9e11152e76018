// The registry's storage: one SQLite database per user holding keys and values.
//
// Every access runs inside a Transaction. The outermost one takes the process-wide registry lock
// and opens an SQLite transaction (IMMEDIATE for writes, so two processes queue on SQLite's busy
// timeout instead of failing on a lock upgrade); nested ones become savepoints. A registrar run
// wraps its whole script in one write transaction, so a crash leaves the script either fully
// applied or not at all, and a concurrent registration never sees it half done.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qb::platform::registry {

using KeyId = std::int64_t;
inline constexpr KeyId kClassesRoot = 1;
inline constexpr KeyId kCurrentUser = 2;
inline constexpr KeyId kLocalMachine = 3;

// Windows limits, in UTF-16 units.
inline constexpr std::size_t kMaxKeyNameUnits = 255;
inline constexpr std::size_t kMaxValueNameUnits = 16383;

struct StoredValue {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct KeyInfo {
  DWORD subKeys = 0;
  DWORD maxSubKeyUnits = 0;
  DWORD values = 0;
  DWORD maxValueNameUnits = 0;
  DWORD maxValueBytes = 0;
  std::uint64_t lastWrite = 0;  // FILETIME ticks
};

// Thrown by the store's operations on an SQLite failure; Transaction users turn it into a status.
struct StoreError {
  LSTATUS status;
};

class Transaction {
 public:
  enum class Mode { Read, Write };
  // On failure to open the database or start the transaction, status() is not ERROR_SUCCESS and
  // no operation may be called.
  explicit Transaction(Mode mode);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  LSTATUS status() const { return status_; }
  // Makes the changes permanent (at the outermost level) or keeps them for the enclosing one.
  LSTATUS Commit();
  // Identifies the open database; handles remember it so they never reach into another file.
  std::uint64_t Generation() const;

  bool KeyExists(KeyId key);
  std::optional<KeyId> FindChild(KeyId parent, std::u16string_view name);
  KeyId CreateChild(KeyId parent, std::u16string_view name);
  // Removes the key with everything below it.
  void DeleteKey(KeyId key);
  bool HasSubKeys(KeyId key);
  std::optional<std::u16string> SubKeyAt(KeyId key, DWORD index, std::uint64_t* lastWrite);
  std::vector<KeyId> SubKeys(KeyId key);

  std::optional<StoredValue> GetValue(KeyId key, std::u16string_view name);
  void SetValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, std::size_t size);
  bool DeleteValue(KeyId key, std::u16string_view name);
  void DeleteAllValues(KeyId key);
  std::optional<StoredValue> ValueAt(KeyId key, DWORD index);
  KeyInfo Info(KeyId key);

 private:
  void Touch(KeyId key);

  LSTATUS status_ = ERROR_SUCCESS;
  bool outermost_ = false;
  bool done_ = false;
};

}  // namespace qb::platform::registry
