// The store's catalogue in SQLite: the terminals, their versions (when, by which run, the
// backup's manifest fields and its content), the released version of each terminal, and a log
// of every run with each terminal's result in it. docs/fleet.md shows the schema.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "content.h"
#include "sqlite_db.h"

namespace quiblink::fleet {

constexpr int kStoreFormat = 1;

struct Version {
  int64_t id = 0;
  std::string terminal;
  int number = 0;  // 1, 2, ... per terminal
  int64_t run = 0;
  std::string command;  // of the run that made it: "backup", "check"
  std::string created;
  std::string content_hash;
  uint64_t bytes = 0;
  int parts = 0;
  backup::Family family = backup::Family::kGraphic;
  backup::Origin origin;
  backup::TerminalInfo info;
};

struct Run {
  int64_t id = 0;
  std::string command;
  std::string started;
  std::string ended;  // empty: still running, or killed
  int64_t pid = 0;
  std::optional<int> status;
  std::string summary;
};

// One terminal's outcome in one run: backup "ok"/"failed"; check "same", "changed",
// "no-release", "unreachable"; release "released"; restore "restored"/"failed".
struct Result {
  int64_t run = 0;
  std::string command;
  std::string terminal;
  std::string state;
  std::string detail;
  std::optional<int> version;   // the version made or put back (its number)
  std::optional<int> compared;  // check: the released version's number
  std::string at;
};

struct Release {
  std::string terminal;
  int version = 0;
  std::string at;
};

class Catalogue {
 public:
  explicit Catalogue(Database &db) : db_(db) {}

  // The tables of a new store and its format row, in one transaction.
  static void Create(Database &db);
  int Format();

  int64_t BeginRun(const std::string &command);
  void EndRun(int64_t run, int status, const std::string &summary);

  // Adds the content (unless it is there) and a version of it, and the run's result for the
  // terminal, in one transaction. Every object the content names must be on disk already.
  Version AddVersion(int64_t run, const std::string &terminal, const backup::Origin &origin,
                     const backup::TerminalInfo &info, const Content &content,
                     const std::string &state, const std::string &detail,
                     std::optional<int> compared);
  void AddResult(int64_t run, const std::string &terminal, backup::Family family,
                 const std::string &state, const std::string &detail,
                 std::optional<int> version = std::nullopt,
                 std::optional<int> compared = std::nullopt);
  void SetRelease(int64_t run, const Version &version);

  std::vector<Version> Versions(const std::string &terminal);
  std::optional<Version> FindVersion(const std::string &terminal, int number);
  std::optional<Version> Latest(const std::string &terminal);
  std::optional<Version> Released(const std::string &terminal);
  std::vector<Release> Releases(const std::string &terminal);
  Content LoadContent(const std::string &hash);

  std::vector<Run> Runs(int limit);
  // The terminal's latest result of a run of one of the commands ("backup,check").
  std::optional<Result> LastResult(const std::string &terminal, const std::string &commands);
  std::vector<Result> ResultsOf(int64_t run);

  // Every object some content names, and every content hash with the versions that use it.
  std::vector<std::string> Objects();
  struct Usage {
    std::string content;
    std::string object;
    std::string versions;  // "press-1 v3, press-1 v4"
  };
  std::vector<Usage> ObjectUsage();
  std::vector<std::string> IntegrityProblems();

 private:
  int64_t TerminalId(const std::string &name, backup::Family family);
  int64_t ContentId(const Content &content);
  std::vector<Version> SelectVersions(const std::string &where, const std::string &terminal,
                                      int64_t number);

  Database &db_;
};

// Now, UTC: "2024-05-01T12:00:00Z".
std::string UtcNow();

}  // namespace quiblink::fleet
