// Opens a classic channel on COM3 (QUIBLINK_COM3 names the device), reads
// once through it, writes "held\n" to standard output and waits to be killed.
// Exits 1 without the line when the open or the read fails.
// Run by port_release_test.cpp.
#include <stdio.h>
#include <unistd.h>

#include "quiblink/quiblink.h"

int main() {
  const int16_t handle = QUIB_Open(2, 0);
  uint8_t buffer[4];
  if (handle < 0 || QUIB_Read(static_cast<uint16_t>(handle), 0, 0, buffer, 4) != 0) return 1;
  printf("held\n");
  fflush(stdout);
  for (;;) pause();
}
