/* QUIBLINK: serial link to operator display terminals.
 *
 * Classic panels (QUIB_ exports) and graphic terminals (XQUIB_ exports) on
 * COM1..COM10. Every call returns a signed 16-bit result code: 0 (or a channel
 * handle for the open calls) on success, one of the negative RC_ codes below on
 * failure. Calls block the calling thread until their exchanges are over.
 *
 * On 32-bit Windows the exports use the stdcall convention and are exported
 * under their decorated names (_QUIB_Open@8, ...). Elsewhere the calling
 * convention is the platform's default. */
#ifndef QUIBLINK_QUIBLINK_H
#define QUIBLINK_QUIBLINK_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QUIB_CALL __stdcall
#else
#define QUIB_CALL
#endif

/* Windows exports come from the module definition file; elsewhere the library
 * is built with hidden visibility and only these functions are visible. */
#if defined(_WIN32)
#define QUIB_API
#else
#define QUIB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes: RC_OK and the RC_ failure codes, generated from the table of
 * quiblink_results.h. */
#include "quiblink/quiblink_codes.h"

/* Library. */
QUIB_API int16_t QUIB_CALL QUIB_Version(void);

/* Channels. port: 0..9 for COM1..COM10. Opens and closes may come from any
 * threads at once. A port's last close returns once its device is released;
 * an open of that port meanwhile waits for it, opens of other ports do not. */
QUIB_API int16_t QUIB_CALL QUIB_Open(uint16_t port, uint16_t model);
QUIB_API int16_t QUIB_CALL XQUIB_Open(uint16_t port, uint16_t baud, uint16_t model);
QUIB_API int16_t QUIB_CALL QUIB_Close(uint16_t handle);

/* Classic panels: memory read and write. A run of several chunks holds its
 * port like the block transfers below. */
QUIB_API int16_t QUIB_CALL QUIB_Read(uint16_t handle, uint16_t area, int32_t address,
                                     uint8_t *buffer, uint16_t count);
QUIB_API int16_t QUIB_CALL QUIB_Write(uint16_t handle, uint16_t area, int32_t address,
                                      uint16_t count, const uint8_t *data);

/* Graphic terminals: block transfers. The read buffers must hold everything
 * the terminal sends (see quiblink_ext.h for sized forms). A transfer holds its
 * port from its first frame to its last: other channels' calls on the port
 * wait and run after it, in arrival order; a call on the same channel meanwhile
 * gets RC_CHANNEL_BUSY, and its close RC_BAD_ARGUMENT. */
QUIB_API int16_t QUIB_CALL XQUIB_ReadAll(uint16_t handle, uint8_t *data, int32_t *total,
                                         uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_Read1G(uint16_t handle, uint16_t group, uint8_t *data,
                                        int32_t *total, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_Read(uint16_t handle, uint8_t area, uint8_t *data, int32_t *total,
                                      uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_Write(uint16_t handle, uint8_t area, uint16_t group,
                                       uint32_t length, const uint8_t *data, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_OSInstl(uint16_t handle, uint8_t subcommand, uint8_t option,
                                         uint32_t length, const uint8_t *data, uint16_t *status);

/* Graphic terminals: control and query commands. */
QUIB_API int16_t QUIB_CALL XQUIB_Start(uint16_t handle);
QUIB_API int16_t QUIB_CALL XQUIB_Offline(uint16_t handle, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_SWReset(uint16_t handle, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_Reset(uint16_t handle, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_Break(uint16_t handle, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_GetMemData(uint16_t handle, int32_t *value1, int32_t *value2,
                                            int32_t *value3, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_GetOsInfo(uint16_t handle, uint32_t *first, uint32_t *second,
                                           uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_GetProjInfo(uint16_t handle, uint32_t *value1, uint32_t *value2,
                                             uint8_t *name, uint16_t *name_length,
                                             uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_DelUserData(uint16_t handle, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_CheckPassword(uint16_t handle, const uint8_t *password,
                                               uint16_t length, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_GetKEWType(uint16_t handle, uint32_t *type, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_BrateChange(uint16_t handle, uint16_t code, uint16_t *status);

#ifdef __cplusplus
}
#endif

#endif /* QUIBLINK_QUIBLINK_H */
