// The C++ layer (quiblink.hpp) on Windows, linked against the import library:
// its callbacks cross the exports' calling convention (stdcall on 32-bit
// Windows), so a mismatch between the callback types and the functions the
// layer passes would corrupt the stack here at the first progress report.
//
//   quiblink-cpp-test.exe [--graphic N] [filter]
//
// N is the port index of a graphic terminal as dll_fixture.h describes it.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "check.h"
#include "quiblink/quiblink.hpp"

using namespace wintest;

namespace {

int GraphicPort = -1;

struct ProgressLog {
  int calls = 0;
  uint32_t last_done = 0;
  uint32_t last_total = 0;
  bool increasing = true;
  quiblink::Progress function() {
    return [this](uint32_t done, uint32_t total) {
      if (calls > 0 && done <= last_done) increasing = false;
      ++calls;
      last_done = done;
      last_total = total;
    };
  }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + seed);
  return bytes;
}

void VersionAnswers() {
  CHECK_EQ(quiblink::version(), 211);
}

void OpenAboveNineThrows() {
  int code = 0;
  bool during_open = false;
  try {
    quiblink::Channel::open_graphic(10, 9600);
  } catch (const quiblink::Error &e) {
    code = e.code();
    during_open = e.during_open();
  }
  CHECK_EQ(code, RC_BAD_PORT);
  CHECK(during_open);
}

void TraceSinkSeesTheOpen() {
  if (GraphicPort < 0) return Skip("no --graphic port given");
  std::vector<std::string> texts;
  {
    quiblink::TraceSink sink([&](std::string_view text) { texts.emplace_back(text); });
    quiblink::Channel channel =
        quiblink::Channel::open_graphic(static_cast<uint16_t>(GraphicPort), 38400);
    CHECK_EQ(channel.terminal_type(), 7u);
  }
  int opened = 0;
  for (const std::string &text : texts) opened += text == "COM open OK!\n" ? 1 : 0;
  CHECK_EQ(opened, 1);
}

void BlocksWithProgress() {
  if (GraphicPort < 0) return Skip("no --graphic port given");
  quiblink::Channel channel =
      quiblink::Channel::open_graphic(static_cast<uint16_t>(GraphicPort), 38400);
  const std::vector<uint8_t> data = Pattern(3000, 5);
  ProgressLog wrote;
  channel.write_area(5, 0, data, wrote.function());
  CHECK(wrote.calls >= 2);
  CHECK(wrote.increasing);
  CHECK_EQ(wrote.last_done, 3000u);
  CHECK_EQ(wrote.last_total, 3000u);

  std::vector<uint8_t> back(8192, 0xCC);
  ProgressLog read;
  size_t total = channel.read_area(5, back, read.function());
  REQUIRE(total == data.size());
  CHECK(memcmp(back.data(), data.data(), data.size()) == 0);
  CHECK(read.calls >= 2);
  CHECK(read.increasing);
  CHECK_EQ(read.last_done, 3000u);
}

// What a progress function throws comes back out of the call, after the
// library has returned; the channel goes on working.
void ThrowingProgressComesBack() {
  if (GraphicPort < 0) return Skip("no --graphic port given");
  quiblink::Channel channel =
      quiblink::Channel::open_graphic(static_cast<uint16_t>(GraphicPort), 38400);
  const std::vector<uint8_t> data = Pattern(2000, 9);
  std::string caught;
  try {
    channel.write_area(6, 0, data, [](uint32_t, uint32_t) { throw std::string("stop"); });
  } catch (const std::string &what) {
    caught = what;
  }
  CHECK(caught == "stop");
  CHECK_EQ(channel.terminal_type(), 7u);
}

}  // namespace

int main(int argc, char **argv) {
  const char *filter = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--graphic") == 0 && i + 1 < argc) {
      GraphicPort = atoi(argv[++i]);
    } else {
      filter = argv[i];
    }
  }
  std::vector<Case> cases = {
      {"c++: the version answers", VersionAnswers},
      {"c++: an open of port 10 throws RC_BAD_PORT", OpenAboveNineThrows},
      {"c++: a trace sink gets the library's trace", TraceSinkSeesTheOpen},
      {"c++: block write and read with progress", BlocksWithProgress},
      {"c++: a progress function's exception comes back", ThrowingProgressComesBack},
  };
  return RunCases(cases, filter) == 0 ? 0 : 1;
}
