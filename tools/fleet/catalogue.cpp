#include "catalogue.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace quiblink::fleet {
namespace {

constexpr const char *kSchema = R"(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE terminals(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, family TEXT NOT NULL);
CREATE TABLE contents(id INTEGER PRIMARY KEY, hash TEXT NOT NULL UNIQUE, family TEXT NOT NULL,
                      bytes INTEGER NOT NULL, parts INTEGER NOT NULL);
CREATE TABLE members(content INTEGER NOT NULL REFERENCES contents(id), position INTEGER NOT NULL,
                     kind TEXT NOT NULL, number INTEGER NOT NULL, address INTEGER NOT NULL,
                     length INTEGER NOT NULL, object TEXT NOT NULL,
                     PRIMARY KEY(content, position)) WITHOUT ROWID;
CREATE TABLE runs(id INTEGER PRIMARY KEY, command TEXT NOT NULL, started TEXT NOT NULL,
                  ended TEXT, pid INTEGER NOT NULL, status INTEGER, summary TEXT);
CREATE TABLE versions(id INTEGER PRIMARY KEY, terminal INTEGER NOT NULL REFERENCES terminals(id),
                      number INTEGER NOT NULL, run INTEGER NOT NULL REFERENCES runs(id),
                      created TEXT NOT NULL, content INTEGER NOT NULL REFERENCES contents(id),
                      tool TEXT NOT NULL, library TEXT NOT NULL, port TEXT NOT NULL,
                      baud INTEGER NOT NULL, model INTEGER NOT NULL, type INTEGER NOT NULL,
                      os_00 INTEGER NOT NULL, os_80 INTEGER NOT NULL, mem_1 INTEGER NOT NULL,
                      mem_2 INTEGER NOT NULL, mem_3 INTEGER NOT NULL, project_1 INTEGER NOT NULL,
                      project_2 INTEGER NOT NULL, project_name TEXT NOT NULL,
                      UNIQUE(terminal, number));
CREATE TABLE releases(id INTEGER PRIMARY KEY, terminal INTEGER NOT NULL REFERENCES terminals(id),
                      version INTEGER NOT NULL REFERENCES versions(id), at TEXT NOT NULL,
                      run INTEGER NOT NULL REFERENCES runs(id));
CREATE TABLE results(run INTEGER NOT NULL REFERENCES runs(id),
                     terminal INTEGER NOT NULL REFERENCES terminals(id), state TEXT NOT NULL,
                     detail TEXT NOT NULL, version INTEGER REFERENCES versions(id),
                     compared INTEGER REFERENCES versions(id), at TEXT NOT NULL,
                     PRIMARY KEY(run, terminal)) WITHOUT ROWID;
)";

constexpr const char *kVersionColumns =
    "v.id, t.name, v.number, v.run, r.command, v.created, c.hash, c.bytes, c.parts, c.family, "
    "v.tool, v.library, v.port, v.baud, v.model, v.type, v.os_00, v.os_80, v.mem_1, v.mem_2, "
    "v.mem_3, v.project_1, v.project_2, v.project_name";
constexpr const char *kVersionJoin =
    " FROM versions v JOIN terminals t ON t.id = v.terminal JOIN contents c ON c.id = v.content "
    "JOIN runs r ON r.id = v.run ";

backup::Family FamilyOf(const std::string &name) {
  return name == "classic" ? backup::Family::kClassic : backup::Family::kGraphic;
}

Version ReadVersion(const Statement &row) {
  Version v;
  v.id = row.Int(0);
  v.terminal = row.Text(1);
  v.number = static_cast<int>(row.Int(2));
  v.run = row.Int(3);
  v.command = row.Text(4);
  v.created = row.Text(5);
  v.content_hash = row.Text(6);
  v.bytes = static_cast<uint64_t>(row.Int(7));
  v.parts = static_cast<int>(row.Int(8));
  v.family = FamilyOf(row.Text(9));
  v.origin = {v.created,
              row.Text(10),
              row.Text(11),
              row.Text(12),
              static_cast<uint32_t>(row.Int(13)),
              static_cast<uint16_t>(row.Int(14))};
  v.info.type = static_cast<uint32_t>(row.Int(15));
  v.info.os_entry_00 = static_cast<uint32_t>(row.Int(16));
  v.info.os_entry_80 = static_cast<uint32_t>(row.Int(17));
  for (int i = 0; i < 3; ++i) v.info.memory[i] = static_cast<int32_t>(row.Int(18 + i));
  v.info.project_value1 = static_cast<uint32_t>(row.Int(21));
  v.info.project_value2 = static_cast<uint32_t>(row.Int(22));
  v.info.project_name = row.Text(23);
  return v;
}

