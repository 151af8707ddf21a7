// The line settings the library programs, even parity and one stop bit, at a
// chosen rate and byte size: what a backend's device is asked to take.
#pragma once

#include "platform/platform.h"

inline plat::LineSettings Line(uint32_t baud, uint8_t bits) {
  plat::LineSettings s = {};
  s.BaudRate = baud;
  s.ByteSize = bits;
  s.Parity = plat::kParityEven;
  s.StopBits = plat::kOneStopBit;
  s.Binary = true;
  s.ParityCheck = true;
  s.RtsControl = plat::kRtsEnable;
  s.DtrControl = 1;
  return s;
}
