/**
 * @file quiblink.h
 * @brief QUIBLINK: serial link to operator display terminals.
 *
 * Classic panels (QUIB_ exports) and graphic terminals (XQUIB_ exports) on
 * COM1..COM10. Every call returns a signed 16-bit result code: 0 (or a channel
 * handle for the open calls) on success, one of the negative RC_ codes on
 * failure (quiblink_codes.h; QUIB_ResultText in quiblink_errors.h gives their
 * texts). Calls block the calling thread until their exchanges are over. A
 * failed call leaves the channel open and usable.
 *
 * On 32-bit Windows the exports use the stdcall convention and are exported
 * under their decorated names (_QUIB_Open\@8, ...). Elsewhere the calling
 * convention is the platform's default. On Linux, port n (COM n+1) opens the
 * device named by the environment variable QUIBLINK_COM1..QUIBLINK_COM10, read
 * at each open, else /dev/ttyS0../dev/ttyS9.
 *
 * Terminal status: the graphic calls with a @p status out-parameter store in
 * it the status byte (0..255) of each reply they check. 0 means accepted; any
 * other value is the terminal's reason for refusing, and the call returns
 * RC_TERMINAL_ERROR. The library passes the byte on without interpreting it;
 * quiblink-sim, for instance, uses 1 (unknown command, subcommand or area), 2
 * (malformed request data), 3 (out of sequence), 4 (area is read-only), 5
 * (password refused) and 6 (group 0 cannot be written). A call that fails
 * before a reply's status byte is checked leaves @p status as it was.
 */
#ifndef QUIBLINK_QUIBLINK_H
#define QUIBLINK_QUIBLINK_H

#include <stdint.h>

/** Calling convention of every export: stdcall on 32-bit Windows, the default elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define QUIB_CALL __stdcall
#else
#define QUIB_CALL
#endif

/* Windows exports come from the module definition file; elsewhere the library
 * is built with hidden visibility and only these functions are visible. */
/** Marks an exported function. */
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

/** @name Library
 * @{ */

/**
 * @brief The library's version number: 211 for 2.1.1.
 * @return the digits of the major, minor and patch version as one number; the headers'
 *         version is in quiblink_version.h.
 */
QUIB_API int16_t QUIB_CALL QUIB_Version(void);

/** @} */

/** @name Channels
 * A channel is a handle 0..31 on a port 0..9 (COM1..COM10). Several channels, also of
 * several threads, may share a port; the port opens with its first channel, at that open's
 * line settings, and closes with its last. Opens and closes may come from any threads at
 * once. A port's last close returns once its device is released; an open of that port
 * meanwhile waits for it, opens of other ports do not.
 * A channel belongs to the family of the open that made it: QUIB_Open's channels serve only
 * QUIB_Read and QUIB_Write, XQUIB_Open's only the XQUIB_ calls; the other family's calls
 * return RC_BAD_ARGUMENT at once, sending nothing. A port is held by this process alone
 * (another gets RC_PORT_OPEN_FAILED) and is released when its last channel closes or the
 * process ends, killed or not. The child of a fork() holds no port: its copies of the
 * parent's channels are not open there (calls RC_NOT_OPEN, close RC_CLOSE_NOT_OPEN).
 * @{ */

/**
 * @brief Opens a channel to a classic panel: 9600 baud, 7 data bits, even parity, one stop bit.
 *
 * @param port port index 0..9 for COM1..COM10.
 * @param model the panel's model code (0..3 are known: 3 addresses memory differently and
 *        moves data pair-swapped). Stored when this open opens the port; a port already open
 *        keeps the model code and line settings of its first open.
 * @return the channel handle, 0..31, or:
 * @retval RC_PORT_OPEN_FAILED the serial device cannot be opened (missing, held by another
 *         program or process, access denied, not a serial device); QUIB_LastOpenError says why.
 * @retval RC_NO_FREE_CHANNEL no free channel: all 32 are open (RC_SEQUENCE's value).
 * @retval RC_NO_PORT_SEMAPHORE the port's semaphores cannot be created (RC_SEQUENCE's value).
 * @retval RC_BAD_PORT @p port is above 9.
 *
 * @par Example
 * @code
 * int16_t ch = QUIB_Open(1, 0);          // COM2, model 0
 * uint8_t memory[16];
 * if (ch >= 0) {
 *   int16_t rc = QUIB_Read((uint16_t)ch, 0, 0x100, memory, sizeof memory);
 *   if (rc != RC_OK) fprintf(stderr, "%s\n", QUIB_ResultText(rc));
 *   QUIB_Close((uint16_t)ch);
 * }
 * @endcode
 */
