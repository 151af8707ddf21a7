// Exported channel open and close. The classic panels run at 9600 baud with
// 7 data bits; the graphic terminals at the caller's rate with 8. Both use
// even parity and one stop bit.
#include "core/channels.h"
#include "quiblink/quiblink.h"

extern "C" {

QUIB_API int16_t QUIB_CALL QUIB_Open(uint16_t port, uint16_t model) {
  return quib::OpenChannel(port, 9600, 7, model, quib::kFamilyClassic);
}

QUIB_API int16_t QUIB_CALL XQUIB_Open(uint16_t port, uint16_t baud, uint16_t model) {
  return quib::OpenChannel(port, baud, 8, model, quib::kFamilyGraphic);
}

QUIB_API int16_t QUIB_CALL QUIB_Close(uint16_t handle) {
  return quib::CloseChannel(handle);
}

}  // extern "C"
