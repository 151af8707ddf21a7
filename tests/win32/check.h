// A small test runner for the Windows programs that run under wine: named
// cases, CHECK macros that report file, line and both values, and a closing
// "N passed, N failed" line.
#pragma once

#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

namespace wintest {

struct Case {
  const char *name;
  std::function<void()> body;
};

// Failures of the case that runs now.
int &CaseFailures();

void Fail(const char *file, int line, const std::string &what);

template <typename A, typename B>
std::string Show(const char *a_text, const A &a, const char *b_text, const B &b) {
  return std::string(a_text) + " == " + b_text + " (" + std::to_string(a) + " vs " +
         std::to_string(b) + ")";
}

// Runs the cases whose name contains filter (all when empty); returns the
// count of failed cases.
int RunCases(const std::vector<Case> &cases, const char *filter);

void Skip(const char *why);

// One option of a test program: `--name VALUE` hands VALUE to set; a flag
// (takes_value false) is set with nullptr.
struct Option {
  const char *name;
  std::function<void(const char *)> set;
  bool takes_value = true;
};

// Reads the options; an argument that is none of them is the cases' filter,
// which is returned (nullptr when there is none).
const char *ReadOptions(int argc, char **argv, const std::vector<Option> &options);

}  // namespace wintest

#define CHECK(cond)                                                       \
  do {                                                                    \
    if (!(cond)) ::wintest::Fail(__FILE__, __LINE__, "CHECK(" #cond ")"); \
  } while (0)

#define CHECK_EQ(a, b)                                                                  \
  do {                                                                                  \
    auto check_a_ = (a);                                                                \
    auto check_b_ = (b);                                                                \
    if (!(check_a_ == check_b_))                                                        \
      ::wintest::Fail(__FILE__, __LINE__, ::wintest::Show(#a, check_a_, #b, check_b_)); \
  } while (0)

// Stops the case at once when cond fails (later steps depend on it).
#define REQUIRE(cond)                                            \
  do {                                                           \
    if (!(cond)) {                                               \
      ::wintest::Fail(__FILE__, __LINE__, "REQUIRE(" #cond ")"); \
      return;                                                    \
    }                                                            \
  } while (0)
