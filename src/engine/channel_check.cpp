// The channel check in front of every terminal operation.
#include "engine/engine.h"
#include "quiblink/quiblink.h"

namespace quib {

int16_t CheckOpenChannel(uint16_t handle) {
  if (handle >= kChannelCount) return RC_BAD_ARGUMENT;
  if (!ChannelIsOpen(handle)) return RC_NOT_OPEN;
  return RC_OK;
}

int16_t CheckChannel(uint16_t handle, ChannelFamily family) {
  const int16_t open = CheckOpenChannel(handle);
  if (open != RC_OK) return open;
  if (!ChannelIsOfFamily(handle, family)) return RC_BAD_ARGUMENT;
  return RC_OK;
}

}  // namespace quib
