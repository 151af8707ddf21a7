/**
 * @file quiblink_ext.h
 * @brief Extensions: a trace handler, and block transfers with a buffer size, progress and a
 *        cancel.
 *
 * Additions to the export set of quiblink.h. They never change a function of quiblink.h, its
 * arguments or its result codes. On 32-bit Windows they are exported under their decorated
 * stdcall names like the rest (_XQUIB_ReadAllEx\@28, ...).
 */
#ifndef QUIBLINK_QUIBLINK_EXT_H
#define QUIBLINK_QUIBLINK_EXT_H

#include "quiblink.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Extension result codes: a sized block read stopped before writing past the
 * caller's buffer (RC_BUFFER_TOO_SMALL) or past its group table
 * (RC_GROUP_TABLE_FULL), and a block transfer stopped by QUIB_CancelTransfer
 * (RC_CANCELLED). The blocks before the one that did not fit are in the
 * buffer, nothing of that block is; the total is not stored. */
#include "quiblink/quiblink_ext_codes.h" /* RC_BUFFER_TOO_SMALL, RC_CANCELLED, RC_GROUP_TABLE_FULL */

/**
 * @brief A function that receives the library's trace text. Callbacks use the exports'
 *        calling convention (QUIB_CALL: stdcall on 32-bit Windows), the default of .NET
 *        delegates and of VB's AddressOf.
 * @param text one trace text exactly as the library writes it, e.g. "READ command\n", or
 *        one piece of a frame dump ("[", "A", "<1F>", "]\n"); valid only during the call.
 * @param user the pointer given to QUIB_SetTraceHandler.
 */
typedef void(QUIB_CALL *QUIB_TraceHandler)(const char *text, void *user);

/**
 * @brief Routes the library's trace text to a function of the caller.
 *
 * Called once per trace text, on the thread that writes it (the caller's, or a port's worker
 * thread). Without a handler the text goes to the debugger output (Windows) or, when the
 * environment variable QUIBLINK_TRACE is set, to standard error.
 *
 * Never called from the library's load or unload, nor from its Windows entry point (thread
 * attach and detach): those lines always go to the debugger output, so a handler written in a
 * managed language is never called while its runtime ends. The unload removes the handler
 * without waiting for its calls.
 *
 * Replacing or removing a handler: the call returns once no call of the handler it replaces
 * (nor of any earlier one) is still running on another thread, so that the caller may free
 * what the old @p user points to, or let go of a managed delegate, right after it. Calls that
 * start after the change get the new handler and its @p user, never one with the other's
 * pointer. It waits only for calls under way: do not call it while holding something the old
 * handler waits for (a lock of your own, or from Python a module-level lock of the handler).
 * Called from inside a trace handler or a progress callback it returns at once, without that
 * wait: there it could wait for its own call, or for a thread that waits for the port the
 * caller holds; the old handler may then still be running on other threads.
 *
 * @param handler the function to call, or NULL to remove the handler.
 * @param user handed to every call of @p handler unchanged; may be NULL.
 * @since 2.1.1
 */
QUIB_API void QUIB_CALL QUIB_SetTraceHandler(QUIB_TraceHandler handler, void *user);

/**
 * @brief Progress callback of the sized transfers.
 *
 * Called on the caller's thread after each block the terminal accepted or sent. It runs
 * while the transfer holds its port: a call it makes on that port gets RC_CHANNEL_BUSY. It may
 * call QUIB_CancelTransfer on its channel: the transfer then ends with RC_CANCELLED instead of
 * sending its next frame.
 * @param done bytes moved so far, counting this block.
 * @param total for writes, the length of the whole transfer; for reads 0, whose length is
 *        not known in advance, except the size a caller of XQUIB_ReadAllGroups expects.
 * @param user the pointer given to the transfer call.
 */
typedef void(QUIB_CALL *QUIB_Progress)(uint32_t done, uint32_t total, void *user);

