// Exports that belong to the library as a whole: its version, the trace
// handler, the engine's way of waiting, and the close and the cancel of a
// channel of either family. None has an entry trace; each checks its
// arguments and makes one call.
#include "core/state.h"
#include "core/trace_handler.h"
#include "engine/cancel.h"
#include "engine/channels.h"
#include "engine/engine.h"
#include "engine/waiting.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

extern "C" {

QUIB_API int16_t QUIB_CALL QUIB_Version(void) {
  return quib::kVersion;
}

QUIB_API void QUIB_CALL QUIB_SetTraceHandler(QUIB_TraceHandler handler, void *user) {
  quib::SetTraceHandler(handler, user);
}

QUIB_API int16_t QUIB_CALL QUIB_SetEngineStyle(int32_t style) {
  if (style != QUIB_ENGINE_WAKE && style != QUIB_ENGINE_POLL) return RC_BAD_ARGUMENT;
  quib::EngineWaitStyle.store(style == QUIB_ENGINE_POLL ? quib::kWaitSleeping : quib::kWaitWaking);
  return RC_OK;
}

QUIB_API int32_t QUIB_CALL QUIB_GetEngineStyle(void) {
  return quib::EngineWakes() ? QUIB_ENGINE_WAKE : QUIB_ENGINE_POLL;
}

QUIB_API int16_t QUIB_CALL QUIB_Close(uint16_t handle) {
  return quib::CloseChannel(handle);
}

QUIB_API int16_t QUIB_CALL QUIB_CancelTransfer(uint16_t handle) {
  const int16_t checked = quib::CheckOpenChannel(handle);
  if (checked != RC_OK) return checked;
  quib::RequestCancel(handle);  // false when no transfer runs, which is no failure
  return RC_OK;
}

}  // extern "C"
