/* QUIBLINK result codes: the one table of names, values and meanings.
 *
 * Each row is X(name, value, meaning). The build turns the rows into the
 * RC_ defines of quiblink.h (QUIB_RESULTS) and quiblink_ext.h
 * (QUIB_EXT_RESULTS); QUIB_ResultText, the C++ layer, the command-line tool
 * and the Python package take names and meanings from here.
 *
 * A few codes mean one thing from one call and another from another. Each
 * further meaning has a name of its own in QUIB_RESULT_ALIASES, as
 * X(alias, name, meaning): the alias is the named code, under the name that
 * says what it means where it is returned. Lookups by value (QUIB_ResultText)
 * give the code's own name. QUIB_OPEN_RESULTS gives, as X(name, meaning),
 * what the codes an open returns tell its user.
 *
 * Groups: -1 to -4 the call and the channel; -7, -13 and -18 the line; -17 to
 * -21 the framing; -30 to -36 the graphic terminal's protocol; -40 and below
 * the extensions. */
#ifndef QUIBLINK_QUIBLINK_RESULTS_H
#define QUIBLINK_QUIBLINK_RESULTS_H

/* clang-format off */
#define QUIB_RESULTS(X) \
  X(RC_OK, 0, "success") \
  X(RC_PORT_OPEN_FAILED, -1, "the channel is not open (from an open: the serial port cannot be opened)") \
  X(RC_BAD_ARGUMENT, -2, "an argument is out of range, or the channel is still busy with a transfer") \
  X(RC_NOT_OPEN, -3, "the channel handle is not open") \
  X(RC_CHANNEL_BUSY, -4, "the channel already has a transfer in progress") \
  X(RC_TX_FAILED, -7, "the request could not be sent: the line is held by flow control or the write failed") \
  X(RC_NO_RESPONSE, -13, "the terminal did not answer: check the cable, the port, the baud rate and that the terminal is on") \
  X(RC_CHECKSUM, -17, "the reply was damaged on the line (checksum mismatch)") \
  X(RC_INCOMPLETE, -18, "the terminal stopped answering in the middle of a reply") \
  X(RC_NAK, -19, "the panel refused the request (NAK)") \
  X(RC_BAD_START, -20, "the reply did not start the way the request allows") \
  X(RC_NO_ETX, -21, "the panel's reply has no ETX before its checksum") \
  X(RC_BAD_LENGTH, -30, "the reply's length field disagrees with its contents") \
  X(RC_BAD_ECHO, -31, "the reply answers another command than the one sent") \
  X(RC_SEQUENCE, -32, "a block of the transfer arrived out of sequence (from an open: no free channel)") \
  X(RC_BAD_PORT, -33, "the terminal's operating-system information is malformed (from an open: the port number is above COM10)") \
  X(RC_BAD_PROJECT_INFO, -34, "the terminal's project information is malformed (name length disagrees)") \
  X(RC_BAD_GROUP, -35, "the terminal sent another group than the one requested") \
  X(RC_TERMINAL_ERROR, -36, "the terminal refused the request (see its status byte)")

#define QUIB_EXT_RESULTS(X) \
  X(RC_BUFFER_TOO_SMALL, -40, "the terminal sent more data than the buffer holds") \
  X(RC_CANCELLED, -41, "the transfer was cancelled before its next exchange") \
  X(RC_GROUP_TABLE_FULL, -42, "the terminal sent more groups than the group table holds")

#define QUIB_RESULT_ALIASES(X) \
  X(RC_CLOSE_NOT_OPEN, RC_PORT_OPEN_FAILED, "from a close: the channel is not open") \
  X(RC_CLOSE_BUSY, RC_BAD_ARGUMENT, "from a close: a call on the channel is still in progress") \
  X(RC_NO_FREE_CHANNEL, RC_SEQUENCE, "from an open: all 32 channels are open") \
  X(RC_NO_PORT_SEMAPHORE, RC_SEQUENCE, "from an open: the port's semaphores cannot be created") \
  X(RC_BAD_OS_INFO, RC_BAD_PORT, "the terminal's operating-system information is malformed")

#define QUIB_OPEN_RESULTS(X) \
  X(RC_PORT_OPEN_FAILED, "the serial port cannot be opened: it does not exist, another program holds it, or access is denied") \
  X(RC_NO_FREE_CHANNEL, "no free channel: all 32 channels are open") \
  X(RC_BAD_PORT, "the port number is above COM10")
/* clang-format on */

#endif /* QUIBLINK_QUIBLINK_RESULTS_H */
