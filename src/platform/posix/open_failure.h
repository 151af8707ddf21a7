// The POSIX serial code's side of the open-failure record.
#pragma once

namespace plat {

// Records that path could not be opened with the system error error.
// port_variable names the environment variable that maps the port to path
// ("QUIBLINK_COM1"), or is nullptr when the caller named the path itself.
void NoteOsOpenFailure(const char *path, const char *port_variable, int error);

}  // namespace plat
