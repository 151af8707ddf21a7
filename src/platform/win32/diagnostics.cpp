// Debugger output, message boxes, text formatting and the environment on
// Win32.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdarg.h>
#include <string.h>

#include "platform/platform.h"

namespace plat {

bool EnvironmentValue(const char *name, char *buffer, size_t size) {
  if (size == 0 || size > 0x7FFFFFFF) return false;
  const DWORD n = GetEnvironmentVariableA(name, buffer, static_cast<DWORD>(size));
  return n > 0 && n < size;
}

void DebugOutput(const char *text) {
  OutputDebugStringA(text);
}

void ShowMessageBox(const char *text, const char *caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

// wvsprintfA knows no buffer size and writes at most 1024 bytes, so the text
// is formatted into a buffer of that size and copied, cut to fit. Its result
// is not used for the length: where the text reaches the limit, systems differ
// in whether the count includes a terminator that was not written.
int FormatText(char *buffer, size_t size, const char *format, ...) {
  if (size == 0) return 0;
  char text[1025];
  text[0] = '\0';
  text[1024] = '\0';
  va_list args;
  va_start(args, format);
  wvsprintfA(text, format, args);
  va_end(args);
  size_t length = strnlen(text, 1024);
  if (length >= size) length = size - 1;
  memcpy(buffer, text, length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

}  // namespace plat
