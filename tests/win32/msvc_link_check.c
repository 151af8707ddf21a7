/* A C program as Microsoft's toolchain builds it: compiled for the MSVC ABI
 * and linked by lld-link against quiblink.lib (x86, with /SAFESEH) or
 * quiblink64.lib, with no C runtime and no system header. Its import table
 * must name every export of the DLL under the DLL's own spelling: the symbols
 * the compiler makes from the public headers' declarations have to be the
 * ones the import library offers. Exit code 0 when the DLL answers.
 *
 * scripts/check_dll.sh writes msvc_headers.inc, which includes every public C
 * header, and msvc_exports.inc from the export list: QUIB_EXPORT(QUIB_Open)
 * and so on, one line per export. */
#include "msvc_headers.inc"

/* Writable and visible to the linker, so that no compiler folds the table
 * away: each entry keeps its import. */
#define QUIB_EXPORT(name) (const void *)&name,
const void *Every[] = {
#include "msvc_exports.inc"
};

int Start(void) {
  unsigned missing = 0;
  unsigned i;
  for (i = 0; i < sizeof Every / sizeof Every[0]; ++i) {
    if (Every[i] == 0) ++missing;
  }
  return QUIB_Version() == 211 && missing == 0 ? 0 : 1;
}
