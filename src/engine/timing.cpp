// Line timing: how long a number of bytes needs on a port's line.
#include "engine/engine.h"

namespace quib {

static uint32_t BitsPerCharacter(const PortRecord &p) {
  // Start bit, data bits, the parity bit if any, one or two stop bits.
  return 1u + p.DataBits + (p.Parity != 0 ? 1u : 0u) + (p.StopBits == 0 ? 1u : 2u);
}

uint32_t TransmitTime(int16_t port, uint32_t count) {
  const PortRecord &p = State.Ports[port];
  if (p.BaudRate == 0) return 0;
  return count * BitsPerCharacter(p) * 1000u / p.BaudRate;
}

uint32_t DrainLimit(int16_t port, uint32_t count) {
  const PortRecord &p = State.Ports[port];
  if (p.BaudRate == 0) return 100;
  return count * BitsPerCharacter(p) * 2000u / p.BaudRate + 100u;
}

plat::Timeouts WorkerTimeouts(int16_t port, uint32_t count) {
  return plat::Timeouts{0xFFFFFFFFu, 0, 0, 0, DrainLimit(port, count)};
}

}  // namespace quib
