#include "check.h"

#include <string.h>

namespace wintest {

int &CaseFailures() {
  static int failures = 0;
  return failures;
}

void Fail(const char *file, int line, const std::string &what) {
  ++CaseFailures();
  printf("  FAILED %s:%d: %s\n", file, line, what.c_str());
  fflush(stdout);
}

namespace {
bool CaseSkipped = false;
}  // namespace

void Skip(const char *why) {
  CaseSkipped = true;
  printf("  skipped: %s\n", why);
  fflush(stdout);
}

int RunCases(const std::vector<Case> &cases, const char *filter) {
  int passed = 0;
  int failed = 0;
  int skipped = 0;
  for (const Case &c : cases) {
    if (filter != nullptr && filter[0] != 0 && strstr(c.name, filter) == nullptr) continue;
    printf("[ RUN  ] %s\n", c.name);
    fflush(stdout);
    CaseFailures() = 0;
    CaseSkipped = false;
    c.body();
    if (CaseFailures() == 0 && CaseSkipped) {
      ++skipped;
      printf("[ SKIP ] %s\n", c.name);
    } else if (CaseFailures() == 0) {
      ++passed;
      printf("[  OK  ] %s\n", c.name);
    } else {
      ++failed;
      printf("[ FAIL ] %s\n", c.name);
    }
    fflush(stdout);
  }
  printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
  fflush(stdout);
  return failed;
}

const char *ReadOptions(int argc, char **argv, const std::vector<Option> &options) {
  const char *filter = nullptr;
  for (int i = 1; i < argc; ++i) {
    const Option *found = nullptr;
    for (const Option &option : options) {
      if (strcmp(argv[i], option.name) == 0) found = &option;
    }
    if (found == nullptr) {
      filter = argv[i];
    } else if (!found->takes_value) {
      found->set(nullptr);
    } else {
      found->set(i + 1 < argc ? argv[++i] : "");
    }
  }
  return filter;
}

}  // namespace wintest
