// Exports that belong to the library as a whole.
#include "core/state.h"
#include "core/trace_handler.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

extern "C" {

QUIB_API int16_t QUIB_CALL QUIB_Version(void) {
  return quib::kVersion;
}

QUIB_API void QUIB_CALL QUIB_SetTraceHandler(QUIB_TraceHandler handler, void *user) {
  quib::SetTraceHandler(handler, user);
}

}  // extern "C"
