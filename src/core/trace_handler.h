// The caller's trace handler, set through the extension export.
#pragma once

#include <atomic>

#include "quiblink/quiblink_ext.h"

namespace quib {

// The exports' calling convention: stdcall on 32-bit Windows.
typedef QUIB_TraceHandler TraceHandlerFn;
void SetTraceHandler(TraceHandlerFn handler, void *user);

}  // namespace quib