QUIB_API int16_t QUIB_CALL QUIB_Open(uint16_t port, uint16_t model);

/**
 * @brief Opens a channel to a graphic terminal: 8 data bits, even parity, one stop bit.
 *
 * @param port port index 0..9 for COM1..COM10.
 * @param baud line speed in bits per second, 1..65535 (e.g. 9600, 19200, 38400); used only
 *        when this open opens the port. A port already open keeps the settings of its first
 *        open, and then any value, 0 too, is accepted.
 * @param model model code, stored with the port.
 * @return the channel handle, 0..31, or:
 * @retval RC_PORT_OPEN_FAILED the serial device cannot be opened; QUIB_LastOpenError says why.
 * @retval RC_BAD_ARGUMENT @p baud is 0 and this open would open the port.
 * @retval RC_NO_FREE_CHANNEL no free channel: all 32 are open (RC_SEQUENCE's value).
 * @retval RC_NO_PORT_SEMAPHORE the port's semaphores cannot be created (RC_SEQUENCE's value).
 * @retval RC_BAD_PORT @p port is above 9.
 *
 * @par Example
 * @code
 * int16_t ch = XQUIB_Open(0, 38400, 0);  // COM1
 * uint32_t size, groups;
 * uint8_t name[240];
 * uint16_t length, status;
 * if (ch >= 0) {
 *   int16_t rc = XQUIB_GetProjInfo((uint16_t)ch, &size, &groups, name, &length, &status);
 *   if (rc == RC_OK) printf("%.*s: %u groups\n", length, (const char *)name, (unsigned)groups);
 *   QUIB_Close((uint16_t)ch);
 * }
 * @endcode
 */
QUIB_API int16_t QUIB_CALL XQUIB_Open(uint16_t port, uint16_t baud, uint16_t model);

/**
 * @brief Closes a channel of either family; the port closes with its last channel.
 *
 * A close waits until every request queued before it on the port has been served.
 * @param handle channel handle, 0..31.
 * @retval RC_OK closed.
 * @retval RC_CLOSE_NOT_OPEN the channel is not open (closed twice, never opened, or a
 *         handle above 31); RC_PORT_OPEN_FAILED's value.
 * @retval RC_CLOSE_BUSY a call on this channel is still in progress in another thread; the
 *         channel stays open; RC_BAD_ARGUMENT's value.
 */
QUIB_API int16_t QUIB_CALL QUIB_Close(uint16_t handle);

/** @} */

/** @name Classic panels: memory read and write
 * The library splits a transfer into frames of at most 64 bytes (reads) or 32 bytes
 * (writes). A run of several frames holds its port like the block transfers: other
 * channels' calls on the port wait and run after it. A failed frame ends the call: the
 * frames before it are done.
 *
 * RC_BAD_ARGUMENT, with nothing sent, when the wire address of some byte of the transfer does
 * not fit the request's address digits: the address plus the read area's offset (writes: none)
 * below 0 or above 0xFFFFFF; with model 3 the address plus 0x8080 (and 8 more from logical
 * 3960) below 0 or above 0xFFFF, i.e. logical addresses -0x8080 to 0x7F77. RC_BAD_ARGUMENT
 * too on a channel that XQUIB_Open opened.
 * @{ */

/**
 * @brief Reads bytes of a classic panel's memory.
 *
 * @param handle channel handle from QUIB_Open, 0..31.
 * @param area memory area 0..3 for model codes other than 3; ignored with model code 3.
 * @param address logical start address in the panel's memory. With model code 3, addresses
 *        from 3960 on lie 8 higher on the wire; a read across 3960 is split there.
 * @param[out] buffer receives @p count bytes. On failure, the bytes of the frames before the
 *        failing one are in it and the rest is untouched. Must not be NULL.
 * @param count bytes to read, 1..65535.
 * @retval RC_OK every byte read.
 * @retval RC_BAD_ARGUMENT handle above 31, @p count 0, @p buffer NULL, or a request that
 *         cannot be built for this address and model.
 * @retval RC_NOT_OPEN the channel is not open.
 * @retval RC_CHANNEL_BUSY another call on this channel is in progress.
 * @retval RC_TX_FAILED the request could not be sent.
 * @retval RC_NO_RESPONSE the panel did not answer within 10 s (after the port worker's repeats).
 * @retval RC_INCOMPLETE the panel stopped in the middle of a reply.
 * @retval RC_CHECKSUM a reply was damaged on the line.
 * @retval RC_NAK the panel refused the request (address or count it does not accept).
 * @retval RC_BAD_START, RC_NO_ETX a malformed reply.
 */