/**
 * @brief XQUIB_ReadAll with the size of the caller's buffer and a progress callback.
 *
 * Reads every group of the grouped area, as XQUIB_ReadAll, but never writes more than
 * @p capacity bytes into @p data.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] data receives the data of every block, in the order the terminal sends them.
 *        Must not be NULL.
 * @param capacity size of @p data in bytes.
 * @param[out] total on RC_OK, the number of bytes stored in @p data; not written otherwise.
 *        Must not be NULL.
 * @param[out] status each reply's status byte (0..255), written when a reply is checked; keeps
 *        its value when the call fails before that. Must not be NULL.
 * @param progress called after each block with the bytes read so far and 0; may be NULL.
 * @param user handed to @p progress unchanged.
 * @retval RC_OK the terminal sent its last block; @p total holds the length.
 * @retval RC_BUFFER_TOO_SMALL a block did not fit: the blocks before it are in @p data, nothing
 *         of that block is, @p total is not written. The terminal has not been told; the next
 *         transfer starts afresh.
 * @retval RC_BAD_ARGUMENT handle above 31, or a NULL @p data, @p total or @p status.
 * @retval RC_NOT_OPEN the channel is not open.
 * @retval RC_CHANNEL_BUSY another call on this channel is in progress.
 * @retval RC_TX_FAILED, RC_NO_RESPONSE, RC_INCOMPLETE, RC_CHECKSUM, RC_BAD_START the exchange
 *         of a block failed on the line (after the port worker's repeats).
 * @retval RC_BAD_ECHO, RC_SEQUENCE, RC_BAD_LENGTH a reply out of step or malformed.
 * @retval RC_TERMINAL_ERROR the terminal refused; its status byte is in @p status.
 * @retval RC_CANCELLED QUIB_CancelTransfer stopped the read; the blocks before it are in
 *         @p data, @p total is not written.
 * @since 2.1.1
 */
QUIB_API int16_t QUIB_CALL XQUIB_ReadAllEx(uint16_t handle, uint8_t *data, uint32_t capacity,
                                           int32_t *total, uint16_t *status, QUIB_Progress progress,
                                           void *user);

/**
 * @brief One group of the grouped area in the data of XQUIB_ReadAllGroups. Three unsigned
 *        32-bit fields, 12 bytes without padding on every platform.
 */
typedef struct QUIB_GroupEntry {
  uint32_t group;  /**< the group number the replies carried, 1..65535 */
  uint32_t offset; /**< where the group's first byte lies in the data */
  uint32_t length; /**< the group's bytes, at least 1 */
} QUIB_GroupEntry;

