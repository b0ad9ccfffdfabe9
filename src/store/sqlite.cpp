#include "sqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "hcf/core/ht_utility.h"
#include "hcf/platform/predicate/predicate.h"

HCF_NAMESPACE_BEGIN
namespace sql {

namespace {
// How long a connection waits for another writer before giving up.
constexpr int kBusyTimeoutMs = 10000;

bool ascii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
}

// The order people expect of names: case and diacritics do not count ("apple" before "Banana",
// "Éclair" among the e's); texts equal so are ordered by their bytes, so the order is total.
int compareText(void*, int na, const void* pa, int nb, const void* pb) {
  const std::string_view a(static_cast<const char*>(pa), static_cast<std::size_t>(na));
  const std::string_view b(static_cast<const char*>(pb), static_cast<std::size_t>(nb));
  int folded = 0;
  if (ascii(a) && ascii(b)) {
    const auto n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n && folded == 0; ++i) {
      const int x = std::tolower(static_cast<unsigned char>(a[i]));
      const int y = std::tolower(static_cast<unsigned char>(b[i]));
      folded = x < y ? -1 : x > y ? 1 : 0;
    }
    if (folded == 0 && a.size() != b.size()) folded = a.size() < b.size() ? -1 : 1;
  } else {
    folded = predicate::foldCaseAndDiacritics(a).compare(predicate::foldCaseAndDiacritics(b));
  }
  if (folded != 0) return folded < 0 ? -1 : 1;
  const int raw = a.compare(b);
  return raw < 0 ? -1 : raw > 0 ? 1 : 0;
}
}  // namespace

HCFError Failure::error() const {
  HCFError e = HTUtility::storeError(message_);
  e.native = NativeError{"sqlite", code_, sqlite3_errstr(code_)};
  return e;
}

