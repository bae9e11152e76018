// The process's connection to the registry database, and prepared statements over it. Used only
// by the registry store while it holds the registry lock.
#pragma once

#include <windows.h>

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qb::platform::registry {

// Where the database lives: QUILLBOX_REGISTRY, else $XDG_DATA_HOME/quillbox/registry.db, else
// ~/.local/share/quillbox/registry.db.
std::string RegistryPath();

class Database {
 public:
  static Database& Instance();

  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }

  // Opens the database named by the environment if it is not the open one (or if this process is
  // a fork child of the one that opened it), creating file and schema on first use. A file the
  // user may only read opens read-only: reads work, writes fail with ERROR_ACCESS_DENIED.
  LSTATUS EnsureOpen();
  // Throws unless a connection is open (for nested transactions).
  void RequireOpen() const;
  void Execute(const char* sql);
  // The statement for this SQL text, prepared on first use and kept for the connection's life.
  // Keyed by the text itself, so a text built at run time finds the statement its equal made.
  sqlite3_stmt* Prepare(std::string_view sql);
  sqlite3* connection() const { return db_; }

  int depth = 0;                // transactions currently open, guarded by the lock
  std::uint64_t generation = 0;  // changes whenever a different file is opened

 private:
  Database() = default;
  void Close();
  LSTATUS Open(const std::string& path);
  LSTATUS PrepareForWriting();
  // ERROR_SUCCESS when both tables and the three root keys are there, ERROR_ACCESS_DENIED when
  // they are not.
  LSTATUS SchemaComplete();
  LSTATUS OpenImmutable(const std::string& path);

  std::recursive_mutex lock_;
  sqlite3* db_ = nullptr;
  std::string path_;
  int pid_ = 0;
  // Transparent hashing: looking a text up does not copy it.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  std::unordered_map<std::string, sqlite3_stmt*, TextHash, std::equal_to<>> statements_;
};

// A cached prepared statement, reset when the scope ends. Step() returns true for a row, false
// when done, and throws StoreError on failure.
class Statement {
 public:
  explicit Statement(std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void BindInt(int index, std::int64_t value);
  void BindBlob(int index, const void* data, std::size_t size);
  bool Step();
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

LSTATUS StatusFromSqlite(int code);

}  // namespace qb::platform::registry
