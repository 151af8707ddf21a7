/* QUIBLINK extensions: additions to the classic export set. They never change
 * a function of quiblink.h, its arguments or its result codes. */
#ifndef QUIBLINK_QUIBLINK_EXT_H
#define QUIBLINK_QUIBLINK_EXT_H

#include "quiblink.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Extension result code: a sized block read stopped before writing past the
 * caller's buffer. The blocks before the one that did not fit are in the
 * buffer, nothing of that block is; the total is not stored. */
#define RC_BUFFER_TOO_SMALL (-40)

/* Trace handler: called once per trace text the library writes, with exactly
 * that text (e.g. "READ command\n", or the frame dump's pieces "[", "A",
 * "<1F>", "]\n"). NULL removes it. Without a handler the text goes to the
 * debugger output (Windows) or, when QUIBLINK_TRACE is set, to stderr.
 * Callbacks use the exports' calling convention (QUIB_CALL: stdcall on 32-bit
 * Windows), the default of .NET delegates and of VB's AddressOf. */
typedef void(QUIB_CALL *QUIB_TraceHandler)(const char *text, void *user);
QUIB_API void QUIB_CALL QUIB_SetTraceHandler(QUIB_TraceHandler handler, void *user);

/* Progress callback of the transfer forms below: called after each block
 * with the bytes done so far and, for writes, the total (0 for reads). */
typedef void(QUIB_CALL *QUIB_Progress)(uint32_t done, uint32_t total, void *user);

/* Sized block reads: as XQUIB_ReadAll, XQUIB_Read1G and XQUIB_Read, but never
 * write more than capacity bytes; RC_BUFFER_TOO_SMALL otherwise. progress may
 * be NULL. */
QUIB_API int16_t QUIB_CALL XQUIB_ReadAllEx(uint16_t handle, uint8_t *data, uint32_t capacity,
                                           int32_t *total, uint16_t *status, QUIB_Progress progress,
                                           void *user);
QUIB_API int16_t QUIB_CALL XQUIB_Read1GEx(uint16_t handle, uint16_t group, uint8_t *data,
                                          uint32_t capacity, int32_t *total, uint16_t *status,
                                          QUIB_Progress progress, void *user);
QUIB_API int16_t QUIB_CALL XQUIB_ReadEx(uint16_t handle, uint8_t area, uint8_t *data,
                                        uint32_t capacity, int32_t *total, uint16_t *status,
                                        QUIB_Progress progress, void *user);

/* Block writes with progress: as XQUIB_Write and XQUIB_OSInstl. */
QUIB_API int16_t QUIB_CALL XQUIB_WriteEx(uint16_t handle, uint8_t area, uint16_t group,
                                         uint32_t length, const uint8_t *data, uint16_t *status,
                                         QUIB_Progress progress, void *user);
QUIB_API int16_t QUIB_CALL XQUIB_OSInstlEx(uint16_t handle, uint8_t subcommand, uint8_t option,
                                           uint32_t length, const uint8_t *data, uint16_t *status,
                                           QUIB_Progress progress, void *user);

/* Engine style: how a port's worker waits for reply bytes and a caller for
 * its turn on the port. QUIB_ENGINE_WAKE (the default) returns as soon as
 * reply bytes arrive or the caller ahead leaves the port; QUIB_ENGINE_POLL
 * pauses a full 10 ms between looks at the line and at the queue, for
 * comparing traces and timings with an implementation that polls (a reply
 * split across a poll shows its own "Before Decoding" lines). Both keep every
 * timing rule. QUIBLINK_ENGINE=poll or =wake in the environment sets it as the
 * library loads. A change applies from the next pause on, also to exchanges
 * under way. QUIB_SetEngineStyle returns 0, or RC_BAD_ARGUMENT for another
 * value (the style is then unchanged). */
#define QUIB_ENGINE_WAKE 0
#define QUIB_ENGINE_POLL 1
QUIB_API int16_t QUIB_CALL QUIB_SetEngineStyle(int32_t style);
QUIB_API int32_t QUIB_CALL QUIB_GetEngineStyle(void);

/* Message boxes: the library shows a modal box on a few set-up failures (a
 * port that does not open, a thread or semaphore that cannot be made). With
 * enabled 0 their texts go to the trace instead, one text "caption: text\n"
 * (or "text\n"), for services and unattended machines. Until this is called
 * boxes are shown unless the environment variable QUIBLINK_NO_MESSAGEBOX is
 * set to anything but "0". */
QUIB_API void QUIB_CALL QUIB_SetMessageBoxes(int enabled);

/* The device a port index opens, for this process: COM17, \\.\COM17 (any
 * COM port, also above COM10), /dev/ttyUSB0, /dev/serial/by-id/... NULL
 * restores the default (COM1 ... \\.\COM10; on Linux QUIBLINK_COM1 ... or
 * /dev/ttyS0 ...), which a name set here overrides. Takes effect at the
 * port's next open. 0, RC_BAD_PORT for a port above 9, RC_BAD_ARGUMENT for an
 * empty name or one of 256 characters or more. */
QUIB_API int16_t QUIB_CALL QUIB_SetPortDevice(uint16_t port, const char *device);

#ifdef __cplusplus
}
#endif

#endif /* QUIBLINK_QUIBLINK_EXT_H */