/**
 * @brief XQUIB_ReadAllEx that also reports where each group lies in the data.
 *
 * The exchanges on the line are those of XQUIB_ReadAll, request for request, with the same
 * reply checks and the same end (a reply of group 0, or one without data). Each group the
 * replies bring gets one entry in @p groups, in the order they arrive: its number, its offset
 * in @p data and its length. A reply whose group number differs from the one before opens a
 * new entry, so a group that comes twice, apart, has two entries.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] data receives the data of every block, in the order the terminal sends them.
 *        Must not be NULL.
 * @param capacity size of @p data in bytes.
 * @param[out] total on RC_OK, the number of bytes stored in @p data; not written otherwise.
 *        Must not be NULL.
 * @param[out] groups the group table: one entry per group, @p group_capacity entries of room.
 *        Entries are written as groups arrive, also when the read fails later; nothing is
 *        written past @p group_capacity entries. Must not be NULL.
 * @param group_capacity the number of entries @p groups holds; 0 is allowed.
 * @param[out] group_count on RC_OK, the number of entries written; not written otherwise.
 *        Must not be NULL.
 * @param[out] status each reply's status byte (0..255), written when a reply is checked; keeps
 *        its value when the call fails before that. Must not be NULL.
 * @param expected handed to @p progress as its total, so that a caller who knows the size in
 *        advance (the first value of XQUIB_GetProjInfo, on terminals that report it) can show a
 *        share; 0 when not known. It limits nothing.
 * @param progress called after each block with the bytes read so far and @p expected; may be
 *        NULL.
 * @param user handed to @p progress unchanged.
 * @retval RC_OK the terminal sent its last block; @p total, @p group_count and the entries
 *         before it hold the layout.
 * @retval RC_GROUP_TABLE_FULL a block began a group for which the table had no entry left:
 *         the blocks before it are in @p data, nothing of that block is; @p total and
 *         @p group_count are not written.
 * @retval RC_BUFFER_TOO_SMALL a block did not fit in @p data, as for XQUIB_ReadAllEx.
 * @retval RC_BAD_ARGUMENT handle above 31, or a NULL @p data, @p total, @p groups,
 *         @p group_count or @p status.
 * @retval RC_NOT_OPEN, RC_CHANNEL_BUSY, RC_TX_FAILED, RC_NO_RESPONSE, RC_INCOMPLETE,
 *         RC_CHECKSUM, RC_BAD_START, RC_BAD_ECHO, RC_SEQUENCE, RC_BAD_LENGTH,
 *         RC_TERMINAL_ERROR, RC_CANCELLED as for XQUIB_ReadAllEx.
 * @since 2.1.1
 */
QUIB_API int16_t QUIB_CALL XQUIB_ReadAllGroups(uint16_t handle, uint8_t *data, uint32_t capacity,
                                               int32_t *total, QUIB_GroupEntry *groups,
                                               uint32_t group_capacity, uint32_t *group_count,
                                               uint16_t *status, uint32_t expected,
                                               QUIB_Progress progress, void *user);

/**
 * @brief XQUIB_Read1G with the size of the caller's buffer and a progress callback.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param group group number of the grouped area, 0..65535.
 * @param[out] data receives the group's data. Must not be NULL.
 * @param capacity size of @p data in bytes.
 * @param[out] total on RC_OK, the number of bytes stored; not written otherwise. Must not be
 *        NULL.
 * @param[out] status each reply's status byte, as for XQUIB_ReadAllEx. Must not be NULL.
 * @param progress called after each block with the bytes read so far and 0; may be NULL.
 * @param user handed to @p progress unchanged.
 * @return as XQUIB_ReadAllEx, and RC_BAD_GROUP when a reply names another group.
 * @since 2.1.1
 */
QUIB_API int16_t QUIB_CALL XQUIB_Read1GEx(uint16_t handle, uint16_t group, uint8_t *data,
                                          uint32_t capacity, int32_t *total, uint16_t *status,
                                          QUIB_Progress progress, void *user);

/**
 * @brief XQUIB_Read with the size of the caller's buffer and a progress callback.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param area plain area: 3, 4, 5, 6, 240, 241 or 242; any other gives RC_BAD_ARGUMENT.
 * @param[out] data receives the area's data. Must not be NULL.
 * @param capacity size of @p data in bytes.
 * @param[out] total on RC_OK, the number of bytes stored; not written otherwise. Must not be
 *        NULL.
 * @param[out] status each reply's status byte, as for XQUIB_ReadAllEx. Must not be NULL.
 * @param progress called after each block with the bytes read so far and 0; may be NULL.
 * @param user handed to @p progress unchanged.
 * @return as XQUIB_ReadAllEx.
 * @since 2.1.1
 */
QUIB_API int16_t QUIB_CALL XQUIB_ReadEx(uint16_t handle, uint8_t area, uint8_t *data,
                                        uint32_t capacity, int32_t *total, uint16_t *status,
                                        QUIB_Progress progress, void *user);

