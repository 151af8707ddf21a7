// The terminal's side of a backup: read a graphic terminal or classic panel into a Backup, and
// put a Backup back onto one. No printing and no command line: what happens is told through a
// step log and a progress callback, so that one process or many (one per terminal) can drive
// them. The calls go through the library's public C++ layer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "backup.h"
#include "quiblink/quiblink.hpp"

namespace quiblink::backup {

struct Steps {
  // One line per step done: "offline", "group 2: 12288 bytes written", ...
  std::function<void(const std::string &line)> log;
  // Bytes done of a transfer named by label; total 0 when not known.
  std::function<void(const std::string &label, uint64_t done, uint64_t total)> progress;

  void Log(const std::string &line) const {
    if (log) log(line);
  }
};

// Who and where: created now (UTC), the tool's name and the loaded library's version.
Origin MakeOrigin(const std::string &tool, const std::string &port, uint32_t baud, uint16_t model);

// The terminal's type, operating-system information, memory data and project information: four
// queries.
TerminalInfo QueryTerminal(const Channel &channel);

// The terminal's type, operating-system information, memory data and project information (four
// queries), every group of the grouped area with its number (one grouped read, the exchanges
// of XQUIB_ReadAll), then each plain area asked for. capacity bounds the grouped data.
Backup ReadGraphicTerminal(const Channel &channel, const Origin &origin,
                           const std::vector<uint8_t> &areas, uint32_t capacity,
                           const Steps &steps);

// Where a classic panel's range is read from: one QUIB_Read run of count bytes.
struct RangeRequest {
  uint16_t area = 0;
  int32_t address = 0;
  uint16_t count = 0;
};

// Each range, in pieces that show progress; the ranges are checked against the model code's
// addressing (origin.model) before anything is sent.
Backup ReadClassicPanel(const Channel &channel, const Origin &origin,
                        const std::vector<RangeRequest> &ranges, const Steps &steps);

struct RestoreOptions {
  bool force = false;        // another terminal type (classic: model code) than the backup's
  bool clean = false;        // delete the user data first (graphic)
  bool groups_only = false;  // leave the plain areas alone (graphic)
  bool verify = true;        // read each part back and compare its SHA-256
  bool start = true;         // send start at the end (graphic)
};

// The terminal is not the one the backup was made of, and the caller did not force it:
// nothing was written.
class WrongTerminal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A restore that stopped: what says which parts were written and which were not, and the
// library's failure when one caused it.
class RestoreFailed : public std::runtime_error {
 public:
  RestoreFailed(const std::string &what, std::optional<Error> cause)
      : std::runtime_error(what), cause_(std::move(cause)) {}
  const std::optional<Error> &cause() const { return cause_; }

 private:
  std::optional<Error> cause_;
};

// Checks the terminal type (refused unless options.force), switches offline, deletes the user
// data when asked, writes each group under its number and each area 3-6 (unless groups_only),
// reads each back and compares, compares the project information, and sends start.
void RestoreGraphicTerminal(const Channel &channel, const Backup &backup,
                            const RestoreOptions &options, const Steps &steps);

// Checks the model code against the backup's (refused unless options.force) and the ranges
// against its addressing, then writes each range of area 0 (model 3: every range) and reads it
// back; ranges of other areas are kept for reference only.
void RestoreClassicPanel(const Channel &channel, uint16_t model, const Backup &backup,
                         const RestoreOptions &options, const Steps &steps);

}  // namespace quiblink::backup
