// A thin RAII layer over SQLite: a database connection, prepared statements with bound
// parameters (no caller text ever enters SQL otherwise), and a transaction that rolls back
// unless committed. Errors carry SQLite's own result code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hcf/core/bytes.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"

struct sqlite3;
struct sqlite3_stmt;

HCF_NAMESPACE_BEGIN
namespace sql {

/// A failure of SQLite (or of a file underneath).
class Failure : public std::exception {
 public:
  Failure(int code, std::string message) : code_(code), message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  int code() const { return code_; }
  /// As the kit's error value (the SQLite code kept inside).
  HCFError error() const;

 private:
  int code_;
  std::string message_;
};

class Database;

/// A prepared statement. Bind by 1-based index; `step` returns true while rows come.
class Statement {
 public:
  Statement(Database& db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, std::int64_t value);
  Statement& bind(int index, double value);
  Statement& bind(int index, std::string_view value);
  Statement& bind(int index, const Bytes& value);
  Statement& bindNull(int index);
  Statement& bind(int index, const std::optional<std::string>& value);
  /// Runs one step: true when a row is ready.
  bool step();
  /// Runs to the end (for statements without rows).
  void run();
  void reset();

  bool isNull(int column) const;
  std::int64_t int64(int column) const;
  double real(int column) const;
  std::string text(int column) const;
  /// The column's text, valid until the next step or reset (empty for NULL).
  std::string_view textView(int column) const;
  std::optional<std::string> optionalText(int column) const;
  Bytes blob(int column) const;
  std::optional<Bytes> optionalBlob(int column) const;

 private:
  Database& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

/// How a connection uses its file.
enum class OpenMode {
  Shared,    ///< Created when missing, WAL mode: readers and writers on several threads.
  Catalog,   ///< Created when missing, rollback journal, memory-mapped reads: a file that is
             ///< read by many threads, written rarely and replaced whole by a rename (a WAL's
             ///< companion files would outlive the file they belong to).
  ReadOnly,  ///< An existing file, never written.
  Bulk,      ///< One writer filling a new file that is thrown away on failure: no journal,
             ///< no syncing, a large page cache.
};

/// One connection, used on one thread.
class Database {
 public:
  /// Opens the file with a busy time-out so that writers on other threads wait instead of
  /// failing. A file that is not a database fails here.
  explicit Database(const std::filesystem::path& file, OpenMode mode = OpenMode::Shared);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void exec(std::string_view sql);
  /// SQLite's plan of `sql` (EXPLAIN QUERY PLAN), one line per step, nested steps indented.
  std::vector<std::string> queryPlan(std::string_view sql);
  std::int64_t userVersion();
  /// The rowid of the last row inserted on this connection.
  std::int64_t lastInsertRowid();
  void setUserVersion(std::int64_t version);
  sqlite3* handle() { return db_; }
  [[noreturn]] void fail(int code) const;

 private:
  void enterWal();

  sqlite3* db_ = nullptr;
};

/// A read transaction: everything read on the connection while it lives sees one state of
/// the file. Nothing when the connection is already in a transaction.
class HCF_API ReadTransaction {
 public:
  explicit ReadTransaction(Database& db);
  ~ReadTransaction();
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

 private:
  Database& db_;
  bool began_ = false;
};

/// A write transaction (BEGIN IMMEDIATE): rolled back when destroyed uncommitted.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  void commit();

 private:
  Database& db_;
  bool done_ = false;
};

}  // namespace sql
HCF_NAMESPACE_END