Database::Database(const std::filesystem::path& file, OpenMode mode) {
  const int flags = (mode == OpenMode::ReadOnly ? SQLITE_OPEN_READONLY
                                                : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                    SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(file.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw Failure(rc, message + " (" + file.string() + ")");
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_create_collation_v2(db_, "hcf_text", SQLITE_UTF8, nullptr, compareText, nullptr);
  try {
    // Reading the header here makes a file that is not a database fail now, not later.
    switch (mode) {
      case OpenMode::Shared:
        // Reading through a memory map spares a system call per page (a catalogue page of
        // products touches many).
        enterWal();
        exec("PRAGMA mmap_size=1073741824");
        break;
      case OpenMode::Catalog:
        // A file left in WAL mode by an earlier version goes back to a rollback journal when
        // no other connection holds it; until then it keeps working in WAL mode.
        exec("SELECT count(*) FROM sqlite_master");
        try {
          exec("PRAGMA journal_mode=DELETE");
        } catch (const Failure&) {
        }
        exec("PRAGMA mmap_size=1073741824");
        break;
      case OpenMode::ReadOnly:
        exec("SELECT count(*) FROM sqlite_master; PRAGMA mmap_size=1073741824");
        break;
      case OpenMode::Bulk:
        exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-262144");
        break;
    }
    exec("PRAGMA foreign_keys=ON");
  } catch (...) {
    sqlite3_close_v2(db_);  // the destructor does not run for a constructor that throws
    db_ = nullptr;
    throw;
  }
}

Database::~Database() { sqlite3_close_v2(db_); }

void Database::enterWal() {
  // Switching a new file to WAL needs it to itself: while another connection is in a
  // transaction on it (threads opening a new store together), SQLite answers "locked" at once
  // rather than wait, so the switch is tried again until the busy time-out.
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(kBusyTimeoutMs);
  for (;;) {
    try {
      exec("PRAGMA journal_mode=WAL");
      return;
    } catch (const Failure& e) {
      if ((e.code() & 0xFF) != SQLITE_BUSY || steady_clock::now() > deadline) throw;
    }
    std::this_thread::sleep_for(milliseconds(2));
  }
}

void Database::fail(int code) const { throw Failure(code, sqlite3_errmsg(db_)); }

void Database::exec(std::string_view sqlText) {
  const std::string s(sqlText);
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, s.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    const std::string text = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    throw Failure(rc, text);
  }
}

std::int64_t Database::lastInsertRowid() { return sqlite3_last_insert_rowid(db_); }

std::vector<std::string> Database::queryPlan(std::string_view sqlText) {
  Statement s(*this, "EXPLAIN QUERY PLAN " + std::string(sqlText));
  std::vector<std::string> lines;
  std::vector<std::pair<std::int64_t, int>> depth;  // (step id, depth) of the open parents
  while (s.step()) {
    const std::int64_t id = s.int64(0), parent = s.int64(1);
    while (!depth.empty() && depth.back().first != parent) depth.pop_back();
    const int d = depth.empty() ? 0 : depth.back().second + 1;
    lines.push_back(std::string(static_cast<std::size_t>(d) * 2, ' ') + s.text(3));
    depth.emplace_back(id, d);
  }
  return lines;
}

std::int64_t Database::userVersion() {
  Statement s(*this, "PRAGMA user_version");
  return s.step() ? s.int64(0) : 0;
}

void Database::setUserVersion(std::int64_t version) {
  // PRAGMA takes no bound parameters; the value is a number we make, never caller text.
  exec("PRAGMA user_version=" + std::to_string(version));
}

Statement::Statement(Database& db, std::string_view sqlText) : db_(db) {
  const int rc = sqlite3_prepare_v2(db.handle(), sqlText.data(), static_cast<int>(sqlText.size()),
                                    &stmt_, nullptr);
  if (rc != SQLITE_OK) db.fail(rc);
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int i, std::int64_t v) {
  if (const int rc = sqlite3_bind_int64(stmt_, i, v); rc != SQLITE_OK) db_.fail(rc);
  return *this;
}
Statement& Statement::bind(int i, double v) {
  if (const int rc = sqlite3_bind_double(stmt_, i, v); rc != SQLITE_OK) db_.fail(rc);
  return *this;
}
Statement& Statement::bind(int i, std::string_view v) {
  if (const int rc =
          sqlite3_bind_text64(stmt_, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      rc != SQLITE_OK) {
    db_.fail(rc);
  }
  return *this;
}
Statement& Statement::bind(int i, const Bytes& v) {
  static const std::uint8_t kEmpty = 0;
  if (const int rc =
          sqlite3_bind_blob64(stmt_, i, v.empty() ? &kEmpty : v.data(), v.size(), SQLITE_TRANSIENT);
      rc != SQLITE_OK) {
    db_.fail(rc);
  }
  return *this;
}
Statement& Statement::bindNull(int i) {
  if (const int rc = sqlite3_bind_null(stmt_, i); rc != SQLITE_OK) db_.fail(rc);
  return *this;
}
Statement& Statement::bind(int i, const std::optional<std::string>& v) {
  return v ? bind(i, std::string_view(*v)) : bindNull(i);
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_.fail(rc);
}

void Statement::run() {
  while (step()) {
  }
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool Statement::isNull(int c) const { return sqlite3_column_type(stmt_, c) == SQLITE_NULL; }
std::int64_t Statement::int64(int c) const { return sqlite3_column_int64(stmt_, c); }
double Statement::real(int c) const { return sqlite3_column_double(stmt_, c); }
std::string Statement::text(int c) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, c));
  return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, c)))
           : std::string();
}
std::string_view Statement::textView(int c) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, c));
  return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, c)))
           : std::string_view();
}
std::optional<std::string> Statement::optionalText(int c) const {
  if (isNull(c)) return std::nullopt;
  return text(c);
}
Bytes Statement::blob(int c) const {
  const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, c));
  const int n = sqlite3_column_bytes(stmt_, c);
  return p ? Bytes(p, p + n) : Bytes();
}
std::optional<Bytes> Statement::optionalBlob(int c) const {
  if (isNull(c)) return std::nullopt;
  return blob(c);
}

ReadTransaction::ReadTransaction(Database& db) : db_(db) {
  if (sqlite3_get_autocommit(db_.handle()) == 0) return;
  db_.exec("BEGIN DEFERRED");
  began_ = true;
}

ReadTransaction::~ReadTransaction() {
  if (!began_) return;
  try {
    db_.exec("COMMIT");
  } catch (...) {
    try {
      db_.exec("ROLLBACK");
    } catch (...) {
    }
  }
}

Transaction::Transaction(Database& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (done_) return;
  try {
    db_.exec("ROLLBACK");
  } catch (...) {
    // Destructors never throw; the connection goes anyway.
  }
}

void Transaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

}  // namespace sql
HCF_NAMESPACE_END