/**
 * @brief XQUIB_Write with a progress callback.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param area 1 (the grouped area) or a plain area 3..6; any other gives RC_BAD_ARGUMENT.
 * @param group group number, used with area 1 only.
 * @param length bytes to write, 1..4294967295; sent in chunks of at most 1024 bytes.
 * @param data the bytes to write. Must not be NULL.
 * @param[out] status each reply's status byte, as for XQUIB_Write. Must not be NULL.
 * @param progress called after each accepted chunk with the bytes written so far and
 *        @p length; may be NULL.
 * @param user handed to @p progress unchanged.
 * @return as XQUIB_Write, and RC_CANCELLED when QUIB_CancelTransfer stopped it.
 * @since 2.1.1
 */
QUIB_API int16_t QUIB_CALL XQUIB_WriteEx(uint16_t handle, uint8_t area, uint16_t group,
                                         uint32_t length, const uint8_t *data, uint16_t *status,
                                         QUIB_Progress progress, void *user);

/**
 * @brief XQUIB_OSInstl with a progress callback.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param subcommand 0x61 ('a') or 0x62 ('b'); any other gives RC_BAD_ARGUMENT.
 * @param option 0x00 or 0x80; any other gives RC_BAD_ARGUMENT.
 * @param length bytes to send, 1..4294967295; sent in chunks of at most 1024 bytes.
 * @param data the operating-system data. Must not be NULL.
 * @param[out] status each reply's status byte, as for XQUIB_OSInstl. Must not be NULL.
 * @param progress called after each accepted chunk with the bytes sent so far and @p length;
 *        may be NULL.
 * @param user handed to @p progress unchanged.
 * @return as XQUIB_OSInstl, and RC_CANCELLED when QUIB_CancelTransfer stopped it.
 * @since 2.1.1
 */
QUIB_API int16_t QUIB_CALL XQUIB_OSInstlEx(uint16_t handle, uint8_t subcommand, uint8_t option,
                                           uint32_t length, const uint8_t *data, uint16_t *status,
                                           QUIB_Progress progress, void *user);

/**
 * @brief Stops the channel's block transfer before its next exchange.
 *
 * Marks the block transfer under way on @p handle and returns at once: it takes no lock, waits
 * for nothing and calls nothing back, so any thread may call it, also the transfer's own
 * progress callback, a trace handler or a signal handler. A block transfer is a block read or
 * write of either family: XQUIB_ReadAll, XQUIB_Read1G, XQUIB_Read, XQUIB_Write, XQUIB_OSInstl,
 * their Ex forms, QUIB_Read and QUIB_Write. The marked transfer
 *  - sends no further frame and returns RC_CANCELLED, also while its first frame still waits
 *    for the port behind other channels;
 *  - lets the exchange already on the line end as it would: a reply that comes is taken (a
 *    block read appends it and calls its progress callback), and the transfer stops before the
 *    next frame; a transfer whose last exchange has succeeded returns RC_OK;
 *  - when that exchange is failing and the port's worker waits out its attempts (three of up to
 *    10 s of reply time-out each), makes no further attempt: the call returns RC_CANCELLED once
 *    the attempt on the line has ended and the 140 ms pause after it has passed.
 *
 * A cancel is not remembered. With no block transfer under way on the channel (it is idle, or in
 * a call of one exchange such as XQUIB_GetKEWType, which a cancel leaves alone) the call
 * changes nothing, and the channel's next transfer runs in full: a cancel that comes just
 * before a transfer must not stop one started later for another reason. A thread that cancels a
 * transfer another thread is about to start calls again until that thread's call has returned.
 *
 * Other channels, also those on the same port, are untouched, and the cancelled channel stays
 * open and usable. The terminal is not told: chunks it has accepted stay written, and its next
 * transfer starts afresh, as after any failed transfer. The total of a cancelled read is not
 * written; the blocks before the cancel are in the caller's buffer.
 *
 * @param handle channel handle of either family, 0..31.
 * @retval RC_OK the cancel is taken: the channel's block transfer under way, if any, stops as
 *         above.
 * @retval RC_BAD_ARGUMENT @p handle is above 31.
 * @retval RC_NOT_OPEN the channel is not open.
 * @since 2.1.1
 *
 * @par Example
 * @code
 * static void QUIB_CALL on_block(uint32_t done, uint32_t total, void *user) {
 *   struct job *job = user;
 *   if (job->stop_requested) QUIB_CancelTransfer(job->handle);
 * }
 * ...
 * int16_t rc = XQUIB_ReadAllEx(job.handle, buf, sizeof buf, &total, &status, on_block, &job);
 * if (rc == RC_CANCELLED) puts("stopped");
 * @endcode
 */
