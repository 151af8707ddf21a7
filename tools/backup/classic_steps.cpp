// A classic panel's ranges read into a Backup and put back.
#include <algorithm>

#include "ranges.h"
#include "terminal_steps.h"

namespace quiblink::backup {
namespace {

// A range is read in pieces of this many bytes (four requests) so that progress shows; pieces
// are cut where the library cuts, at model 3's address gap, so the requests on the line are
// those of one read.
constexpr size_t kPiece = 256;

Bytes ReadRange(const Channel &channel, uint16_t model, const Range &where, size_t count,
                const Steps &steps) {
  Bytes data(count);
  const std::string label = "range " + std::to_string(where.address);
  for (size_t done = 0; done < count;) {
    const int64_t at = where.address + static_cast<int64_t>(done);
    size_t piece = std::min(kPiece, count - done);
    if (model == 3 && at < kModel3Gap && at + static_cast<int64_t>(piece) > kModel3Gap) {
      piece = static_cast<size_t>(kModel3Gap - at);
    }
    channel.read(where.area, static_cast<int32_t>(at), std::span(data).subspan(done, piece));
    done += piece;
    if (steps.progress) steps.progress(label, done, count);
  }
  return data;
}

}  // namespace

Backup ReadClassicPanel(const Channel &channel, const Origin &origin,
                        const std::vector<RangeRequest> &ranges, const Steps &steps) {
  Backup backup;
  backup.family = Family::kClassic;
  backup.origin = origin;
  for (const RangeRequest &request : ranges) {
    backup.ranges.push_back({request.area, request.address, Bytes(request.count)});
  }
  // The rules hold before anything is sent: the sizes are those asked for.
  CheckBackup(backup);
  for (Range &range : backup.ranges) {
    range.data = ReadRange(channel, origin.model, range, range.data.size(), steps);
    steps.Log("range " + DescribeRange(range) + " read");
  }
  return backup;
}

void RestoreClassicPanel(const Channel &channel, uint16_t model, const Backup &backup,
                         const RestoreOptions &options, const Steps &steps) {
  if (backup.family != Family::kClassic) {
    throw WrongTerminal("the backup is of a graphic terminal: restore it with `restore`");
  }
  const uint16_t want = backup.origin.model;
  if (model != want) {
    const std::string what = "the backup is of a panel of model code " + std::to_string(want) +
                             ", the channel is opened with model code " + std::to_string(model);
    if (!options.force) {
      throw WrongTerminal(what + ": refused, nothing was written (--force restores it)");
    }
    steps.Log(what + ": restoring anyway (forced)");
  }
  // The panel's own addressing decides, whatever model the backup was made with.
  CheckRanges(model, backup.ranges);
  std::vector<std::string> done;
  for (const Range &range : backup.ranges) {
    const std::string name = "range " + DescribeRange(range);
    if (!RangeRestorable(model, range)) {
      steps.Log(name + ": kept for reference only (panels write area 0), not written");
      continue;
    }
    try {
      channel.write(range.address, range.data);
    } catch (const Error &error) {
      std::string written;
      for (const std::string &part : done) written += (written.empty() ? "" : "; ") + part;
      throw RestoreFailed("restore stopped at " + name + ": " + error.what() +
                              "; written: " + (written.empty() ? "none" : written),
                          error);
    }
    done.push_back(name);
    steps.Log(name + ": written");
    if (!options.verify) continue;
    const Range back_at{0, range.address, {}};
    if (ReadRange(channel, model, back_at, range.data.size(), steps) != range.data) {
      throw RestoreFailed(name + " reads back other bytes than the backup holds", std::nullopt);
    }
    steps.Log(name + ": read back as in the backup");
  }
}

}  // namespace quiblink::backup
