/* The smallest program on QUIBLINK: asks the library for its version. */
#include <stdio.h>

#include <quiblink/quiblink.h>

int main(void) {
  printf("QUIBLINK version %d\n", QUIB_Version());
  return 0;
}
