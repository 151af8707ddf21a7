#include "core/port_devices.h"

#include <atomic>
#include <string.h>

#include "core/state.h"
#include "quiblink/quiblink.h"

namespace quib {

namespace {

struct PortDevice {
  bool Mapped;
  char Name[kDeviceNameSize];
};
PortDevice Devices[kPortCount];

// Guards Devices: a setter and an open of another thread copy whole names.
std::atomic_flag DevicesLock = ATOMIC_FLAG_INIT;

void Lock() {
  while (DevicesLock.test_and_set(std::memory_order_acquire)) {
  }
}

void Unlock() {
  DevicesLock.clear(std::memory_order_release);
}

}  // namespace

int16_t SetPortDevice(uint16_t port, const char *device) {
  if (port >= kPortCount) return RC_BAD_PORT;
  size_t length = 0;
  if (device != nullptr) {
    length = strnlen(device, kDeviceNameSize);
    if (length == 0 || length >= kDeviceNameSize) return RC_BAD_ARGUMENT;
  }
  Lock();
  PortDevice &entry = Devices[port];
  entry.Mapped = device != nullptr;
  if (device != nullptr) {
    memcpy(entry.Name, device, length);
    entry.Name[length] = '\0';
  }
  Unlock();
  return RC_OK;
}

void ForgetPortDevices() {
  Lock();
  for (PortDevice &entry : Devices) entry.Mapped = false;
  Unlock();
}

void PortDeviceName(uint16_t port, char *buffer) {
  Lock();
  const PortDevice &entry = Devices[port];
  const char *name = entry.Mapped ? entry.Name : PortNames[port];
  size_t length = strnlen(name, kDeviceNameSize - 1);
  memcpy(buffer, name, length);
  buffer[length] = '\0';
  Unlock();
}

}  // namespace quib
