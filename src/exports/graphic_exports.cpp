// Exports of the graphic terminals: the open at the caller's rate with 8 data
// bits, even parity and one stop bit, the control commands, the queries and
// the block transfers.
//
// Every export but the open has one shape: the entry trace of its command's
// row, the channel check, its argument checks, one call into the subsystem.
// Where the order callers and readers of the trace know is another, the
// export says so.
#include "engine/channels.h"
#include "engine/engine.h"
#include "graphic/commands.h"
#include "graphic/queries.h"
#include "graphic/transfers.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

namespace {

// The shape of the eight block-read exports, which differ only in the read
// they describe.
int16_t BlockReadExport(uint16_t handle, const quib::BlockRead &read) {
  quib::TraceCommand(quib::ReadCommandOf(read.Kind));
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyGraphic);
  if (checked != RC_OK) return checked;
  const int16_t arguments = quib::CheckBlockRead(read);
  if (arguments != RC_OK) return arguments;
  return quib::ReadBlocks(handle, read);
}

// The shape of the six control-command exports.
int16_t ControlExport(uint16_t handle, quib::GraphicCommandId id, uint8_t subcommand,
                      uint16_t *status) {
  quib::TraceCommand(id);
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyGraphic);
  if (checked != RC_OK) return checked;
  if (status == nullptr) return RC_BAD_ARGUMENT;
  return quib::ControlCommand(handle, id, subcommand, status);
}

// The shape of the two chunked-write exports, behind their own refusals.
int16_t ChunkedWriteExport(uint16_t handle, quib::GraphicCommandId id, uint8_t subcommand,
                           uint16_t field, uint32_t length, const uint8_t *data, uint16_t *status,
                           QUIB_Progress progress, void *user) {
  quib::TraceCommand(id);
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyGraphic);
  if (checked != RC_OK) return checked;
  if (data == nullptr || status == nullptr) return RC_BAD_ARGUMENT;
  return quib::WriteChunked(handle, id, subcommand, field, length, data, status, progress, user);
}

}  // namespace

