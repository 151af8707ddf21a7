// Line speed through the termios2 interface, which takes any rate in bits per
// second. Kept apart from serial.cpp because <asm/termbits.h> and <termios.h>
// cannot share a translation unit.
#pragma once

#include <stdint.h>

namespace plat::posix {

// Programs the rate as a custom speed (BOTHER), in and out alike.
bool SetCustomSpeed(int fd, uint32_t baud);

// The output rate the device holds, whatever way it was set.
bool GetSpeed(int fd, uint32_t *baud);

}  // namespace plat::posix
