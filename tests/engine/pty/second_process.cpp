// Another process on the same port: loads the library afresh, opens COM1 as
// the caller's environment maps it and prints the result.
#include <stdio.h>

#include "quiblink/quiblink.h"

int main() {
  printf("%d\n", QUIB_Open(0, 0));
  return 0;
}
