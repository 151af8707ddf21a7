// Query commands of the graphic terminals: memory data, operating-system
// information, project information and terminal type. Each runs one request
// on a checked channel, with every out-parameter given; values pass through as
// the terminal sends them.
#pragma once

#include <stdint.h>

namespace quib {

int16_t QueryMemData(uint16_t handle, int32_t *value1, int32_t *value2, int32_t *value3,
                     uint16_t *status);
int16_t QueryOsInfo(uint16_t handle, uint32_t *first, uint32_t *second, uint16_t *status);
int16_t QueryProjectInfo(uint16_t handle, uint32_t *value1, uint32_t *value2, uint8_t *name,
                         uint16_t *name_length, uint16_t *status);
int16_t QueryTerminalType(uint16_t handle, uint32_t *type, uint16_t *status);

}  // namespace quib