std::optional<int> OptionalInt(const Statement &row, int column) {
  if (row.IsNull(column)) return std::nullopt;
  return static_cast<int>(row.Int(column));
}

}  // namespace

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

void Catalogue::Create(Database &db) {
  Transaction transaction(db);
  db.Execute(kSchema);
  db.Prepare("INSERT INTO meta(key, value) VALUES ('format', ?1), ('created', ?2)")
      .Bind(std::to_string(kStoreFormat))
      .Bind(UtcNow())
      .Run();
  transaction.Commit();
}

int Catalogue::Format() {
  Statement row = db_.Prepare("SELECT value FROM meta WHERE key = 'format'");
  if (!row.Step()) throw StoreError(db_.path() + ": the catalogue has no format row");
  return std::atoi(row.Text(0).c_str());
}

int64_t Catalogue::BeginRun(const std::string &command) {
  db_.Prepare("INSERT INTO runs(command, started, pid) VALUES (?1, ?2, ?3)")
      .Bind(command)
      .Bind(UtcNow())
      .Bind(static_cast<int64_t>(getpid()))
      .Run();
  return db_.LastInsertId();
}

void Catalogue::EndRun(int64_t run, int status, const std::string &summary) {
  db_.Prepare("UPDATE runs SET ended = ?1, status = ?2, summary = ?3 WHERE id = ?4")
      .Bind(UtcNow())
      .Bind(status)
      .Bind(summary)
      .Bind(run)
      .Run();
}

int64_t Catalogue::TerminalId(const std::string &name, backup::Family family) {
  Statement found = db_.Prepare("SELECT id FROM terminals WHERE name = ?1");
  found.Bind(name);
  if (found.Step()) return found.Int(0);
  db_.Prepare("INSERT INTO terminals(name, family) VALUES (?1, ?2)")
      .Bind(name)
      .Bind(backup::FamilyName(family))
      .Run();
  return db_.LastInsertId();
}

int64_t Catalogue::ContentId(const Content &content) {
  Statement found = db_.Prepare("SELECT id FROM contents WHERE hash = ?1");
  found.Bind(content.hash);
  if (found.Step()) return found.Int(0);
  db_.Prepare("INSERT INTO contents(hash, family, bytes, parts) VALUES (?1, ?2, ?3, ?4)")
      .Bind(content.hash)
      .Bind(backup::FamilyName(content.family))
      .Bind(static_cast<int64_t>(content.Bytes()))
      .Bind(static_cast<int64_t>(content.parts.size()))
      .Run();
  const int64_t id = db_.LastInsertId();
  for (size_t i = 0; i < content.parts.size(); ++i) {
    const Part &part = content.parts[i];
    db_.Prepare(
           "INSERT INTO members(content, position, kind, number, address, length, object) "
           "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)")
        .Bind(id)
        .Bind(static_cast<int64_t>(i))
        .Bind(part.kind)
        .Bind(part.number)
        .Bind(part.address)
        .Bind(static_cast<int64_t>(part.length))
        .Bind(part.object)
        .Run();
  }
  return id;
}

Version Catalogue::AddVersion(int64_t run, const std::string &terminal,
                              const backup::Origin &origin, const backup::TerminalInfo &info,
                              const Content &content, const std::string &state,
                              const std::string &detail, std::optional<int> compared) {
  Transaction transaction(db_);
  const int64_t terminal_id = TerminalId(terminal, content.family);
  const int64_t content_id = ContentId(content);
  Statement next =
      db_.Prepare("SELECT COALESCE(MAX(number), 0) + 1 FROM versions WHERE terminal = ?1");
  next.Bind(terminal_id);
  next.Step();
  const int64_t number = next.Int(0);
  db_.Prepare(
         "INSERT INTO versions(terminal, number, run, created, content, tool, library, port, "
         "baud, model, type, os_00, os_80, mem_1, mem_2, mem_3, project_1, project_2, "
         "project_name) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, "
         "?15, ?16, ?17, ?18, ?19)")
      .Bind(terminal_id)
      .Bind(number)
      .Bind(run)
      .Bind(origin.created)
      .Bind(content_id)
      .Bind(origin.tool)
      .Bind(origin.library_version)
      .Bind(origin.port)
      .Bind(static_cast<int64_t>(origin.baud))
      .Bind(static_cast<int64_t>(origin.model))
      .Bind(static_cast<int64_t>(info.type))
      .Bind(static_cast<int64_t>(info.os_entry_00))
      .Bind(static_cast<int64_t>(info.os_entry_80))
      .Bind(static_cast<int64_t>(info.memory[0]))
      .Bind(static_cast<int64_t>(info.memory[1]))
      .Bind(static_cast<int64_t>(info.memory[2]))
      .Bind(static_cast<int64_t>(info.project_value1))
      .Bind(static_cast<int64_t>(info.project_value2))
      .Bind(info.project_name)
      .Run();
  const int64_t version_id = db_.LastInsertId();
  db_.Prepare(
         "INSERT INTO results(run, terminal, state, detail, version, compared, at) VALUES "
         "(?1, ?2, ?3, ?4, ?5, (SELECT id FROM versions WHERE terminal = ?2 AND number = ?6), ?7)")
      .Bind(run)
      .Bind(terminal_id)
      .Bind(state)
      .Bind(detail)
      .Bind(version_id)
      .Bind(static_cast<int64_t>(compared.value_or(0)))
      .Bind(UtcNow())
      .Run();
  transaction.Commit();
  return *FindVersion(terminal, static_cast<int>(number));
}

