#include "sqlite_db.h"

#include <sqlite3.h>

namespace quiblink::fleet {

Database::Database(const std::string &path, bool create, int busy_ms) : path_(path) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError("cannot open " + path + ": " + why);
  }
  sqlite3_busy_timeout(db_, busy_ms);
  sqlite3_extended_result_codes(db_, 1);
}

Database::~Database() {
  sqlite3_close_v2(db_);
}

void Database::Fail(const std::string &what) const {
  throw StoreError(path_ + ": " + what + ": " + sqlite3_errmsg(db_));
}

void Database::Execute(const std::string &sql) {
  char *message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string why = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw StoreError(path_ + ": " + why);
  }
}

Statement Database::Prepare(const std::string &sql) {
  sqlite3_stmt *statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    Fail("cannot prepare \"" + sql.substr(0, 40) + "...\"");
  }
  return Statement(*this, statement);
}

int64_t Database::LastInsertId() const {
  return sqlite3_last_insert_rowid(db_);
}

Statement::~Statement() {
  sqlite3_finalize(statement_);
}

Statement::Statement(Statement &&other) noexcept
    : db_(other.db_), statement_(other.statement_), next_(other.next_) {
  other.statement_ = nullptr;
}

Statement &Statement::Bind(int64_t value) {
  if (sqlite3_bind_int64(statement_, next_++, value) != SQLITE_OK) db_->Fail("bind");
  return *this;
}

Statement &Statement::Bind(const std::string &value) {
  if (sqlite3_bind_text(statement_, next_++, value.data(), static_cast<int>(value.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    db_->Fail("bind");
  }
  return *this;
}

Statement &Statement::BindNull() {
  if (sqlite3_bind_null(statement_, next_++) != SQLITE_OK) db_->Fail("bind");
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_->Fail("cannot run \"" + std::string(sqlite3_sql(statement_)).substr(0, 40) + "...\"");
}

void Statement::Run() {
  while (Step()) {
  }
}

int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(statement_, column);
}

std::string Statement::Text(int column) const {
  const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement_, column));
  return text == nullptr ? std::string()
                         : std::string(text, sqlite3_column_bytes(statement_, column));
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

Transaction::Transaction(Database &db) : db_(db) {
  db_.Execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (done_) return;
  try {
    db_.Execute("ROLLBACK");
  } catch (const StoreError &) {
    // A failed statement may have rolled the transaction back already.
  }
}

void Transaction::Commit() {
  db_.Execute("COMMIT");
  done_ = true;
}

}  // namespace quiblink::fleet
