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

/* Result codes. */
#define RC_OK 0
#define RC_PORT_OPEN_FAILED (-1)  /* open: device cannot be opened; close: channel not open */
#define RC_BAD_ARGUMENT (-2)      /* argument out of range, or close of a busy channel */
#define RC_NOT_OPEN (-3)          /* the channel handle names a free slot */
#define RC_CHANNEL_BUSY (-4)      /* the channel already has a transaction in progress */
#define RC_TX_FAILED (-7)         /* line held by flow control, or the write failed */
#define RC_NO_RESPONSE (-13)      /* no reply within the time-out, or modem lines off */
#define RC_CHECKSUM (-17)         /* reply checksum mismatch */
#define RC_INCOMPLETE (-18)       /* part of a reply arrived, then silence */
#define RC_NAK (-19)              /* classic panel refused the request */
#define RC_BAD_START (-20)        /* first reply byte not allowed for the request */
#define RC_NO_ETX (-21)           /* classic reply without ETX before its checksum */
#define RC_BAD_LENGTH (-30)       /* graphic reply length field disagrees */
#define RC_BAD_ECHO (-31)         /* graphic reply does not echo command/subcommand */
#define RC_SEQUENCE (-32)         /* graphic continuation/sequence wrong; open: no free slot */
#define RC_BAD_PORT (-33)         /* open: port above 9; graphic: malformed OS information */
#define RC_BAD_PROJECT_INFO (-34) /* project information name length disagrees */
#define RC_BAD_GROUP (-35)        /* block read returned another group */
#define RC_TERMINAL_ERROR (-36)   /* terminal refused: see the terminal status */

/* Library. */
QUIB_API int16_t QUIB_CALL QUIB_Version(void);

/* Channels. port: 0..9 for COM1..COM10. Opens and closes may come from any
 * threads at once. A port's last close returns once its device is released;
 * an open of that port meanwhile waits for it, opens of other ports do not.
 * A channel belongs to the family of the open that made it: QUIB_Open's
 * channels serve only QUIB_Read and QUIB_Write, XQUIB_Open's only the XQUIB_
 * calls; the other family's calls return -2 at once, sending nothing. A port
 * is held by this process alone (another gets -1) and is released when its
 * last channel closes or the process ends, killed or not. The child of a
 * fork() holds no port: its copies of the parent's channels are not open
 * there (calls -3, close -1). */
QUIB_API int16_t QUIB_CALL QUIB_Open(uint16_t port, uint16_t model);
QUIB_API int16_t QUIB_CALL XQUIB_Open(uint16_t port, uint16_t baud, uint16_t model);
QUIB_API int16_t QUIB_CALL QUIB_Close(uint16_t handle);

/* Classic panels: memory read and write. A run of several chunks holds its
 * port like the block transfers below. -2, with nothing sent, when the
 * wire address of some byte of the transfer does not fit the request's
 * address digits: the address plus the read area's offset (writes: none)
 * below 0 or above 0xFFFFFF; with model 3 the address plus 0x8080 (and 8
 * more from logical 3960) below 0 or above 0xFFFF, i.e. logical addresses
 * -0x8080 to 0x7F77. -2 too on a channel that XQUIB_Open opened. */
QUIB_API int16_t QUIB_CALL QUIB_Read(uint16_t handle, uint16_t area, int32_t address,
                                     uint8_t *buffer, uint16_t count);
QUIB_API int16_t QUIB_CALL QUIB_Write(uint16_t handle, uint16_t area, int32_t address,
                                      uint16_t count, const uint8_t *data);

/* Graphic terminals: block transfers. The read buffers must hold everything
 * the terminal sends (see quiblink_ext.h for sized forms). A transfer holds its
 * port from its first frame to its last: other channels' calls on the port
 * wait and run after it, in arrival order; a call on the same channel meanwhile
 * gets RC_CHANNEL_BUSY, and its close RC_BAD_ARGUMENT. Every XQUIB_ call
 * returns -2 at once on a channel that QUIB_Open opened. */
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
/* length 0..255 (one length byte on the wire); above 255: -2, nothing sent. */
QUIB_API int16_t QUIB_CALL XQUIB_CheckPassword(uint16_t handle, const uint8_t *password,
                                               uint16_t length, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_GetKEWType(uint16_t handle, uint32_t *type, uint16_t *status);
QUIB_API int16_t QUIB_CALL XQUIB_BrateChange(uint16_t handle, uint16_t code, uint16_t *status);

#ifdef __cplusplus
}
#endif

#endif /* QUIBLINK_QUIBLINK_H */
