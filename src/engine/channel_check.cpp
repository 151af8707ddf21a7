// The channel check in front of every terminal operation.
#include "engine/engine.h"
#include "quiblink/quiblink.h"

namespace quib {

int16_t CheckChannel(uint16_t handle, ChannelFamily family) {
  if (handle >= kChannelCount) return RC_BAD_ARGUMENT;
  if (!ChannelIsOpen(handle)) return RC_NOT_OPEN;
  if (!ChannelIsOfFamily(handle, family)) return RC_BAD_ARGUMENT;
  return RC_OK;
}

}  // namespace quib
