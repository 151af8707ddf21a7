// Query commands of the graphic terminals: memory data, operating-system
// information, project information and terminal type. Values pass through
// as the terminal sends them.
#include "graphic/queries.h"

#include <string.h>

#include "core/state.h"
#include "graphic/codec.h"
#include "graphic/commands.h"
#include "graphic/exchange.h"
#include "quiblink/quiblink.h"

namespace quib {
namespace {

constexpr uint8_t kOsEntryKind = 0x61;

// Payload offsets of the query replies.
constexpr int kMemValues = kPayloadData;  // three 16-bit values
constexpr int kOsCount = kPayloadData;
constexpr int kOsEntry1 = kPayloadData + 1;  // kind, flag, 32-bit value
constexpr int kOsEntry2 = kPayloadData + 7;
constexpr int kOsEnd = kPayloadData + 13;
constexpr int kProjValue1 = kPayloadData;
constexpr int kProjValue2 = kPayloadData + 4;
constexpr int kProjNameLength = kPayloadData + 8;
constexpr int kProjName = kPayloadData + 9;
constexpr int kTypeByte = kPayloadData;

struct QueryReply {
  uint8_t Payload[kBufferSize];
  uint16_t Length;
};

// Runs a query up to its data: the routine, the status byte, then that the
// payload holds the size bytes at offset that every reply of the query has.
int16_t Query(uint16_t handle, GraphicCommandId id, uint16_t *status, int offset, int size,
              QueryReply *reply) {
  reply->Length = 0;
  int16_t rc = SendGraphicCommand(handle, id, 0, reply->Payload, &reply->Length);
  if (rc != RC_OK) return rc;
  rc = StoreTerminalStatus(reply->Payload, status);
  if (rc != RC_OK) return rc;
  return PayloadCovers(reply->Length, offset, size) ? RC_OK : RC_BAD_LENGTH;
}

}  // namespace

int16_t QueryMemData(uint16_t handle, int32_t *value1, int32_t *value2, int32_t *value3,
                     uint16_t *status) {
  QueryReply reply;
  const int16_t rc = Query(handle, kCmdMemoryData, status, kMemValues, 6, &reply);
  if (rc != RC_OK) return rc;
  *value1 = ReadLe16(reply.Payload + kMemValues);
  *value2 = ReadLe16(reply.Payload + kMemValues + 2);
  *value3 = ReadLe16(reply.Payload + kMemValues + 4);
  return RC_OK;
}

int16_t QueryOsInfo(uint16_t handle, uint32_t *first, uint32_t *second, uint16_t *status) {
  QueryReply reply;
  const int16_t rc = Query(handle, kCmdOsInfo, status, kOsCount, kOsEnd - kOsCount, &reply);
  if (rc != RC_OK) return rc;
  const uint8_t *payload = reply.Payload;
  if (payload[kOsCount] != 2 || payload[kOsEntry1] != kOsEntryKind ||
      payload[kOsEntry2] != kOsEntryKind) {
    return RC_BAD_OS_INFO;
  }
  const uint8_t flag1 = payload[kOsEntry1 + 1];
  const uint8_t flag2 = payload[kOsEntry2 + 1];
  const uint32_t value1 = ReadLe32(payload + kOsEntry1 + 2);
  const uint32_t value2 = ReadLe32(payload + kOsEntry2 + 2);
  if (flag1 == 0x00 && flag2 == 0x80) {
    *first = value1;
    *second = value2;
  } else if (flag1 == 0x80 && flag2 == 0x00) {
    *first = value2;
    *second = value1;
  } else {
    return RC_BAD_OS_INFO;
  }
  return RC_OK;
}

int16_t QueryProjectInfo(uint16_t handle, uint32_t *value1, uint32_t *value2, uint8_t *name,
                         uint16_t *name_length, uint16_t *status) {
  QueryReply reply;
  const int16_t rc =
      Query(handle, kCmdProjectInfo, status, kPayloadData, kProjName - kPayloadData, &reply);
  if (rc != RC_OK) return rc;
  const uint8_t *payload = reply.Payload;
  const uint8_t n = payload[kProjNameLength];
  // Only the low byte of the length field is compared, so a name longer than
  // 240 bytes never matches.
  if ((ReadLe16(payload + kPayloadLength) & 0xFF) != n + 15) return RC_BAD_PROJECT_INFO;
  if (!PayloadCovers(reply.Length, kProjName, n)) return RC_BAD_LENGTH;
  *value1 = ReadLe32(payload + kProjValue1);
  *value2 = ReadLe32(payload + kProjValue2);
  *name_length = n;
  if (n == 0) {
    name[0] = 0;
  } else {
    memcpy(name, payload + kProjName, n);
  }
  return RC_OK;
}

int16_t QueryTerminalType(uint16_t handle, uint32_t *type, uint16_t *status) {
  QueryReply reply;
  const int16_t rc = Query(handle, kCmdTerminalType, status, kTypeByte, 1, &reply);
  if (rc != RC_OK) return rc;
  *type = reply.Payload[kTypeByte];
  return RC_OK;
}

}  // namespace quib
