// Exports of the classic panels: the open at their fixed line settings (9600
// baud, 7 data bits, even parity, one stop bit) and the memory transfers,
// which have the shape of every export: the entry trace, the channel check,
// the argument checks in the order callers know, one call into the subsystem.
#include "classic/memory.h"
#include "core/state.h"
#include "core/trace.h"
#include "engine/channels.h"
#include "engine/engine.h"
#include "quiblink/quiblink.h"

extern "C" {

QUIB_API int16_t QUIB_CALL QUIB_Open(uint16_t port, uint16_t model) {
  return quib::OpenChannel(port, 9600, 7, model, quib::kFamilyClassic);
}

QUIB_API int16_t QUIB_CALL QUIB_Read(uint16_t handle, uint16_t area, int32_t address,
                                     uint8_t *buffer, uint16_t count) {
  quib::Trace("READ command\n");
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyClassic);
  if (checked != RC_OK) return checked;
  if (count == 0 || buffer == nullptr) return RC_BAD_ARGUMENT;
  return quib::ReadPanelMemory(handle, area, address, buffer, count);
}

QUIB_API int16_t QUIB_CALL QUIB_Write(uint16_t handle, uint16_t area, int32_t address,
                                      uint16_t count, const uint8_t *data) {
  quib::Trace("WRITE command\n");
  const int16_t checked = quib::CheckChannel(handle, quib::kFamilyClassic);
  if (checked != RC_OK) return checked;
  if (count == 0 || data == nullptr) return RC_BAD_ARGUMENT;
  if (area != 0) return RC_BAD_ARGUMENT;
  return quib::WritePanelMemory(handle, area, address, count, data);
}

}  // extern "C"