QUIB_API int16_t QUIB_CALL QUIB_Read(uint16_t handle, uint16_t area, int32_t address,
                                     uint8_t *buffer, uint16_t count);

/**
 * @brief Writes bytes into a classic panel's memory (area 0).
 *
 * With model code 3, a write at address 0 first sends the panel's 36-byte preamble block.
 * @param handle channel handle from QUIB_Open, 0..31.
 * @param area must be 0: writes reach area 0 only.
 * @param address logical start address, as for QUIB_Read.
 * @param count bytes to write, 1..65535.
 * @param data the bytes to write. Must not be NULL.
 * @retval RC_OK every byte written.
 * @retval RC_BAD_ARGUMENT handle above 31, @p count 0, @p area not 0, @p data NULL, or a
 *         request that cannot be built.
 * @retval RC_NOT_OPEN, RC_CHANNEL_BUSY, RC_TX_FAILED, RC_NO_RESPONSE, RC_INCOMPLETE,
 *         RC_CHECKSUM, RC_NAK, RC_BAD_START as for QUIB_Read; the frames before the failing one
 *         have reached the panel. A refused preamble block writes nothing.
 */
QUIB_API int16_t QUIB_CALL QUIB_Write(uint16_t handle, uint16_t area, int32_t address,
                                      uint16_t count, const uint8_t *data);

/** @} */

/** @name Graphic terminals: block transfers
 * Blocks of at most 1024 data bytes, each a separate exchange. A transfer holds its port from
 * its first frame to its last: other channels' calls on the port wait and run after it, in
 * arrival order; a call on the same channel meanwhile gets RC_CHANNEL_BUSY, and its close
 * RC_BAD_ARGUMENT. The read buffers must hold
 * everything the terminal sends; quiblink_ext.h has sized forms (XQUIB_ReadAllEx, ...) that
 * stop with RC_BUFFER_TOO_SMALL instead. A transfer that fails part-way leaves the blocks
 * already moved: read data stays in the buffer (the total is not stored), written chunks stay
 * on the terminal.
 *
 * Results common to the transfers: RC_BAD_ARGUMENT (handle above 31, a NULL pointer, or an
 * argument outside its range), RC_NOT_OPEN, RC_CHANNEL_BUSY, the line's RC_TX_FAILED,
 * RC_NO_RESPONSE, RC_INCOMPLETE, RC_CHECKSUM and RC_BAD_START, and RC_BAD_ECHO (a reply to
 * another command), RC_SEQUENCE (a block out of sequence), RC_BAD_LENGTH (a malformed
 * reply), RC_TERMINAL_ERROR (refused: see @p status), and RC_CANCELLED when another thread
 * stopped the transfer with QUIB_CancelTransfer (quiblink_ext.h), which QUIB_Read and
 * QUIB_Write also heed.
 * Every XQUIB_ call returns RC_BAD_ARGUMENT at once on a channel that QUIB_Open opened.
 * @{ */

/**
 * @brief Reads every group of the grouped area (the project), in the order the terminal sends.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] data receives the data of every block. Must hold everything the terminal sends.
 * @param[out] total on RC_OK, the number of bytes stored in @p data; not written otherwise.
 * @param[out] status each reply's status byte (see the terminal status above).
 * @retval RC_OK the terminal ended the walk (a reply of group 0).
 * @retval RC_TERMINAL_ERROR the terminal refused; its status byte is in @p status.
 * @retval others as listed for the block transfers.
 */
QUIB_API int16_t QUIB_CALL XQUIB_ReadAll(uint16_t handle, uint8_t *data, int32_t *total,
                                         uint16_t *status);

/**
 * @brief Reads one group of the grouped area.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param group group number, 0..65535. A group that does not exist reads as 0 bytes.
 * @param[out] data receives the group's data. Must hold everything the terminal sends.
 * @param[out] total on RC_OK, the number of bytes stored; not written otherwise.
 * @param[out] status each reply's status byte (see the terminal status above).
 * @retval RC_OK the last block arrived.
 * @retval RC_BAD_GROUP a reply named another group; @p status is not written for it.
 * @retval RC_TERMINAL_ERROR the terminal refused; its status byte is in @p status.
 * @retval others as listed for the block transfers.
 */
