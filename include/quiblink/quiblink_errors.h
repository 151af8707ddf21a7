/**
 * @file quiblink_errors.h
 * @brief Extensions for reporting failures: a result code's text, and why an open failed.
 *
 * Additions to the export set of quiblink.h; they change none of its functions or result
 * codes. Exported on 32-bit Windows as _QUIB_ResultText\@4 and _QUIB_LastOpenError\@8.
 */
#ifndef QUIBLINK_QUIBLINK_ERRORS_H
#define QUIBLINK_QUIBLINK_ERRORS_H

#include "quiblink.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @brief The name and meaning of a result code.
 *
 * From the table of quiblink_results.h, as "NAME: meaning", e.g. "RC_NO_RESPONSE: the
 * terminal did not answer: check the cable, the port, the baud rate and that the terminal is
 * on". Codes that mean something else when an open returns them name that meaning in
 * brackets ("(from an open: no free channel)").
 *
 * @param code any value; a result code of any export.
 * @return a static text, valid while the library is loaded; never NULL. A code outside the
 *         table gives "RC_UNKNOWN: unknown result code".
 * @since 2.1.1
 *
 * @par Example
 * @code
 * int16_t rc = XQUIB_Offline(handle, &status);
 * if (rc != RC_OK) fprintf(stderr, "offline: %s\n", QUIB_ResultText(rc));
 * @endcode
 */
QUIB_API const char *QUIB_CALL QUIB_ResultText(int16_t code);

/**
 * @brief Why the calling thread's last failed open failed.
 *
 * After QUIB_Open or XQUIB_Open returned a failure, gives the device and the operating
 * system's reason, e.g. "/dev/ttyUSB0: Permission denied (errno 13; add the user to group
 * dialout)" or "COM17: The system cannot find the file specified. (error 2)". An open that
 * failed for a reason of the library's own gives that reason ("port 10: the port number is
 * above COM10") and 0. Each thread keeps its own record; a later successful open does not
 * clear it.
 *
 * @param[out] text receives the text, cut to fit and always terminated when @p size is not
 *        0; may be NULL to ask for the number alone.
 * @param size size of @p text in bytes, 0..65535; 320 holds every text.
 * @return the system's error number of that failure (errno on POSIX, GetLastError on
 *         Windows); 0 when the reason was the library's own, or when this thread has had no
 *         failed open (the text is then "no failed open on this thread").
 * @since 2.1.1
 *
 * @par Example
 * @code
 * int16_t ch = QUIB_Open(0, 0);
 * if (ch < 0) {
 *   char reason[320];
 *   QUIB_LastOpenError(reason, sizeof reason);
 *   fprintf(stderr, "%s\n%s\n", QUIB_ResultText(ch), reason);
 * }
 * @endcode
 */
QUIB_API int32_t QUIB_CALL QUIB_LastOpenError(char *text, uint16_t size);

#ifdef __cplusplus
}
#endif

#endif /* QUIBLINK_QUIBLINK_ERRORS_H */
