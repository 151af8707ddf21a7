// The caller's trace handler, set through the extension export.
#pragma once

#include <atomic>

namespace quib {

typedef void (*TraceHandlerFn)(const char *text, void *user);
void SetTraceHandler(TraceHandlerFn handler, void *user);

}  // namespace quib