void Catalogue::AddResult(int64_t run, const std::string &terminal, backup::Family family,
                          const std::string &state, const std::string &detail,
                          std::optional<int> version, std::optional<int> compared) {
  Transaction transaction(db_);
  const int64_t terminal_id = TerminalId(terminal, family);
  db_.Prepare(
         "INSERT OR REPLACE INTO results(run, terminal, state, detail, version, compared, at) "
         "VALUES (?1, ?2, ?3, ?4, (SELECT id FROM versions WHERE terminal = ?2 AND number = ?5), "
         "(SELECT id FROM versions WHERE terminal = ?2 AND number = ?6), ?7)")
      .Bind(run)
      .Bind(terminal_id)
      .Bind(state)
      .Bind(detail)
      .Bind(static_cast<int64_t>(version.value_or(0)))
      .Bind(static_cast<int64_t>(compared.value_or(0)))
      .Bind(UtcNow())
      .Run();
  transaction.Commit();
}

void Catalogue::SetRelease(int64_t run, const Version &version) {
  Transaction transaction(db_);
  db_.Prepare(
         "INSERT INTO releases(terminal, version, at, run) "
         "SELECT terminal, id, ?1, ?2 FROM versions WHERE id = ?3")
      .Bind(UtcNow())
      .Bind(run)
      .Bind(version.id)
      .Run();
  db_.Prepare(
         "INSERT INTO results(run, terminal, state, detail, version, at) "
         "SELECT ?1, terminal, 'released', ?2, id, ?3 FROM versions WHERE id = ?4")
      .Bind(run)
      .Bind("v" + std::to_string(version.number) + " released")
      .Bind(UtcNow())
      .Bind(version.id)
      .Run();
  transaction.Commit();
}

std::vector<Version> Catalogue::SelectVersions(const std::string &where,
                                               const std::string &terminal, int64_t number) {
  Statement rows = db_.Prepare(std::string("SELECT ") + kVersionColumns + kVersionJoin + where);
  rows.Bind(terminal);
  if (number >= 0) rows.Bind(number);
  std::vector<Version> found;
  while (rows.Step()) found.push_back(ReadVersion(rows));
  return found;
}

std::vector<Version> Catalogue::Versions(const std::string &terminal) {
  return SelectVersions("WHERE t.name = ?1 ORDER BY v.number", terminal, -1);
}

