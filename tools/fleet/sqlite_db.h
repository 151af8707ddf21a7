// A thin layer over SQLite's C interface: a connection that closes itself, prepared statements
// with bound values, and transactions that roll back unless committed. Every failure throws
// StoreError with SQLite's own words.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace quiblink::fleet {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Statement;

class Database {
 public:
  // Opens (and with create, makes) the file; waits up to busy_ms for another connection's lock.
  Database(const std::string &path, bool create, int busy_ms);
  ~Database();
  Database(const Database &) = delete;
  Database &operator=(const Database &) = delete;

  void Execute(const std::string &sql);
  Statement Prepare(const std::string &sql);
  int64_t LastInsertId() const;
  const std::string &path() const { return path_; }

  [[noreturn]] void Fail(const std::string &what) const;

 private:
  friend class Statement;
  sqlite3 *db_ = nullptr;
  std::string path_;
};

class Statement {
 public:
  ~Statement();
  Statement(Statement &&other) noexcept;
  Statement(const Statement &) = delete;
  Statement &operator=(const Statement &) = delete;

  // Values bind to ?1, ?2, ... in order.
  Statement &Bind(int64_t value);
  Statement &Bind(const std::string &value);
  Statement &BindNull();
  // One row more: true while there is one.
  bool Step();
  // Runs a statement that returns no rows.
  void Run();

  int64_t Int(int column) const;
  std::string Text(int column) const;
  bool IsNull(int column) const;

 private:
  friend class Database;
  Statement(Database &db, sqlite3_stmt *statement) : db_(&db), statement_(statement) {}
  Database *db_;
  sqlite3_stmt *statement_;
  int next_ = 1;
};

// BEGIN IMMEDIATE at construction; ROLLBACK in the destructor unless Commit ran.
class Transaction {
 public:
  explicit Transaction(Database &db);
  ~Transaction();
  void Commit();

 private:
  Database &db_;
  bool done_ = false;
};

}  // namespace quiblink::fleet
