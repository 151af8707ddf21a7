// The device each port index opens. By default COM1 ... COM9 and \\.\COM10;
// a process may map any port index to any device name the platform opens
// (COM17, \\.\COM17, /dev/ttyUSB0, ...). Every open looks its name up here
// and nowhere else, so that every kind of device name passes one place.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace quib {

constexpr size_t kDeviceNameSize = 256;

// Maps port to device for this process, from the port's next open on; NULL
// restores the default. 0, RC_BAD_PORT (port above 9) or RC_BAD_ARGUMENT (an
// empty name, or one of kDeviceNameSize characters or more).
int16_t SetPortDevice(uint16_t port, const char *device);

// Every port back to its default device.
void ForgetPortDevices();

// Copies the name the next open of port (0..9) uses into buffer, which holds
// kDeviceNameSize characters.
void PortDeviceName(uint16_t port, char *buffer);

}  // namespace quib