std::optional<Version> Catalogue::FindVersion(const std::string &terminal, int number) {
  auto found = SelectVersions("WHERE t.name = ?1 AND v.number = ?2", terminal, number);
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::optional<Version> Catalogue::Latest(const std::string &terminal) {
  auto found = SelectVersions("WHERE t.name = ?1 ORDER BY v.number DESC LIMIT 1", terminal, -1);
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::optional<Version> Catalogue::Released(const std::string &terminal) {
  auto found = SelectVersions(
      "WHERE t.name = ?1 AND v.id = (SELECT version FROM releases WHERE terminal = t.id "
      "ORDER BY id DESC LIMIT 1)",
      terminal, -1);
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::vector<Release> Catalogue::Releases(const std::string &terminal) {
  Statement rows = db_.Prepare(
      "SELECT t.name, v.number, l.at FROM releases l JOIN versions v ON v.id = l.version "
      "JOIN terminals t ON t.id = l.terminal WHERE t.name = ?1 ORDER BY l.id");
  rows.Bind(terminal);
  std::vector<Release> found;
  while (rows.Step()) found.push_back({rows.Text(0), static_cast<int>(rows.Int(1)), rows.Text(2)});
  return found;
}

Content Catalogue::LoadContent(const std::string &hash) {
  Statement head = db_.Prepare("SELECT id, family FROM contents WHERE hash = ?1");
  head.Bind(hash);
  if (!head.Step()) throw StoreError(db_.path() + ": no content " + hash.substr(0, 12));
  Content content;
  content.hash = hash;
  content.family = FamilyOf(head.Text(1));
  Statement rows = db_.Prepare(
      "SELECT kind, number, address, length, object FROM members WHERE content = ?1 "
      "ORDER BY position");
  rows.Bind(head.Int(0));
  while (rows.Step()) {
    content.parts.push_back(
        {rows.Text(0), rows.Int(1), rows.Int(2), static_cast<uint64_t>(rows.Int(3)), rows.Text(4)});
  }
  return content;
}

std::vector<Run> Catalogue::Runs(int limit) {
  Statement rows = db_.Prepare(
      "SELECT id, command, started, ended, pid, status, summary FROM runs ORDER BY id DESC "
      "LIMIT ?1");
  rows.Bind(static_cast<int64_t>(limit));
  std::vector<Run> found;
  while (rows.Step()) {
    found.push_back({rows.Int(0), rows.Text(1), rows.Text(2), rows.Text(3), rows.Int(4),
                     OptionalInt(rows, 5), rows.Text(6)});
  }
  return found;
}

namespace {
constexpr const char *kResultSelect =
    "SELECT s.run, r.command, t.name, s.state, s.detail, v.number, c.number, s.at FROM results s "
    "JOIN runs r ON r.id = s.run JOIN terminals t ON t.id = s.terminal "
    "LEFT JOIN versions v ON v.id = s.version LEFT JOIN versions c ON c.id = s.compared ";

Result ReadResult(const Statement &row) {
  return {row.Int(0),  row.Text(1),         row.Text(2),         row.Text(3),
          row.Text(4), OptionalInt(row, 5), OptionalInt(row, 6), row.Text(7)};
}
}  // namespace

std::optional<Result> Catalogue::LastResult(const std::string &terminal,
                                            const std::string &commands) {
  Statement rows = db_.Prepare(std::string(kResultSelect) +
                               "WHERE t.name = ?1 AND instr(',' || ?2 || ',', ',' || r.command "
                               "|| ',') > 0 ORDER BY s.run DESC LIMIT 1");
  rows.Bind(terminal).Bind(commands);
  if (!rows.Step()) return std::nullopt;
  return ReadResult(rows);
}

std::vector<Result> Catalogue::ResultsOf(int64_t run) {
  Statement rows = db_.Prepare(std::string(kResultSelect) + "WHERE s.run = ?1 ORDER BY t.name");
  rows.Bind(run);
  std::vector<Result> found;
  while (rows.Step()) found.push_back(ReadResult(rows));
  return found;
}

std::vector<std::string> Catalogue::Objects() {
  Statement rows = db_.Prepare("SELECT DISTINCT object FROM members ORDER BY object");
  std::vector<std::string> found;
  while (rows.Step()) found.push_back(rows.Text(0));
  return found;
}

std::vector<Catalogue::Usage> Catalogue::ObjectUsage() {
  Statement rows = db_.Prepare(
      "SELECT c.hash, m.object, (SELECT group_concat(t.name || ' v' || v.number, ', ') FROM "
      "versions v JOIN terminals t ON t.id = v.terminal WHERE v.content = c.id) FROM members m "
      "JOIN contents c ON c.id = m.content ORDER BY m.object");
  std::vector<Usage> found;
  while (rows.Step()) found.push_back({rows.Text(0), rows.Text(1), rows.Text(2)});
  return found;
}

std::vector<std::string> Catalogue::IntegrityProblems() {
  std::vector<std::string> problems;
  Statement check = db_.Prepare("PRAGMA integrity_check");
  while (check.Step()) {
    if (check.Text(0) != "ok") problems.push_back("catalogue: " + check.Text(0));
  }
  Statement keys = db_.Prepare("PRAGMA foreign_key_check");
  while (keys.Step()) {
    problems.push_back("catalogue: a row of " + keys.Text(0) + " names a missing row of " +
                       keys.Text(2));
  }
  Statement empty = db_.Prepare(
      "SELECT hash FROM contents c WHERE parts != (SELECT COUNT(*) FROM members WHERE content = "
      "c.id)");
  while (empty.Step()) {
    problems.push_back("catalogue: content " + empty.Text(0).substr(0, 12) + " lacks parts");
  }
  return problems;
}

}  // namespace quiblink::fleet