QUIB_API int16_t QUIB_CALL XQUIB_Read1G(uint16_t handle, uint16_t group, uint8_t *data,
                                        int32_t *total, uint16_t *status);

/**
 * @brief Reads a plain area.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param area 3, 4, 5, 6 (read and write), 240, 241 or 242 (read only); any other gives
 *        RC_BAD_ARGUMENT.
 * @param[out] data receives the area's data. Must hold everything the terminal sends.
 * @param[out] total on RC_OK, the number of bytes stored; not written otherwise.
 * @param[out] status each reply's status byte (see the terminal status above).
 * @retval RC_OK the last block arrived.
 * @retval RC_BAD_ARGUMENT @p area not allowed (after the "READ command" trace).
 * @retval RC_TERMINAL_ERROR the terminal refused; its status byte is in @p status.
 * @retval others as listed for the block transfers.
 */
QUIB_API int16_t QUIB_CALL XQUIB_Read(uint16_t handle, uint8_t area, uint8_t *data, int32_t *total,
                                      uint16_t *status);

/**
 * @brief Writes data to an area of a graphic terminal.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param area 1 (the grouped area) or a plain area 3..6; any other gives RC_BAD_ARGUMENT.
 * @param group group number, 0..65535, used with area 1 only.
 * @param length bytes to write, 1..4294967295; 0 gives RC_BAD_ARGUMENT.
 * @param data the bytes to write. Must not be NULL.
 * @param[out] status each reply's status byte (see the terminal status above).
 * @retval RC_OK every chunk accepted.
 * @retval RC_SEQUENCE a reply's continuation flag or sequence number was not 0.
 * @retval RC_TERMINAL_ERROR the terminal refused a chunk; its status byte is in @p status; the
 *         chunks before it stay written.
 * @retval others as listed for the block transfers.
 */
QUIB_API int16_t QUIB_CALL XQUIB_Write(uint16_t handle, uint8_t area, uint16_t group,
                                       uint32_t length, const uint8_t *data, uint16_t *status);

/**
 * @brief Sends operating-system data to a graphic terminal.
 *
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param subcommand 0x61 ('a') or 0x62 ('b'); any other gives RC_BAD_ARGUMENT.
 * @param option 0x00 or 0x80; any other gives RC_BAD_ARGUMENT.
 * @param length bytes to send, 1..4294967295; 0 gives RC_BAD_ARGUMENT.
 * @param data the operating-system data. Must not be NULL.
 * @param[out] status each reply's status byte (see the terminal status above).
 * @retval RC_OK every chunk accepted.
 * @retval RC_TERMINAL_ERROR the terminal refused a chunk; its status byte is in @p status.
 * @retval others as listed for the block transfers.
 */
QUIB_API int16_t QUIB_CALL XQUIB_OSInstl(uint16_t handle, uint8_t subcommand, uint8_t option,
                                         uint32_t length, const uint8_t *data, uint16_t *status);

/** @} */

/** @name Graphic terminals: control and query commands
 * One request and at most one reply each. Results common to them: RC_BAD_ARGUMENT (handle
 * above 31, a NULL out-parameter), RC_NOT_OPEN, RC_CHANNEL_BUSY, the line's RC_TX_FAILED,
 * RC_NO_RESPONSE, RC_INCOMPLETE, RC_CHECKSUM and RC_BAD_START, RC_BAD_ECHO (a reply to
 * another command), RC_SEQUENCE (a reply's continuation flag or sequence number not 0),
 * RC_BAD_LENGTH (a reply too short), and RC_TERMINAL_ERROR (refused: the status byte is in
 * @p status). Out-parameters other than @p status are written only on RC_OK; @p status is
 * written whenever the reply's status byte was checked (RC_OK, RC_TERMINAL_ERROR, and the
 * checks after it).
 * @{ */

/**
 * @brief Starts the terminal's project: sends the start request and awaits no reply.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @retval RC_OK the request left the line.
 * @retval others the channel and line results common to the commands (no reply is read).
 */
QUIB_API int16_t QUIB_CALL XQUIB_Start(uint16_t handle);

