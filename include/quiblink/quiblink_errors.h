/* QUIBLINK extensions for reporting failures: the text of a result code and
 * the operating system's reason for a failed open. They add to the export set
 * of quiblink.h and change none of its functions or result codes. */
#ifndef QUIBLINK_QUIBLINK_ERRORS_H
#define QUIBLINK_QUIBLINK_ERRORS_H

#include "quiblink.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The name and meaning of a result code, "RC_NO_RESPONSE: the terminal did
 * not answer: ...", from the table of quiblink_results.h. Never NULL: a code
 * outside the table gives "RC_UNKNOWN: unknown result code". The text is
 * static; it stays valid while the library is loaded. */
QUIB_API const char *QUIB_CALL QUIB_ResultText(int16_t code);

/* Why the calling thread's last failed open failed: writes a text naming the
 * device and the operating system's reason into text (at most size bytes,
 * always terminated when size is not 0), e.g. "/dev/ttyUSB0: Permission
 * denied (errno 13; add the user to group dialout)", and returns the
 * operating system's error number (errno, or GetLastError on Windows). An
 * open that failed for a reason of the library's own (RC_BAD_PORT,
 * RC_SEQUENCE) gives its result code's text and returns 0. A thread without
 * a failed open gets "no failed open on this thread" and 0. Opens that
 * succeed do not clear it; each thread keeps its own. */
QUIB_API int32_t QUIB_CALL QUIB_LastOpenError(char *text, uint16_t size);

#ifdef __cplusplus
}
#endif

#endif /* QUIBLINK_QUIBLINK_ERRORS_H */
