// Block reads of command 33: every group of the grouped area, one group, or a
// plain area. One routine serves the three exports and their sized forms.
#include <string.h>

#include "core/state.h"
#include "core/trace.h"
#include "engine/engine.h"
#include "graphic/command_table.h"
#include "graphic/codec.h"
#include "graphic/exchange.h"
#include "graphic/transfers.h"

namespace quib {
namespace {

constexpr uint8_t kLastBlock = 2;

// Payload offsets of a block reply: grouped area (group, count, data) and
// plain area (count, data).
constexpr int kGroupAt = kPayloadData;
constexpr int kGroupedCountAt = kPayloadData + 2;
constexpr int kAreaCountAt = kPayloadData;
// Length field of a block reply that carries no data.
constexpr int kGroupedEmptyLength = 10;
constexpr int kAreaEmptyLength = 8;

// The command row of each kind of read.
constexpr GraphicCommandId kReadCommand[] = {kCmdReadAllGroups, kCmdReadOneGroup, kCmdReadArea};
static_assert(kReadCommand[kReadAllGroups] == kCmdReadAllGroups &&
              kReadCommand[kReadOneGroup] == kCmdReadOneGroup &&
              kReadCommand[kReadArea] == kCmdReadArea);

const GraphicCommand &RowOf(const BlockRead &read) {
  return GraphicCommandOf(ReadCommandOf(read.Kind));
}

struct ReadProgress {
  uint8_t ExpectedSequence;
  uint16_t CurrentGroup;
};

bool AreaReadable(uint8_t area) {
  return (area >= 3 && area <= 6) || (area >= 240 && area <= 242);
}

int16_t CheckSequence(const uint8_t *reply, ReadProgress *progress) {
  if (reply[kPayloadSequence] != progress->ExpectedSequence) return RC_SEQUENCE;
  ++progress->ExpectedSequence;
  return RC_OK;
}

uint16_t GroupOf(const uint8_t *reply) {
  return static_cast<uint16_t>(ReadLe16(reply + kGroupAt));
}

// The reply checks up to the data count, in each read's own order. The
// group 0 that ends an all-groups read passes without its sequence number.
int16_t CheckReply(const BlockRead &read, const uint8_t *reply, uint16_t got,
                   ReadProgress *progress) {
  if (!PayloadCovers(got, 0, kPayloadHeaderSize)) return RC_BAD_LENGTH;
  const GraphicCommand &row = RowOf(read);
  if (reply[kPayloadCommand] != row.Code ||
      reply[kPayloadSubcommand] != SubcommandOf(row, read.Area)) {
    return RC_BAD_ECHO;
  }
  int16_t rc;
  switch (read.Kind) {
    case kReadOneGroup:
      if (!PayloadCovers(got, kGroupAt, 2)) return RC_BAD_LENGTH;
      if (GroupOf(reply) != read.Group) return RC_BAD_GROUP;
      rc = CheckSequence(reply, progress);
      if (rc != RC_OK) return rc;
      return StoreTerminalStatus(reply, read.Status);
    case kReadAllGroups:
      rc = StoreTerminalStatus(reply, read.Status);
      if (rc != RC_OK) return rc;
      if (!PayloadCovers(got, kGroupAt, 2)) return RC_BAD_LENGTH;
      if (GroupOf(reply) == 0) return RC_OK;
      if (GroupOf(reply) != progress->CurrentGroup) {
        progress->CurrentGroup = GroupOf(reply);
        progress->ExpectedSequence = 0;
      }
      return CheckSequence(reply, progress);
    case kReadArea:
      rc = CheckSequence(reply, progress);
      if (rc != RC_OK) return rc;
      return StoreTerminalStatus(reply, read.Status);
  }
  return RC_BAD_ARGUMENT;
}

// Records count bytes of group at offset done in the caller's group table: a
// group number other than the last entry's opens a new entry, as it restarts
// the walk's sequence numbers. A full table stops the read before the block
// is appended.
int16_t NoteGroup(const BlockRead &read, uint16_t group, uint32_t done, uint32_t count,
                  uint32_t *used) {
  if (!read.Groups.Wanted) return RC_OK;
  QUIB_GroupEntry *entries = read.Groups.Entries;
  if (*used == 0 || entries[*used - 1].group != group) {
    if (*used == read.Groups.Capacity) return RC_GROUP_TABLE_FULL;
    entries[*used] = QUIB_GroupEntry{group, done, 0};
    ++*used;
  }
  entries[*used - 1].length += count;
  return RC_OK;
}

// The block walk, holding the port's turn from its first request on.
int16_t WalkBlocks(Transfer *transfer, const BlockRead &read) {
  const bool area = read.Kind == kReadArea;
  int16_t rc;

  const GraphicCommand &row = RowOf(read);
  const uint8_t subcommand = SubcommandOf(row, read.Area);
  const uint16_t group = read.Kind == kReadOneGroup ? read.Group : 0;
  const int count_at = area ? kAreaCountAt : kGroupedCountAt;
  const int empty_length = area ? kAreaEmptyLength : kGroupedEmptyLength;

  uint8_t frame[kGraphicFrameSize];
  uint8_t reply[kBufferSize];
  ReadProgress progress{0, 0};
  uint8_t continuation = 0;
  uint32_t done = 0;
  uint32_t groups = 0;
  for (;;) {
    uint16_t expected = 0;
    const uint16_t length =
        BuildGraphicRequest(row.Code, subcommand, group, frame, &expected, continuation);
    if (length == 0) return RC_BAD_ARGUMENT;
    if (area) DumpFrame(frame);
    uint16_t got = 0;
    rc = ExchangeGraphicFrame(transfer, frame, length, expected, row.Reply, reply, &got);
    if (rc != RC_OK) return rc;

    rc = CheckReply(read, reply, got, &progress);
    if (rc != RC_OK) return rc;
    // XQUIB_ReadAll ends on group 0.
    if (read.Kind == kReadAllGroups && GroupOf(reply) == 0) break;

    // A reply too short for a data count is refused before one is taken
    // from it, so no count reaches the copy that the payload does not hold.
    const int length_field = ReadLe16(reply + kPayloadLength);
    if (length_field < empty_length || !PayloadCovers(got, count_at, 2)) return RC_BAD_LENGTH;
    const int count = ReadLe16(reply + count_at);
    if (count != length_field - empty_length || !PayloadCovers(got, count_at + 2, count)) {
      return RC_BAD_LENGTH;
    }
    if (count == 0) break;
    if (static_cast<uint32_t>(count) > read.Capacity - done) return RC_BUFFER_TOO_SMALL;
    rc = NoteGroup(read, GroupOf(reply), done, static_cast<uint32_t>(count), &groups);
    if (rc != RC_OK) return rc;
    memcpy(read.Data + done, reply + count_at + 2, static_cast<size_t>(count));
    done += static_cast<uint32_t>(count);
    if (read.Progress != nullptr) {
      CallerCallbackScope callback;
      read.Progress(done, read.Expected, read.User);
    }

    // XQUIB_ReadAll ends on group 0 only.
    if (read.Kind != kReadAllGroups && reply[kPayloadContinuation] == kLastBlock) break;
    continuation = 1;
  }
  *read.Total = static_cast<int32_t>(done);
  if (read.Groups.Wanted) *read.Groups.Count = groups;
  return RC_OK;
}

}  // namespace

GraphicCommandId ReadCommandOf(BlockReadKind kind) {
  return kReadCommand[kind];
}

int16_t CheckBlockRead(const BlockRead &read) {
  if (read.Kind == kReadArea && !AreaReadable(read.Area)) return RC_BAD_ARGUMENT;
  if (read.Data == nullptr || read.Total == nullptr || read.Status == nullptr) {
    return RC_BAD_ARGUMENT;
  }
  if (read.Groups.Wanted && (read.Groups.Entries == nullptr || read.Groups.Count == nullptr)) {
    return RC_BAD_ARGUMENT;
  }
  return RC_OK;
}

int16_t ReadBlocks(uint16_t handle, const BlockRead &read) {
  Transfer transfer = BeginTransfer(handle);
  const int16_t rc = WalkBlocks(&transfer, read);
  EndTransfer(&transfer);
  return rc;
}

}  // namespace quib
