// Debugger output, message boxes, text formatting and the environment.
//
// Debugger output goes to stderr, and only when QUIBLINK_TRACE is set in the
// environment (read once, at the first text); otherwise it is dropped. A
// message box cannot wait for a click here: it is one line on stderr,
// "caption: text", or just "text" when the caption is empty.
#include "platform/platform.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace plat {

namespace {

bool TraceEnabled() {
  static const bool enabled = getenv("QUIBLINK_TRACE") != nullptr;
  return enabled;
}

// One write per text, so that texts of several threads do not mix inside a
// line.
void WriteAll(const char *text, size_t length) {
  while (length > 0) {
    ssize_t n = write(STDERR_FILENO, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

bool EnvironmentValue(const char *name, char *buffer, size_t size) {
  const char *value = getenv(name);
  if (value == nullptr || size == 0) return false;
  const size_t length = strlen(value);
  if (length >= size) return false;
  memcpy(buffer, value, length + 1);
  return true;
}

void DebugOutput(const char *text) {
  if (text == nullptr || !TraceEnabled()) return;
  WriteAll(text, strlen(text));
}

void ShowMessageBox(const char *text, const char *caption) {
  char line[512];
  if (text == nullptr) text = "";
  int n = (caption == nullptr || caption[0] == '\0')
              ? snprintf(line, sizeof line, "%s\n", text)
              : snprintf(line, sizeof line, "%s: %s\n", caption, text);
  if (n < 0) return;
  if (static_cast<size_t>(n) >= sizeof line) {
    n = sizeof line - 1;
    line[n - 1] = '\n';
  }
  WriteAll(line, static_cast<size_t>(n));
}

int FormatText(char *buffer, size_t size, const char *format, ...) {
  if (buffer == nullptr || size == 0) return 0;
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, size, format, args);
  va_end(args);
  if (n < 0) {
    buffer[0] = '\0';
    return 0;
  }
  // Like wsprintfA: the count of characters stored, not the count wanted.
  return static_cast<size_t>(n) < size ? n : static_cast<int>(size - 1);
}

}  // namespace plat
