/* Backs up memory of a classic panel: opens a channel, reads COUNT bytes from ADDRESS into a
 * file, closes.
 *
 *   classic_backup PORT MODEL ADDRESS COUNT FILE     PORT 0..9 for COM1..COM10; ADDRESS may be
 *                                                    hexadecimal (0x100)
 */
#include <stdio.h>
#include <stdlib.h>

#include <quiblink/quiblink.h>
#include <quiblink/quiblink_errors.h>

int main(int argc, char **argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: %s PORT MODEL ADDRESS COUNT FILE\n", argv[0]);
    return 2;
  }
  uint16_t port = (uint16_t)strtoul(argv[1], NULL, 0);
  uint16_t model = (uint16_t)strtoul(argv[2], NULL, 0);
  int32_t address = (int32_t)strtol(argv[3], NULL, 0);
  unsigned long count = strtoul(argv[4], NULL, 0);
  if (count == 0 || count > 65535) {
    fprintf(stderr, "COUNT must be 1..65535\n");
    return 2;
  }

  int16_t channel = QUIB_Open(port, model);
  if (channel < 0) {
    char reason[256];
    QUIB_LastOpenError(reason, sizeof reason);
    fprintf(stderr, "QUIB_Open failed: %d %s\n%s\n", channel, QUIB_ResultText(channel), reason);
    return 1;
  }
  uint16_t handle = (uint16_t)channel;
  int result = 1;
  uint8_t *data = malloc(count);
  /* The library splits a long read into the panel's frames itself. */
  int16_t rc = data != NULL ? QUIB_Read(handle, 0, address, data, (uint16_t)count) : RC_OK;
  if (data == NULL) {
    fprintf(stderr, "out of memory\n");
  } else if (rc != RC_OK) {
    fprintf(stderr, "QUIB_Read failed: %d %s\n", rc, QUIB_ResultText(rc));
  } else {
    FILE *file = fopen(argv[5], "wb");
    if (file == NULL || fwrite(data, 1, count, file) != count) {
      fprintf(stderr, "cannot write %s\n", argv[5]);
    } else {
      printf("%lu bytes from 0x%lX backed up\n", count, (unsigned long)address);
      result = 0;
    }
    if (file != NULL && fclose(file) != 0) result = 1;
  }
  free(data);
  rc = QUIB_Close(handle);
  if (rc != RC_OK) {
    fprintf(stderr, "QUIB_Close failed: %d %s\n", rc, QUIB_ResultText(rc));
    result = 1;
  }
  return result;
}
