// The one list of the library's exports with their signatures, in the order
// of quiblink.def. X(result, name, parameters, stack_bytes): stack_bytes is
// what a 32-bit stdcall call takes off the stack, the number in the decorated
// name (_QUIB_Open@8). The library checks each signature against its
// declaration in the public headers, and each stack size on 32-bit Windows;
// a test checks the list against quiblink.def. Programs that load the library
// at run time take their tables from it.
//
// Before including: the public headers quiblink.h, quiblink_ext.h and
// quiblink_errors.h.
#pragma once

// clang-format off
#define QUIB_EXPORT_LIST(X) \
  X(int16_t, QUIB_Version, (void), 0) \
  X(int16_t, QUIB_Open, (uint16_t port, uint16_t model), 8) \
  X(int16_t, XQUIB_Open, (uint16_t port, uint16_t baud, uint16_t model), 12) \
  X(int16_t, QUIB_Close, (uint16_t handle), 4) \
  X(int16_t, QUIB_Read, (uint16_t handle, uint16_t area, int32_t address, uint8_t *buffer, uint16_t count), 20) \
  X(int16_t, QUIB_Write, (uint16_t handle, uint16_t area, int32_t address, uint16_t count, const uint8_t *data), 20) \
  X(int16_t, XQUIB_ReadAll, (uint16_t handle, uint8_t *data, int32_t *total, uint16_t *status), 16) \
  X(int16_t, XQUIB_Read1G, (uint16_t handle, uint16_t group, uint8_t *data, int32_t *total, uint16_t *status), 20) \
  X(int16_t, XQUIB_Read, (uint16_t handle, uint8_t area, uint8_t *data, int32_t *total, uint16_t *status), 20) \
  X(int16_t, XQUIB_Write, (uint16_t handle, uint8_t area, uint16_t group, uint32_t length, const uint8_t *data, uint16_t *status), 24) \
  X(int16_t, XQUIB_OSInstl, (uint16_t handle, uint8_t subcommand, uint8_t option, uint32_t length, const uint8_t *data, uint16_t *status), 24) \
  X(int16_t, XQUIB_Start, (uint16_t handle), 4) \
  X(int16_t, XQUIB_Offline, (uint16_t handle, uint16_t *status), 8) \
  X(int16_t, XQUIB_SWReset, (uint16_t handle, uint16_t *status), 8) \
  X(int16_t, XQUIB_Reset, (uint16_t handle, uint16_t *status), 8) \
  X(int16_t, XQUIB_Break, (uint16_t handle, uint16_t *status), 8) \
  X(int16_t, XQUIB_GetMemData, (uint16_t handle, int32_t *value1, int32_t *value2, int32_t *value3, uint16_t *status), 20) \
  X(int16_t, XQUIB_GetOsInfo, (uint16_t handle, uint32_t *first, uint32_t *second, uint16_t *status), 16) \
  X(int16_t, XQUIB_GetProjInfo, (uint16_t handle, uint32_t *value1, uint32_t *value2, uint8_t *name, uint16_t *name_length, uint16_t *status), 24) \
  X(int16_t, XQUIB_DelUserData, (uint16_t handle, uint16_t *status), 8) \
  X(int16_t, XQUIB_CheckPassword, (uint16_t handle, const uint8_t *password, uint16_t length, uint16_t *status), 16) \
  X(int16_t, XQUIB_GetKEWType, (uint16_t handle, uint32_t *type, uint16_t *status), 12) \
  X(int16_t, XQUIB_BrateChange, (uint16_t handle, uint16_t code, uint16_t *status), 12) \
  /* Extensions (quiblink_ext.h, quiblink_errors.h). */ \
  X(void, QUIB_SetTraceHandler, (QUIB_TraceHandler handler, void *user), 8) \
  X(int16_t, XQUIB_ReadAllEx, (uint16_t handle, uint8_t *data, uint32_t capacity, int32_t *total, uint16_t *status, QUIB_Progress progress, void *user), 28) \
  X(int16_t, XQUIB_Read1GEx, (uint16_t handle, uint16_t group, uint8_t *data, uint32_t capacity, int32_t *total, uint16_t *status, QUIB_Progress progress, void *user), 32) \
  X(int16_t, XQUIB_ReadEx, (uint16_t handle, uint8_t area, uint8_t *data, uint32_t capacity, int32_t *total, uint16_t *status, QUIB_Progress progress, void *user), 32) \
  X(int16_t, XQUIB_WriteEx, (uint16_t handle, uint8_t area, uint16_t group, uint32_t length, const uint8_t *data, uint16_t *status, QUIB_Progress progress, void *user), 32) \
  X(int16_t, XQUIB_OSInstlEx, (uint16_t handle, uint8_t subcommand, uint8_t option, uint32_t length, const uint8_t *data, uint16_t *status, QUIB_Progress progress, void *user), 32) \
  X(int16_t, QUIB_SetEngineStyle, (int32_t style), 4) \
  X(int32_t, QUIB_GetEngineStyle, (void), 0) \
  X(const char *, QUIB_ResultText, (int16_t code), 4) \
  X(int32_t, QUIB_LastOpenError, (char *text, uint16_t size), 8) \
  X(void, QUIB_SetMessageBoxes, (int enabled), 4) \
  X(int16_t, QUIB_SetPortDevice, (uint16_t port, const char *device), 8) \
  X(int16_t, QUIB_CancelTransfer, (uint16_t handle), 4) \
  X(int16_t, XQUIB_ReadAllGroups, (uint16_t handle, uint8_t *data, uint32_t capacity, int32_t *total, QUIB_GroupEntry *groups, uint32_t group_capacity, uint32_t *group_count, uint16_t *status, uint32_t expected, QUIB_Progress progress, void *user), 44)
// clang-format on
