#include "registry_store.h"

#include "registry_database.h"
#include "shared/case_folding.h"

#include <sqlite3.h>

#include <ctime>

namespace qb::platform::registry {
namespace {

// Big-endian bytes, so that SQLite's memcmp order of the blobs is the order of the code units
// (the order RegEnumKeyExW reports subkeys in).
std::string FoldedKey(std::u16string_view name) {
  const std::u16string folded = FoldName(name);
  std::string bytes;
  bytes.reserve(folded.size() * 2);
  for (char16_t unit : folded) {
    bytes.push_back(static_cast<char>(unit >> 8));
    bytes.push_back(static_cast<char>(unit & 0xFF));
  }
  return bytes;
}

std::u16string NameFromColumn(Statement& statement, int column) {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement.get(), column));
  const int size = sqlite3_column_bytes(statement.get(), column);
  std::u16string name(static_cast<std::size_t>(size) / 2, u'\0');
  if (size > 0) __builtin_memcpy(name.data(), bytes, name.size() * 2);
  return name;
}

void BindName(Statement& statement, int index, std::u16string_view name) {
  statement.BindBlob(index, name.data(), name.size() * sizeof(char16_t));
}

std::uint64_t FileTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  constexpr std::uint64_t kEpochDifferenceSeconds = 11644473600ULL;  // 1601-01-01 to 1970-01-01
  return (static_cast<std::uint64_t>(now.tv_sec) + kEpochDifferenceSeconds) * 10000000ULL +
         static_cast<std::uint64_t>(now.tv_nsec) / 100;
}

StoredValue ValueFromRow(Statement& statement) {
  StoredValue value;
  value.name = NameFromColumn(statement, 0);
  value.type = static_cast<DWORD>(sqlite3_column_int64(statement.get(), 1));
  const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(statement.get(), 2));
  const int size = sqlite3_column_bytes(statement.get(), 2);
  if (size > 0) value.data.assign(data, data + size);
  return value;
}

}  // namespace

Transaction::Transaction(Mode mode) {
  Database& database = Database::Instance();
  database.Lock();
  outermost_ = database.depth == 0;
  ++database.depth;
  try {
    if (outermost_) {
      status_ = database.EnsureOpen();
      if (status_ == ERROR_SUCCESS) database.Execute(mode == Mode::Write ? "BEGIN IMMEDIATE" : "BEGIN");
    } else {
      database.RequireOpen();
      database.Execute("SAVEPOINT nested");
    }
  } catch (const StoreError& error) {
    status_ = error.status;
  }
  if (status_ != ERROR_SUCCESS) done_ = true;
}

Transaction::~Transaction() {
  Database& database = Database::Instance();
  if (!done_) {
    try {
      if (outermost_) {
        database.Execute("ROLLBACK");
      } else {
        database.Execute("ROLLBACK TO nested");
        database.Execute("RELEASE nested");
      }
    } catch (const StoreError&) {
      // SQLite rolls an interrupted transaction back itself when the connection next writes.
    }
  }
  --database.depth;
  database.Unlock();
}

LSTATUS Transaction::Commit() {
  if (done_) return status_ == ERROR_SUCCESS ? ERROR_INVALID_HANDLE : status_;
  try {
    Database::Instance().Execute(outermost_ ? "COMMIT" : "RELEASE nested");
  } catch (const StoreError& error) {
    return error.status;  // the destructor rolls back
  }
  done_ = true;
  return ERROR_SUCCESS;
}

std::uint64_t Transaction::Generation() const { return Database::Instance().generation; }

bool Transaction::KeyExists(KeyId key) {
  Statement statement("SELECT 1 FROM keys WHERE id = ?1");
  statement.BindInt(1, key);
  return statement.Step();
}

std::optional<KeyId> Transaction::FindChild(KeyId parent, std::u16string_view name) {
  Statement statement("SELECT id FROM keys WHERE parent = ?1 AND folded = ?2");
  statement.BindInt(1, parent);
  const std::string folded = FoldedKey(name);
  statement.BindBlob(2, folded.data(), folded.size());
  if (!statement.Step()) return std::nullopt;
  return sqlite3_column_int64(statement.get(), 0);
}

KeyId Transaction::CreateChild(KeyId parent, std::u16string_view name) {
  const std::uint64_t now = FileTimeNow();
  {
    Statement statement("INSERT INTO keys(parent, name, folded, written) VALUES (?1, ?2, ?3, ?4)");
    statement.BindInt(1, parent);
    BindName(statement, 2, name);
    const std::string folded = FoldedKey(name);
    statement.BindBlob(3, folded.data(), folded.size());
    statement.BindInt(4, static_cast<std::int64_t>(now));
    statement.Step();
  }
  const KeyId created = sqlite3_last_insert_rowid(Database::Instance().connection());
  Touch(parent);
  return created;
}

