// The Win32 serial code's side of the open-failure record.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace plat {

// Records that device could not be opened, with the system's error and its
// text from FormatMessage.
void NoteSystemOpenFailure(const char *device, DWORD error);

// Records that device could not be opened for reason, with the system's
// error number (0 when the reason is not the system's).
void NoteOpenFailureWithError(const char *device, const char *reason, int error);

// The system's words for an error (FormatMessage), without a line end; for
// an error it has no words for, "system error".
void SystemMessage(DWORD error, char *text, size_t size);

}  // namespace plat