/**
 * @brief Takes the terminal offline.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] status the reply's status byte. Must not be NULL.
 * @retval RC_OK accepted.
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_Offline(uint16_t handle, uint16_t *status);

/**
 * @brief Software reset of the terminal.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] status the reply's status byte. Must not be NULL.
 * @retval RC_OK accepted.
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_SWReset(uint16_t handle, uint16_t *status);

/**
 * @brief Reset of the terminal.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] status the reply's status byte. Must not be NULL.
 * @retval RC_OK accepted.
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_Reset(uint16_t handle, uint16_t *status);

/**
 * @brief Break: interrupts what the terminal is doing.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] status the reply's status byte. Must not be NULL.
 * @retval RC_OK accepted.
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_Break(uint16_t handle, uint16_t *status);

/**
 * @brief The terminal's memory figures.
 *
 * The simulator answers with the used KiB of the groups and areas 3..6, the free KiB, and the
 * number of groups.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] value1 first value, a signed 16-bit number widened (0x8000 and above arrive
 *        negative); written on RC_OK only.
 * @param[out] value2 second value, as @p value1.
 * @param[out] value3 third value, as @p value1.
 * @param[out] status the reply's status byte.
 * @retval RC_OK the three values are stored.
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_GetMemData(uint16_t handle, int32_t *value1, int32_t *value2,
                                            int32_t *value3, uint16_t *status);

/**
 * @brief The terminal's operating-system information: the sizes of its installed images.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] first the value of the entry flagged 0x00; written on RC_OK only.
 * @param[out] second the value of the entry flagged 0x80; written on RC_OK only.
 * @param[out] status the reply's status byte.
 * @retval RC_OK both values stored, whichever order the terminal sent the entries in.
 * @retval RC_BAD_OS_INFO the information is malformed (not two entries of kind 'a', or flags
 *         other than one 0x00 and one 0x80); @p status holds 0. RC_BAD_PORT's value.
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_GetOsInfo(uint16_t handle, uint32_t *first, uint32_t *second,
                                           uint16_t *status);

/**
 * @brief The terminal's project information: two values and the project's name.
 *
 * The simulator answers with the total bytes of the grouped area and the number of groups.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] value1 first project value; written on RC_OK only.
 * @param[out] value2 second project value; written on RC_OK only.
 * @param[out] name receives the name's bytes, without a terminator (a single 0 byte for an
 *        empty name); must hold 240 bytes. Written on RC_OK only.
 * @param[out] name_length the name's length, 0..240; written on RC_OK only.
 * @param[out] status the reply's status byte.
 * @retval RC_OK everything stored.
 * @retval RC_BAD_PROJECT_INFO the reply's length disagrees with its name length; @p status
 *         holds 0 and nothing else is written.
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_GetProjInfo(uint16_t handle, uint32_t *value1, uint32_t *value2,
                                             uint8_t *name, uint16_t *name_length,
                                             uint16_t *status);

/**
 * @brief Deletes the user data: the groups, areas 3..6 and the project name.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] status the reply's status byte. Must not be NULL.
 * @retval RC_OK accepted.
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_DelUserData(uint16_t handle, uint16_t *status);

/**
 * @brief Asks the terminal to check a password; the terminal decides, the library stores none.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param password the password's bytes, without a terminator. May be NULL when @p length is 0.
 * @param length the password's length, 0..255 (one length byte on the wire); above 255 the
 *        call returns RC_BAD_ARGUMENT and sends nothing.
 * @param[out] status the reply's status byte. Must not be NULL.
 * @retval RC_OK the terminal accepted the password.
 * @retval RC_TERMINAL_ERROR the terminal refused it; the status byte is in @p status.
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_CheckPassword(uint16_t handle, const uint8_t *password,
                                               uint16_t length, uint16_t *status);

/**
 * @brief The terminal type.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param[out] type the terminal type byte, 0..255; written on RC_OK only.
 * @param[out] status the reply's status byte.
 * @retval RC_OK @p type stored.
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_GetKEWType(uint16_t handle, uint32_t *type, uint16_t *status);

/**
 * @brief Asks the terminal to change its baud rate. The channel keeps its own line speed: open
 *        a channel at the new rate (after closing the port) to go on talking.
 * @param handle channel handle from XQUIB_Open, 0..31.
 * @param code the new rate's code; the low 8 bits must be 0x81, 0x82 or 0x83.
 * @param[out] status the reply's status byte. Must not be NULL.
 * @retval RC_OK accepted.
 * @retval RC_BAD_ARGUMENT @p code outside 0x81..0x83 (nothing sent, no trace).
 * @retval others as listed for the commands.
 */
QUIB_API int16_t QUIB_CALL XQUIB_BrateChange(uint16_t handle, uint16_t code, uint16_t *status);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* QUIBLINK_QUIBLINK_H */
