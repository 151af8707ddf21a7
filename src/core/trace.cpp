#include "core/trace.h"

#include <stdarg.h>
#include <stdio.h>

#include "core/trace_handler.h"
#include "platform/platform.h"

namespace quib {

namespace {

// One process-wide buffer for the formatted lines of the entry point, the
// port open and the transaction call; two threads formatting at once may mix
// their text, which affects only the trace.
char TraceBuffer[256];

std::atomic<TraceHandlerFn> Handler{nullptr};
std::atomic<void *> HandlerUser{nullptr};
// Entry point calls under way: while any runs, the handler is not called.
std::atomic<int> EntryPointCalls{0};
// 1 on, 0 off as the caller set them; -1 as the environment says.
std::atomic<int> MessageBoxes{-1};

}  // namespace

EntryPointTraceScope::EntryPointTraceScope() {
  EntryPointCalls.fetch_add(1);
}

EntryPointTraceScope::~EntryPointTraceScope() {
  EntryPointCalls.fetch_sub(1);
}

void SetTraceHandler(TraceHandlerFn handler, void *user) {
  HandlerUser.store(user);
  Handler.store(handler);
}

void DropTraceHandler() {
  Handler.store(nullptr);
  HandlerUser.store(nullptr);
}

void Trace(const char *text) {
  TraceHandlerFn handler = Handler.load();
  if (handler != nullptr && EntryPointCalls.load() == 0) {
    handler(text, HandlerUser.load());
  } else {
    plat::DebugOutput(text);
  }
}

void TraceFormat(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(TraceBuffer, sizeof TraceBuffer, format, args);
  va_end(args);
  Trace(TraceBuffer);
}

void DumpFrame(const uint8_t *frame) {
  char piece[8];
  Trace("[");
  for (const uint8_t *p = frame; *p != 0; ++p) {
    if (*p >= 0x20) {
      piece[0] = static_cast<char>(*p);
      piece[1] = 0;
    } else {
      plat::FormatText(piece, sizeof piece, "<%02X>", *p);
    }
    Trace(piece);
  }
  Trace("]\n");
}

void SetMessageBoxes(bool enabled) {
  MessageBoxes.store(enabled ? 1 : 0);
}

void FollowMessageBoxEnvironment() {
  MessageBoxes.store(-1);
}

// QUIBLINK_NO_MESSAGEBOX set to anything but "" or "0".
bool NoMessageBoxInEnvironment() {
  char value[64];
  if (!plat::EnvironmentValue("QUIBLINK_NO_MESSAGEBOX", value, sizeof value)) return false;
  return value[0] != '\0' && !(value[0] == '0' && value[1] == '\0');
}

void MessageBox(const char *text, const char *caption) {
  const int setting = MessageBoxes.load();
  const bool boxes = setting >= 0 ? setting == 1 : !NoMessageBoxInEnvironment();
  if (boxes) {
    plat::ShowMessageBox(text, caption);
  } else {
    TraceFormat("%s%s%s\n", caption, caption[0] != '\0' ? ": " : "", text);
  }
}

}  // namespace quib