extern "C" {

QUIB_API int16_t QUIB_CALL XQUIB_Open(uint16_t port, uint16_t baud, uint16_t model) {
  return quib::OpenChannel(port, baud, 8, model, quib::kFamilyGraphic);
}

QUIB_API int16_t QUIB_CALL XQUIB_Offline(uint16_t handle, uint16_t *status) {
  return ControlExport(handle, quib::kCmdOffline, 0, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_SWReset(uint16_t handle, uint16_t *status) {
  return ControlExport(handle, quib::kCmdSoftwareReset, 0, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_Reset(uint16_t handle, uint16_t *status) {
  return ControlExport(handle, quib::kCmdReset, 0, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_Break(uint16_t handle, uint16_t *status) {
  return ControlExport(handle, quib::kCmdBreak, 0, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_DelUserData(uint16_t handle, uint16_t *status) {
  return ControlExport(handle, quib::kCmdDeleteUserData, 0, status);
}

// The rate code is refused first, before the entry trace: a refused code
// leaves no trace line.
QUIB_API int16_t QUIB_CALL XQUIB_BrateChange(uint16_t handle, uint16_t code, uint16_t *status) {
  const uint8_t rate = static_cast<uint8_t>(code & 0xFF);
  if (rate < 0x81 || rate > 0x83) return RC_BAD_ARGUMENT;
  return ControlExport(handle, quib::kCmdBaudRateChange, rate, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_CheckPassword(uint16_t handle, const uint8_t *password,
                                               uint16_t length, uint16_t *status) {
  quib::TraceCommand(quib::kCmdPassword);
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyGraphic);
  if (checked != RC_OK) return checked;
  // A longer password cannot travel, and cutting it would check another one.
  if (length > quib::kMaxPasswordLength) return RC_BAD_ARGUMENT;
  if (status == nullptr || (length > 0 && password == nullptr)) return RC_BAD_ARGUMENT;
  return quib::CheckPassword(handle, password, length, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_Start(uint16_t handle) {
  quib::TraceCommand(quib::kCmdStart);
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyGraphic);
  if (checked != RC_OK) return checked;
  return quib::StartTerminal(handle);
}

QUIB_API int16_t QUIB_CALL XQUIB_GetMemData(uint16_t handle, int32_t *value1, int32_t *value2,
                                            int32_t *value3, uint16_t *status) {
  quib::TraceCommand(quib::kCmdMemoryData);
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyGraphic);
  if (checked != RC_OK) return checked;
  if (!value1 || !value2 || !value3 || !status) return RC_BAD_ARGUMENT;
  return quib::QueryMemData(handle, value1, value2, value3, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_GetOsInfo(uint16_t handle, uint32_t *first, uint32_t *second,
                                           uint16_t *status) {
  quib::TraceCommand(quib::kCmdOsInfo);
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyGraphic);
  if (checked != RC_OK) return checked;
  if (!first || !second || !status) return RC_BAD_ARGUMENT;
  return quib::QueryOsInfo(handle, first, second, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_GetProjInfo(uint16_t handle, uint32_t *value1, uint32_t *value2,
                                             uint8_t *name, uint16_t *name_length,
                                             uint16_t *status) {
  quib::TraceCommand(quib::kCmdProjectInfo);
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyGraphic);
  if (checked != RC_OK) return checked;
  if (!value1 || !value2 || !name || !name_length || !status) return RC_BAD_ARGUMENT;
  return quib::QueryProjectInfo(handle, value1, value2, name, name_length, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_GetKEWType(uint16_t handle, uint32_t *type, uint16_t *status) {
  quib::TraceCommand(quib::kCmdTerminalType);
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyGraphic);
  if (checked != RC_OK) return checked;
  if (!type || !status) return RC_BAD_ARGUMENT;
  return quib::QueryTerminalType(handle, type, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_ReadAll(uint16_t handle, uint8_t *data, int32_t *total,
                                         uint16_t *status) {
  return BlockReadExport(
      handle,
      {quib::kReadAllGroups, 0, 0, data, quib::kUnlimited, total, status, nullptr, nullptr, {}, 0});
}

QUIB_API int16_t QUIB_CALL XQUIB_Read1G(uint16_t handle, uint16_t group, uint8_t *data,
                                        int32_t *total, uint16_t *status) {
  return BlockReadExport(handle, {quib::kReadOneGroup,
                                  group,
                                  0,
                                  data,
                                  quib::kUnlimited,
                                  total,
                                  status,
                                  nullptr,
                                  nullptr,
                                  {},
                                  0});
}

QUIB_API int16_t QUIB_CALL XQUIB_Read(uint16_t handle, uint8_t area, uint8_t *data, int32_t *total,
                                      uint16_t *status) {
  return BlockReadExport(
      handle,
      {quib::kReadArea, 0, area, data, quib::kUnlimited, total, status, nullptr, nullptr, {}, 0});
}

QUIB_API int16_t QUIB_CALL XQUIB_ReadAllEx(uint16_t handle, uint8_t *data, uint32_t capacity,
                                           int32_t *total, uint16_t *status, QUIB_Progress progress,
                                           void *user) {
  return BlockReadExport(
      handle, {quib::kReadAllGroups, 0, 0, data, capacity, total, status, progress, user, {}, 0});
}

QUIB_API int16_t QUIB_CALL XQUIB_ReadAllGroups(uint16_t handle, uint8_t *data, uint32_t capacity,
                                               int32_t *total, QUIB_GroupEntry *groups,
                                               uint32_t group_capacity, uint32_t *group_count,
                                               uint16_t *status, uint32_t expected,
                                               QUIB_Progress progress, void *user) {
  return BlockReadExport(handle, {quib::kReadAllGroups,
                                  0,
                                  0,
                                  data,
                                  capacity,
                                  total,
                                  status,
                                  progress,
                                  user,
                                  {true, groups, group_capacity, group_count},
                                  expected});
}

QUIB_API int16_t QUIB_CALL XQUIB_Read1GEx(uint16_t handle, uint16_t group, uint8_t *data,
                                          uint32_t capacity, int32_t *total, uint16_t *status,
                                          QUIB_Progress progress, void *user) {
  return BlockReadExport(
      handle,
      {quib::kReadOneGroup, group, 0, data, capacity, total, status, progress, user, {}, 0});
}

QUIB_API int16_t QUIB_CALL XQUIB_ReadEx(uint16_t handle, uint8_t area, uint8_t *data,
                                        uint32_t capacity, int32_t *total, uint16_t *status,
                                        QUIB_Progress progress, void *user) {
  return BlockReadExport(
      handle, {quib::kReadArea, 0, area, data, capacity, total, status, progress, user, {}, 0});
}

// The length and the area are refused first, before the entry trace: a
// refused write leaves no trace line.
QUIB_API int16_t QUIB_CALL XQUIB_WriteEx(uint16_t handle, uint8_t area, uint16_t group,
                                         uint32_t length, const uint8_t *data, uint16_t *status,
                                         QUIB_Progress progress, void *user) {
  if (length == 0 || !quib::AreaWritable(area)) return RC_BAD_ARGUMENT;
  return ChunkedWriteExport(handle, quib::kCmdAreaWrite, area, group, length, data, status,
                            progress, user);
}

// The length, the subcommand and the option are refused first, before the
// entry trace: a refused installation leaves no trace line.
QUIB_API int16_t QUIB_CALL XQUIB_OSInstlEx(uint16_t handle, uint8_t subcommand, uint8_t option,
                                           uint32_t length, const uint8_t *data, uint16_t *status,
                                           QUIB_Progress progress, void *user) {
  if (length == 0) return RC_BAD_ARGUMENT;
  if (subcommand != 0x61 && subcommand != 0x62) return RC_BAD_ARGUMENT;
  if (option != 0x00 && option != 0x80) return RC_BAD_ARGUMENT;
  return ChunkedWriteExport(handle, quib::kCmdInstall, subcommand, option, length, data, status,
                            progress, user);
}

QUIB_API int16_t QUIB_CALL XQUIB_Write(uint16_t handle, uint8_t area, uint16_t group,
                                       uint32_t length, const uint8_t *data, uint16_t *status) {
  return XQUIB_WriteEx(handle, area, group, length, data, status, nullptr, nullptr);
}

QUIB_API int16_t QUIB_CALL XQUIB_OSInstl(uint16_t handle, uint8_t subcommand, uint8_t option,
                                         uint32_t length, const uint8_t *data, uint16_t *status) {
  return XQUIB_OSInstlEx(handle, subcommand, option, length, data, status, nullptr, nullptr);
}

}  // extern "C"
