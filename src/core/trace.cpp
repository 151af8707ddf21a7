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

void MessageBox(const char *text, const char *caption) {
  plat::ShowMessageBox(text, caption);
}

}  // namespace quib
