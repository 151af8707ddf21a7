// Block reads of command 33: every group of the grouped area, one group, or a
// plain area. One routine serves the three exports and their sized forms.
#include <string.h>

#include "core/state.h"
#include "core/trace.h"
#include "graphic/codec.h"
#include "graphic/exchange.h"
#include "graphic/transfers.h"

namespace quib {
namespace {

constexpr uint8_t kBlockRead = 33;
constexpr uint8_t kGroupedArea = 1;
constexpr uint8_t kLastBlock = 2;

// Payload offsets of a block reply: grouped area (group, count, data) and
// plain area (count, data).
constexpr int kGroupAt = kPayloadData;
constexpr int kGroupedCountAt = kPayloadData + 2;
constexpr int kAreaCountAt = kPayloadData;
// Length field of a block reply that carries no data.
constexpr int kGroupedEmptyLength = 10;
constexpr int kAreaEmptyLength = 8;

// CheckReply's answer when XQUIB_ReadAll meets group 0.
constexpr int16_t kAllGroupsRead = 1;

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

// The reply checks up to the data count, in each read's own order.
int16_t CheckReply(const BlockRead &read, const uint8_t *reply, uint16_t got,
                   ReadProgress *progress) {
  if (!PayloadCovers(got, 0, kPayloadHeaderSize)) return RC_BAD_LENGTH;
  const uint8_t subcommand = read.Kind == kReadArea ? read.Area : kGroupedArea;
  if (reply[kPayloadCommand] != kBlockRead || reply[kPayloadSubcommand] != subcommand) {
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
      if (GroupOf(reply) == 0) return kAllGroupsRead;
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

// The block walk, holding the port's turn from its first request on.
int16_t WalkBlocks(Transfer *transfer, const BlockRead &read) {
  const bool area = read.Kind == kReadArea;
  int16_t rc;

  const uint8_t subcommand = area ? read.Area : kGroupedArea;
  const uint16_t group = read.Kind == kReadOneGroup ? read.Group : 0;
  const int count_at = area ? kAreaCountAt : kGroupedCountAt;
  const int empty_length = area ? kAreaEmptyLength : kGroupedEmptyLength;

  uint8_t frame[kGraphicFrameSize];
  uint8_t reply[kBufferSize];
  ReadProgress progress{0, 0};
  uint8_t continuation = 0;
  uint32_t done = 0;
  for (;;) {
    uint16_t expected = 0;
    const uint16_t length =
        BuildGraphicRequest(kBlockRead, subcommand, group, frame, &expected, continuation);
    if (length == 0) return RC_BAD_ARGUMENT;
    if (area) DumpFrame(frame);
    uint16_t got = 0;
    rc = ExchangeGraphicFrame(transfer, frame, length, expected, ProbeGraphicLength, reply, &got);
    if (rc != RC_OK) return rc;

    rc = CheckReply(read, reply, got, &progress);
    if (rc == kAllGroupsRead) break;
    if (rc != RC_OK) return rc;

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
    memcpy(read.Data + done, reply + count_at + 2, static_cast<size_t>(count));
    done += static_cast<uint32_t>(count);
    if (read.Progress != nullptr) read.Progress(done, 0, read.User);

    // XQUIB_ReadAll ends on group 0 only.
    if (read.Kind != kReadAllGroups && reply[kPayloadContinuation] == kLastBlock) break;
    continuation = 1;
  }
  *read.Total = static_cast<int32_t>(done);
  return RC_OK;
}

}  // namespace

int16_t ReadBlocks(uint16_t handle, const BlockRead &read) {
  Trace(read.Kind == kReadAllGroups ? "READAll command\n" : "READ command\n");
  const int16_t checked = CheckGraphicChannel(handle);
  if (checked != RC_OK) return checked;
  if (read.Kind == kReadArea && !AreaReadable(read.Area)) return RC_BAD_ARGUMENT;
  if (read.Data == nullptr || read.Total == nullptr || read.Status == nullptr) {
    return RC_BAD_ARGUMENT;
  }
  Transfer transfer = BeginTransfer(handle);
  const int16_t rc = WalkBlocks(&transfer, read);
  EndTransfer(&transfer);
  return rc;
}

}  // namespace quib
