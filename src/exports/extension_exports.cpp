// Extension exports of the process's settings: message boxes and the device
// each port index opens.
#include "core/port_devices.h"
#include "core/trace.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

extern "C" {

QUIB_API void QUIB_CALL QUIB_SetMessageBoxes(int enabled) {
  quib::SetMessageBoxes(enabled != 0);
}

QUIB_API int16_t QUIB_CALL QUIB_SetPortDevice(uint16_t port, const char *device) {
  return quib::SetPortDevice(port, device);
}

}  // extern "C"
