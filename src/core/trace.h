// Diagnostic trace: short fixed texts to the debugger output (or the caller's
// trace handler), the frame dump, and the set-up message boxes.
#pragma once

#include <stdint.h>

namespace quib {

// Writes one trace text as it stands: to the caller's trace handler when one
// is set, else to the debugger output.
void Trace(const char *text);

// At unload, before anything else: the caller's handler is not called again,
// by this thread or by a worker that serves the unload's last requests. It
// does not wait for calls of the handler under way.
void DropTraceHandler();

// Formats into the process-wide 256-character trace buffer, then writes it.
void TraceFormat(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Dumps a request frame up to its first zero byte: "[", each byte as itself
// (0x20 and above) or "<%02X>", then "]\n". Each piece is one trace text.
void DumpFrame(const uint8_t *frame);

// A modal message box, or, where message boxes are off, one trace text:
// "caption: text\n" ("text\n" when the caption is empty).
void MessageBox(const char *text, const char *caption);

// Message boxes on or off for the process. Until this is called they are on
// unless the environment variable QUIBLINK_NO_MESSAGEBOX is set (not "0").
void SetMessageBoxes(bool enabled);
// Back to the environment's say, as before any SetMessageBoxes.
void FollowMessageBoxEnvironment();

// What the two scopes below share: each marks a stretch of one block, begun
// by its constructor and ended by its destructor, and is never copied.
class TraceScope {
 public:
  TraceScope(const TraceScope &) = delete;
  TraceScope &operator=(const TraceScope &) = delete;

 protected:
  TraceScope() = default;
  ~TraceScope() = default;
};

// While one lives, the thread is inside a callback of the caller (a progress
// callback; trace handler calls count by themselves): a change of the trace
// handler made there does not wait for the old handler's calls to end.
class CallerCallbackScope : TraceScope {
 public:
  CallerCallbackScope();
  ~CallerCallbackScope();
};

// While one lives, trace texts of every thread go to the default sink (the
// debugger output), never to the caller's handler: the entry point runs under
// the loader's lock, or while the process ends and the runtime behind the
// handler (a managed language's) is gone or may not be entered. The entry
// point's own texts are written with Trace and TraceFormat under it.
class EntryPointTraceScope : TraceScope {
 public:
  EntryPointTraceScope();
  ~EntryPointTraceScope();
};

}  // namespace quib
