// Exports of the graphic terminals: the open at the caller's rate with 8 data
// bits, even parity and one stop bit, the control commands, the queries and
// the block transfers. The channel checks and the entry traces run in the
// subsystem, in the order the callers see.
#include "engine/channels.h"
#include "graphic/commands.h"
#include "graphic/queries.h"
#include "graphic/transfers.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

extern "C" {

QUIB_API int16_t QUIB_CALL XQUIB_Open(uint16_t port, uint16_t baud, uint16_t model) {
  return quib::OpenChannel(port, baud, 8, model, quib::kFamilyGraphic);
}

QUIB_API int16_t QUIB_CALL XQUIB_Offline(uint16_t handle, uint16_t *status) {
  return quib::GoOffline(handle, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_SWReset(uint16_t handle, uint16_t *status) {
  return quib::SoftwareReset(handle, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_Reset(uint16_t handle, uint16_t *status) {
  return quib::ResetTerminal(handle, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_Break(uint16_t handle, uint16_t *status) {
  return quib::SendBreak(handle, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_DelUserData(uint16_t handle, uint16_t *status) {
  return quib::DeleteUserData(handle, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_BrateChange(uint16_t handle, uint16_t code, uint16_t *status) {
  const uint8_t rate = static_cast<uint8_t>(code & 0xFF);
  if (rate < 0x81 || rate > 0x83) return RC_BAD_ARGUMENT;
  return quib::ChangeBaudRate(handle, rate, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_CheckPassword(uint16_t handle, const uint8_t *password,
                                               uint16_t length, uint16_t *status) {
  return quib::CheckPassword(handle, password, length, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_Start(uint16_t handle) {
  return quib::StartTerminal(handle);
}

QUIB_API int16_t QUIB_CALL XQUIB_GetMemData(uint16_t handle, int32_t *value1, int32_t *value2,
                                            int32_t *value3, uint16_t *status) {
  return quib::QueryMemData(handle, value1, value2, value3, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_GetOsInfo(uint16_t handle, uint32_t *first, uint32_t *second,
                                           uint16_t *status) {
  return quib::QueryOsInfo(handle, first, second, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_GetProjInfo(uint16_t handle, uint32_t *value1, uint32_t *value2,
                                             uint8_t *name, uint16_t *name_length,
                                             uint16_t *status) {
  return quib::QueryProjectInfo(handle, value1, value2, name, name_length, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_GetKEWType(uint16_t handle, uint32_t *type, uint16_t *status) {
  return quib::QueryTerminalType(handle, type, status);
}

QUIB_API int16_t QUIB_CALL XQUIB_ReadAll(uint16_t handle, uint8_t *data, int32_t *total,
                                         uint16_t *status) {
  return quib::ReadBlocks(
      handle,
      {quib::kReadAllGroups, 0, 0, data, quib::kUnlimited, total, status, nullptr, nullptr, {}, 0});
}

QUIB_API int16_t QUIB_CALL XQUIB_Read1G(uint16_t handle, uint16_t group, uint8_t *data,
                                        int32_t *total, uint16_t *status) {
  return quib::ReadBlocks(handle, {quib::kReadOneGroup,
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
  return quib::ReadBlocks(
      handle,
      {quib::kReadArea, 0, area, data, quib::kUnlimited, total, status, nullptr, nullptr, {}, 0});
}

QUIB_API int16_t QUIB_CALL XQUIB_ReadAllEx(uint16_t handle, uint8_t *data, uint32_t capacity,
                                           int32_t *total, uint16_t *status, QUIB_Progress progress,
                                           void *user) {
  return quib::ReadBlocks(
      handle, {quib::kReadAllGroups, 0, 0, data, capacity, total, status, progress, user, {}, 0});
}

QUIB_API int16_t QUIB_CALL XQUIB_ReadAllGroups(uint16_t handle, uint8_t *data, uint32_t capacity,
                                               int32_t *total, QUIB_GroupEntry *groups,
                                               uint32_t group_capacity, uint32_t *group_count,
                                               uint16_t *status, uint32_t expected,
                                               QUIB_Progress progress, void *user) {
  return quib::ReadBlocks(handle, {quib::kReadAllGroups,
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
  return quib::ReadBlocks(
      handle,
      {quib::kReadOneGroup, group, 0, data, capacity, total, status, progress, user, {}, 0});
}

QUIB_API int16_t QUIB_CALL XQUIB_ReadEx(uint16_t handle, uint8_t area, uint8_t *data,
                                        uint32_t capacity, int32_t *total, uint16_t *status,
                                        QUIB_Progress progress, void *user) {
  return quib::ReadBlocks(
      handle, {quib::kReadArea, 0, area, data, capacity, total, status, progress, user, {}, 0});
}

QUIB_API int16_t QUIB_CALL XQUIB_WriteEx(uint16_t handle, uint8_t area, uint16_t group,
                                         uint32_t length, const uint8_t *data, uint16_t *status,
                                         QUIB_Progress progress, void *user) {
  if (length == 0 || !quib::AreaWritable(area)) return RC_BAD_ARGUMENT;
  return quib::WriteArea(handle, area, group, length, data, status, progress, user);
}

QUIB_API int16_t QUIB_CALL XQUIB_OSInstlEx(uint16_t handle, uint8_t subcommand, uint8_t option,
                                           uint32_t length, const uint8_t *data, uint16_t *status,
                                           QUIB_Progress progress, void *user) {
  if (length == 0) return RC_BAD_ARGUMENT;
  if (subcommand != 0x61 && subcommand != 0x62) return RC_BAD_ARGUMENT;
  if (option != 0x00 && option != 0x80) return RC_BAD_ARGUMENT;
  return quib::InstallOs(handle, subcommand, option, length, data, status, progress, user);
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