void Transaction::DeleteKey(KeyId key) {
  static constexpr char kSubtree[] =
      "WITH RECURSIVE subtree(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN subtree s ON k.parent = s.id) ";
  std::optional<KeyId> parent;
  {
    Statement statement("SELECT parent FROM keys WHERE id = ?1");
    statement.BindInt(1, key);
    if (statement.Step() && sqlite3_column_type(statement.get(), 0) != SQLITE_NULL)
      parent = sqlite3_column_int64(statement.get(), 0);
  }
  {
    static const std::string sql = std::string(kSubtree) + "DELETE FROM vals WHERE key IN (SELECT id FROM subtree)";
    Statement statement(sql);
    statement.BindInt(1, key);
    statement.Step();
  }
  {
    static const std::string sql = std::string(kSubtree) + "DELETE FROM keys WHERE id IN (SELECT id FROM subtree)";
    Statement statement(sql);
    statement.BindInt(1, key);
    statement.Step();
  }
  if (parent) Touch(*parent);
}

bool Transaction::HasSubKeys(KeyId key) {
  Statement statement("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
  statement.BindInt(1, key);
  return statement.Step();
}

std::optional<std::u16string> Transaction::SubKeyAt(KeyId key, DWORD index, std::uint64_t* lastWrite) {
  Statement statement("SELECT name, written FROM keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2");
  statement.BindInt(1, key);
  statement.BindInt(2, index);
  if (!statement.Step()) return std::nullopt;
  if (lastWrite != nullptr) *lastWrite = static_cast<std::uint64_t>(sqlite3_column_int64(statement.get(), 1));
  return NameFromColumn(statement, 0);
}

std::vector<KeyId> Transaction::SubKeys(KeyId key) {
  Statement statement("SELECT id FROM keys WHERE parent = ?1 ORDER BY folded");
  statement.BindInt(1, key);
  std::vector<KeyId> ids;
  while (statement.Step()) ids.push_back(sqlite3_column_int64(statement.get(), 0));
  return ids;
}

std::optional<StoredValue> Transaction::GetValue(KeyId key, std::u16string_view name) {
  Statement statement("SELECT name, type, data FROM vals WHERE key = ?1 AND folded = ?2");
  statement.BindInt(1, key);
  const std::string folded = FoldedKey(name);
  statement.BindBlob(2, folded.data(), folded.size());
  if (!statement.Step()) return std::nullopt;
  return ValueFromRow(statement);
}

void Transaction::SetValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) {
  {
    // An existing value keeps its name's spelling and its place in the enumeration order.
    Statement statement(
        "INSERT INTO vals(key, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    statement.BindInt(1, key);
    BindName(statement, 2, name);
    const std::string folded = FoldedKey(name);
    statement.BindBlob(3, folded.data(), folded.size());
    statement.BindInt(4, type);
    statement.BindBlob(5, data, size);
    statement.Step();
  }
  Touch(key);
}

bool Transaction::DeleteValue(KeyId key, std::u16string_view name) {
  {
    Statement statement("DELETE FROM vals WHERE key = ?1 AND folded = ?2");
    statement.BindInt(1, key);
    const std::string folded = FoldedKey(name);
    statement.BindBlob(2, folded.data(), folded.size());
    statement.Step();
  }
  if (sqlite3_changes(Database::Instance().connection()) == 0) return false;
  Touch(key);
  return true;
}

void Transaction::DeleteAllValues(KeyId key) {
  Statement statement("DELETE FROM vals WHERE key = ?1");
  statement.BindInt(1, key);
  statement.Step();
}

std::optional<StoredValue> Transaction::ValueAt(KeyId key, DWORD index) {
  Statement statement("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2");
  statement.BindInt(1, key);
  statement.BindInt(2, index);
  if (!statement.Step()) return std::nullopt;
  return ValueFromRow(statement);
}

KeyInfo Transaction::Info(KeyId key) {
  KeyInfo info;
  {
    Statement statement("SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent = ?1");
    statement.BindInt(1, key);
    statement.Step();
    info.subKeys = static_cast<DWORD>(sqlite3_column_int64(statement.get(), 0));
    info.maxSubKeyUnits = static_cast<DWORD>(sqlite3_column_int64(statement.get(), 1) / 2);
  }
  {
    Statement statement(
        "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(data)), 0) FROM vals WHERE key = ?1");
    statement.BindInt(1, key);
    statement.Step();
    info.values = static_cast<DWORD>(sqlite3_column_int64(statement.get(), 0));
    info.maxValueNameUnits = static_cast<DWORD>(sqlite3_column_int64(statement.get(), 1) / 2);
    info.maxValueBytes = static_cast<DWORD>(sqlite3_column_int64(statement.get(), 2));
  }
  {
    Statement statement("SELECT written FROM keys WHERE id = ?1");
    statement.BindInt(1, key);
    if (statement.Step()) info.lastWrite = static_cast<std::uint64_t>(sqlite3_column_int64(statement.get(), 0));
  }
  return info;
}

void Transaction::Touch(KeyId key) {
  Statement statement("UPDATE keys SET written = ?2 WHERE id = ?1");
  statement.BindInt(1, key);
  statement.BindInt(2, static_cast<std::int64_t>(FileTimeNow()));
  statement.Step();
}

}  // namespace qb::platform::registry
