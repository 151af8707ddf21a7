// The calling thread's last open failure, kept in thread-local storage: a
// thread sees only its own.
#include "platform/posix/open_failure.h"

#include <errno.h>
#include <grp.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/platform.h"

namespace plat {

namespace {

struct OpenFailure {
  bool noted;
  int32_t error;
  char text[320];
};

thread_local OpenFailure t_failure;

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer).
[[maybe_unused]] const char *ErrorText(int result, const char *buffer) {
  return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char *ErrorText(const char *result, const char *) {
  return result;
}

// What a user can do about the common reasons, or nullptr.
const char *Hint(int error, const char *path, const char *port_variable, char *buffer,
                 size_t size) {
  switch (error) {
    case EACCES:
    case EPERM: {
      struct stat st;
      group entry;
      group *found = nullptr;
      char names[1024];
      if (stat(path, &st) == 0 && getgrgid_r(st.st_gid, &entry, names, sizeof names, &found) == 0 &&
          found != nullptr && st.st_gid != 0) {
        snprintf(buffer, size, "add the user to group %s", found->gr_name);
      } else {
        snprintf(buffer, size, "add the user to group dialout");
      }
      return buffer;
    }
    case ENOENT:
    case ENODEV:
    case ENXIO:
      if (port_variable == nullptr) return nullptr;
      snprintf(buffer, size, "set %s to the serial device", port_variable);
      return buffer;
    case EWOULDBLOCK:
    case EBUSY:
      return "another program holds the port";
    case ENOTTY:
      return "not a serial device";
    default:
      return nullptr;
  }
}

}  // namespace

void NoteOpenFailure(const char *device, const char *reason) {
  t_failure.noted = true;
  t_failure.error = 0;
  snprintf(t_failure.text, sizeof t_failure.text, "%s: %s", device, reason);
}

void NoteOsOpenFailure(const char *path, const char *port_variable, int error) {
  char buffer[128];
  const char *message = ErrorText(strerror_r(error, buffer, sizeof buffer), buffer);
  char hint_buffer[160];
  const char *hint = Hint(error, path, port_variable, hint_buffer, sizeof hint_buffer);
  t_failure.noted = true;
  t_failure.error = error;
  if (hint != nullptr) {
    snprintf(t_failure.text, sizeof t_failure.text, "%s: %s (errno %d; %s)", path, message, error,
             hint);
  } else {
    snprintf(t_failure.text, sizeof t_failure.text, "%s: %s (errno %d)", path, message, error);
  }
}

void NoteOpenFailureWithError(const char *device, const char *reason, int error) {
  t_failure.noted = true;
  t_failure.error = error;
  if (error != 0) {
    snprintf(t_failure.text, sizeof t_failure.text, "%s: %s (errno %d)", device, reason, error);
  } else {
    snprintf(t_failure.text, sizeof t_failure.text, "%s: %s", device, reason);
  }
}

int32_t LastOpenFailure(char *text, size_t size) {
  const char *source = t_failure.noted ? t_failure.text : "no failed open on this thread";
  if (text != nullptr && size != 0) snprintf(text, size, "%s", source);
  return t_failure.noted ? t_failure.error : 0;
}

}  // namespace plat
