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

// The caller's handler with its user pointer. A change never rewrites the
// pair that calls under way may be reading: it fills another binding, one
// that no call is using, and makes that one current. A call counts itself in
// the binding it takes, so that a change can wait for the calls of the
// bindings it replaced. Bindings[0] starts current and empty.
constexpr int kBindings = 8;
struct Binding {
  std::atomic<TraceHandlerFn> Handler;
  std::atomic<void *> User;
  std::atomic<int> Calls;      // calls under way that took this binding
  std::atomic<uint32_t> Uses;  // counts the pairs it has been given
};
Binding Bindings[kBindings];
std::atomic<int> Current{0};
// One change at a time fills and publishes a binding; it is never held
// across a wait for calls.
std::atomic<bool> Changing{false};
// Callbacks of the caller that this thread is inside: trace handler calls
// and progress callbacks.
thread_local int CallbackDepth = 0;

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

CallerCallbackScope::CallerCallbackScope() {
  ++CallbackDepth;
}

CallerCallbackScope::~CallerCallbackScope() {
  --CallbackDepth;
}

namespace {

// Fills a binding that is neither current nor in use with the pair and makes
// it current. False when every other binding is still in use, or when
// another change is under way and wait is false.
bool Publish(TraceHandlerFn handler, void *user, bool wait) {
  while (Changing.exchange(true)) {
    if (!wait) return false;
    plat::SleepMs(1);
  }
  const int current = Current.load();
  bool published = false;
  for (int i = 0; i < kBindings && !published; ++i) {
    Binding &b = Bindings[i];
    if (i == current || b.Calls.load() != 0) continue;
    // A call that looks at this binding from now on finds it not current
    // and takes another, until the store of Current below.
    b.Handler.store(handler);
    b.User.store(user);
    b.Uses.fetch_add(1);
    Current.store(i);
    published = true;
  }
  Changing.store(false);
  return published;
}

}  // namespace

void SetTraceHandler(TraceHandlerFn handler, void *user) {
  while (!Publish(handler, user, true)) plat::SleepMs(1);
  // Inside a callback the wait could be for this very thread's call, or for
  // a thread that waits for this one (for the port it holds): none there.
  if (CallbackDepth > 0) return;
  const int current = Current.load();
  uint32_t uses[kBindings];
  for (int i = 0; i < kBindings; ++i) uses[i] = Bindings[i].Uses.load();
  for (int i = 0; i < kBindings; ++i) {
    if (i == current) continue;
    // A binding given a new pair meanwhile had no call left at that moment.
    while (Bindings[i].Calls.load() != 0 && Bindings[i].Uses.load() == uses[i]) {
      plat::SleepMs(1);
    }
  }
}

void DropTraceHandler() {
  // The unload waits for nobody for long: a thread of an ending process may
  // have been stopped in the middle of a change. Should no binding come free,
  // the current one loses its handler in place; a call that reads the pair
  // meanwhile finds no handler, or the old one with its own user pointer.
  for (int tries = 0; tries < 20; ++tries) {
    if (Publish(nullptr, nullptr, false)) return;
    plat::SleepMs(1);
  }
  Binding &b = Bindings[Current.load()];
  b.Handler.store(nullptr);
}

void Trace(const char *text) {
  if (EntryPointCalls.load() != 0) {
    plat::DebugOutput(text);
    return;
  }
  int taken;
  for (;;) {
    taken = Current.load();
    Bindings[taken].Calls.fetch_add(1);
    // Still current once counted: no change can refill it before the count
    // is given back.
    if (Current.load() == taken) break;
    Bindings[taken].Calls.fetch_sub(1);
  }
  Binding &b = Bindings[taken];
  const TraceHandlerFn handler = b.Handler.load();
  void *const user = b.User.load();
  if (handler != nullptr) {
    ++CallbackDepth;
    handler(text, user);
    --CallbackDepth;
  } else {
    plat::DebugOutput(text);
  }
  b.Calls.fetch_sub(1);
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
