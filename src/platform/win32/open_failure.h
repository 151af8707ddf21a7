// The Win32 serial code's side of the open-failure record.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace plat {

// Records that device could not be opened, with the system's error and its
// text from FormatMessage.
void NoteSystemOpenFailure(const char *device, DWORD error);

}  // namespace plat
