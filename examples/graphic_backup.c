/* Backs up a graphic terminal: opens a channel, asks for the terminal type and the project,
 * reads every group into a file, closes.
 *
 *   graphic_backup PORT BAUD FILE      PORT 0..9 for COM1..COM10 (on Linux QUIBLINK_COMn
 *                                      names the device)
 */
#include <stdio.h>
#include <stdlib.h>

#include <quiblink/quiblink.h>
#include <quiblink/quiblink_errors.h>
#include <quiblink/quiblink_ext.h>

/* The largest project this program accepts. */
#define CAPACITY (4u * 1024u * 1024u)

static int failed(const char *call, int16_t rc, uint16_t status) {
  fprintf(stderr, "%s failed: %d %s\n", call, rc, QUIB_ResultText(rc));
  if (rc == RC_TERMINAL_ERROR) fprintf(stderr, "terminal status %u\n", status);
  return 1;
}

static void progress(uint32_t done, uint32_t total, void *user) {
  (void)total;
  (void)user;
  fprintf(stderr, "\r%lu bytes", (unsigned long)done);
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s PORT BAUD FILE\n", argv[0]);
    return 2;
  }
  uint16_t port = (uint16_t)atoi(argv[1]);
  uint16_t baud = (uint16_t)atoi(argv[2]);

  int16_t channel = XQUIB_Open(port, baud, 0);
  if (channel < 0) {
    char reason[256];
    QUIB_LastOpenError(reason, sizeof reason);
    fprintf(stderr, "XQUIB_Open failed: %d %s\n%s\n", channel, QUIB_ResultText(channel), reason);
    return 1;
  }
  uint16_t handle = (uint16_t)channel;
  int result = 1;
  uint8_t *data = malloc(CAPACITY);
  uint16_t status = 0;
  uint32_t type = 0, total_bytes = 0, groups = 0;
  uint8_t name[256];
  uint16_t name_length = 0;
  int32_t total = 0;
  int16_t rc;

  if (data == NULL) {
    fprintf(stderr, "out of memory\n");
  } else if ((rc = XQUIB_GetKEWType(handle, &type, &status)) != RC_OK) {
    failed("XQUIB_GetKEWType", rc, status);
  } else if ((rc = XQUIB_GetProjInfo(handle, &total_bytes, &groups, name, &name_length, &status)) !=
             RC_OK) {
    failed("XQUIB_GetProjInfo", rc, status);
  } else if ((rc = XQUIB_ReadAllEx(handle, data, CAPACITY, &total, &status, progress, NULL)) !=
             RC_OK) {
    failed("XQUIB_ReadAll", rc, status);
  } else {
    fprintf(stderr, "\n");
    FILE *file = fopen(argv[3], "wb");
    if (file == NULL || fwrite(data, 1, (size_t)total, file) != (size_t)total) {
      fprintf(stderr, "cannot write %s\n", argv[3]);
    } else {
      printf("terminal type %lu, project \"%.*s\", %lu groups: %ld bytes backed up\n",
             (unsigned long)type, (int)name_length, (const char *)name, (unsigned long)groups,
             (long)total);
      result = 0;
    }
    if (file != NULL && fclose(file) != 0) result = 1;
  }
  free(data);
  rc = QUIB_Close(handle);
  if (rc != RC_OK) result = failed("QUIB_Close", rc, 0);
  return result;
}
