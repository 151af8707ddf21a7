/* Links against libquiblink.dll.a with nothing but the public header: the
 * stdcall symbols a C compiler makes from the declarations must resolve to
 * the DLL's decorated exports. Exit code 0 when the calls answer. */
#include <stdio.h>

#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

int main(void) {
  int failures = 0;
  int16_t version = QUIB_Version();
  int16_t bad_port = QUIB_Open(10, 0);
  int16_t bad_graphic_port = XQUIB_Open(0xFFFF, 9600, 0);
  int16_t free_slot = QUIB_Close(31);
  uint16_t status = 0;
  int16_t not_open = XQUIB_Offline(5, &status);
  QUIB_SetTraceHandler(NULL, NULL);
  printf("version %d, open(10) %d, xopen(0xFFFF) %d, close(31) %d, offline(5) %d\n", version,
         bad_port, bad_graphic_port, free_slot, not_open);
  if (version != 211) ++failures;
  if (bad_port != RC_BAD_PORT) ++failures;
  if (bad_graphic_port != RC_BAD_PORT) ++failures;
  if (free_slot != RC_PORT_OPEN_FAILED) ++failures;
  if (not_open != RC_NOT_OPEN) ++failures;
  printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
  return failures == 0 ? 0 : 1;
}
