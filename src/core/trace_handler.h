// The caller's trace handler, set through the extension export.
#pragma once

#include <atomic>

#include "quiblink/quiblink_ext.h"

namespace quib {

// The exports' calling convention: stdcall on 32-bit Windows.
typedef QUIB_TraceHandler TraceHandlerFn;
// Sets the handler; returns once no call of an earlier one is under way on
// another thread, except when called inside a callback (see quiblink_ext.h).
void SetTraceHandler(TraceHandlerFn handler, void *user);

}  // namespace quib
