// The POSIX serial code's side of the open-failure record.
#pragma once

namespace plat {

// Records that path could not be opened with the system error error.
// port_variable names the environment variable that maps the port to path
// ("QUIBLINK_COM1"), or is nullptr when the caller named the path itself.
void NoteOsOpenFailure(const char *path, const char *port_variable, int error);

// Records that device could not be opened for reason, with the system's
// error number (0 when the reason is not the system's).
void NoteOpenFailureWithError(const char *device, const char *reason, int error);

}  // namespace plat