QUIB_API int16_t QUIB_CALL QUIB_CancelTransfer(uint16_t handle);

/** @name Engine style
 * How a port's worker waits for reply bytes and a caller for its turn on the port.
 * QUIB_ENGINE_WAKE (the default) returns as soon as reply bytes arrive or the caller ahead
 * leaves the port; QUIB_ENGINE_POLL pauses a full 10 ms between looks at the line and at the
 * queue, for comparing traces and timings with an implementation that polls (a reply split
 * across a poll shows its own "Before Decoding" lines). Both keep every timing rule.
 * QUIBLINK_ENGINE=poll or =wake in the environment sets it as the library loads.
 * @{ */
/** Wake on reply bytes and on the port's turn (the default). */
#define QUIB_ENGINE_WAKE 0
/** Poll the line and the queue every 10 ms. */
#define QUIB_ENGINE_POLL 1

/**
 * @brief Chooses the engine style; a change applies from the next pause on, also to exchanges
 *        under way.
 * @param style QUIB_ENGINE_WAKE or QUIB_ENGINE_POLL.
 * @retval RC_OK the style is set.
 * @retval RC_BAD_ARGUMENT another value; the style is unchanged.
 */
QUIB_API int16_t QUIB_CALL QUIB_SetEngineStyle(int32_t style);

/**
 * @brief The engine style in force.
 * @return QUIB_ENGINE_WAKE or QUIB_ENGINE_POLL.
 */
QUIB_API int32_t QUIB_CALL QUIB_GetEngineStyle(void);
/** @} */

/**
 * @brief Turns the library's message boxes on or off for this process.
 *
 * The library shows a modal box on a few set-up failures (a port that does not open, a thread
 * or semaphore that cannot be made). Turned off, their texts go to the trace instead, one text
 * "caption: text\n" (or "text\n"), for services and unattended machines. Until this is called
 * boxes are shown unless the environment variable QUIBLINK_NO_MESSAGEBOX is set to anything
 * but "0".
 * @param enabled 0 sends the texts to the trace; any other value shows boxes.
 */
QUIB_API void QUIB_CALL QUIB_SetMessageBoxes(int enabled);

/**
 * @brief Maps a port index to any device name, for this process.
 *
 * COM17, `\\.\COM17` (any COM port, also above COM10), /dev/ttyUSB0, /dev/serial/by-id/...,
 * or a serial device server on the network on either system (`rfc2217://host:port`,
 * `tcp://host:port`). A name set here overrides the default (COM1 ... `\\.\COM10`; on Linux
 * QUIBLINK_COM1 ... or /dev/ttyS0 ...). Takes effect at the port's next open.
 * @param port port index 0..9.
 * @param device the device name, 1..255 characters; NULL restores the default.
 * @retval RC_OK the name is kept for the port's next open.
 * @retval RC_BAD_PORT @p port is above 9.
 * @retval RC_BAD_ARGUMENT an empty name, or one of 256 characters or more.
 */
QUIB_API int16_t QUIB_CALL QUIB_SetPortDevice(uint16_t port, const char *device);

#ifdef __cplusplus
}
#endif

#endif /* QUIBLINK_QUIBLINK_EXT_H */
