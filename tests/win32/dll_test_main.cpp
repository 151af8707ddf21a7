// quiblink.dll as an application meets it, under wine or Windows: loaded with
// LoadLibraryA, every export found by its decorated name, then the state after
// attach, open and close, and whole exchanges with terminal simulators on the
// far end of serial ports.
//
//   quiblink-dll-test.exe [--dll PATH] [--classic N] [--graphic N] [--fault N]
//                         [--missing N] [filter]
//
// N are port indexes (0 = COM1 ... 9 = \\.\COM10); dll_fixture.h says what
// each port's far end must be. Cases whose port is not given are skipped.
#include <stdlib.h>
#include <string.h>

#include "dll_fixture.h"

using namespace wintest;

int main(int argc, char **argv) {
  const auto number = [](int *to) { return [to](const char *value) { *to = atoi(value); }; };
  const char *filter = ReadOptions(argc, argv,
                                   {{"--dll", [](const char *value) { DllPath = value; }},
                                    {"--classic", number(&ClassicPort)},
                                    {"--graphic", number(&GraphicPort)},
                                    {"--fault", number(&FaultPort)},
                                    {"--missing", number(&MissingPort)}});
  std::vector<std::string> missing;
  if (!LoadQuib(DllPath, &Lib, &missing)) {
    printf("cannot use %s (error %lu):", DllPath, GetLastError());
    for (const std::string &name : missing) printf(" %s", name.c_str());
    printf("\n0 passed, 1 failed\n");
    return 1;
  }
  std::vector<Case> cases = BasicCases();
  for (Case &c : ExchangeCases()) cases.push_back(c);
  int failed = RunCases(cases, filter);
  UnloadQuib(&Lib);
  return failed == 0 ? 0 : 1;
}
