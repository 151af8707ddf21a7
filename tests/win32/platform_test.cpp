// The Win32 backend on its own: text formatting, threads, semaphores, the
// tick, and a serial device that a terminal simulator answers.
//
//   quiblink-platform-test.exe [--port COMn] [--missing COMm] [filter]
//
// --port names a device whose far end is a classic panel simulator;
// --missing a device name that does not open.
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "check.h"
#include "platform/platform.h"

// The backend is linked here without its DLL entry point: no test runs under the loader.
bool plat::InLoaderEntry() {
  return false;
}

namespace {

const char *PortName = nullptr;
const char *MissingName = nullptr;

struct FormatRow {
  const char *name;
  size_t size;
  std::string expected;
  int (*format)(char *buffer, size_t size);
};

const FormatRow kFormatRows[] = {
    {"signed decimal", 64, "-42",
     [](char *b, size_t n) { return plat::FormatText(b, n, "%d", -42); }},
    {"unsigned beyond 31 bits", 64, "4000000000",
     [](char *b, size_t n) { return plat::FormatText(b, n, "%u", 4000000000u); }},
    {"lower-case hex", 64, "psp->ReceivedLength=1f\n",
     [](char *b, size_t n) { return plat::FormatText(b, n, "psp->ReceivedLength=%x\n", 0x1fu); }},
    {"upper-case hex, zero-padded", 64, "Handle = 0000ABCD\n",
     [](char *b, size_t n) { return plat::FormatText(b, n, "Handle = %08X\n", 0xABCDu); }},
    {"space-padded width", 64, "[   42]",
     [](char *b, size_t n) { return plat::FormatText(b, n, "[%5d]", 42); }},
    {"control byte as a hex pair", 64, "<1F>",
     [](char *b, size_t n) { return plat::FormatText(b, n, "<%02X>", 0x1F); }},
    {"high byte as itself", 64, "\xFE",
     [](char *b, size_t n) { return plat::FormatText(b, n, "%c", 0xFE); }},
    {"string", 64, "OpenThreadHandle = -2\n",
     [](char *b, size_t n) { return plat::FormatText(b, n, "%s = %d\n", "OpenThreadHandle", -2); }},
    {"cut to the buffer", 8, "0000ABC",
     [](char *b, size_t n) { return plat::FormatText(b, n, "%08X-%d", 0xABCDu, 12345); }},
    {"one-byte buffer holds only the terminator", 1, "",
     [](char *b, size_t n) { return plat::FormatText(b, n, "%d", 12345); }},
};

void FormatTable() {
  for (const FormatRow &row : kFormatRows) {
    char buffer[80];
    memset(buffer, 'Z', sizeof buffer);
    int n = row.format(buffer, row.size);
    if (std::string(buffer) != row.expected || n != static_cast<int>(row.expected.size())) {
      ::wintest::Fail(
          __FILE__, __LINE__,
          std::string(row.name) + ": got \"" + buffer + "\" (" + std::to_string(n) + ")");
    }
    CHECK(buffer[row.size] == 'Z');  // nothing written past the given size
  }
}

// Beyond what one formatting call can produce the text is cut, never
// written past the buffer.
void FormatLongText() {
  std::string long_text(3000, 'a');
  std::vector<char> buffer(4096, 'Z');
  int n = plat::FormatText(buffer.data(), buffer.size(), "%s", long_text.c_str());
  CHECK(n >= 1000 && n <= 1024);
  CHECK_EQ(strlen(buffer.data()), static_cast<size_t>(n));
  CHECK(buffer[n + 1] == 'Z');
}

struct ThreadArg {
  plat::Handle gate;  // the thread waits for it before it ends; 0 = no wait
  uint32_t value;
  volatile uint32_t seen;
};

uint32_t ThreadBody(void *p) {
  ThreadArg *arg = static_cast<ThreadArg *>(p);
  arg->seen = arg->value;
  if (arg->gate != 0) plat::SemaphoreWait(arg->gate, plat::kInfinite);
  return arg->value;
}

void ThreadExitCodeAndWait() {
  ThreadArg arg = {plat::SemaphoreCreate(nullptr, 0, 1), 7, 0};
  REQUIRE(arg.gate != 0);
  uint32_t id = 0;
  plat::Handle t = plat::ThreadCreate(ThreadBody, &arg, &id);
  REQUIRE(t != 0);
  CHECK(id != 0);
  uint32_t code = 0;
  CHECK(plat::ThreadExitCode(t, &code));
  CHECK_EQ(code, plat::kStillActive);
  CHECK_EQ(plat::ThreadWait(t, 50), plat::kWaitTimeout);
  CHECK(plat::SemaphoreRelease(arg.gate));
  CHECK_EQ(plat::ThreadWait(t, 10000), plat::kWaitSignaled);
  CHECK(plat::ThreadExitCode(t, &code));
  CHECK_EQ(code, 7u);
  CHECK_EQ(arg.seen, 7u);
  plat::ThreadClose(t);
  plat::SemaphoreClose(arg.gate);
}

// Many threads alive at once, then many in a row: every thread gets its own
// argument, also once the start records have been reused many times over.
void ThreadsGetTheirOwnArguments() {
  constexpr int kAlive = 24;
  plat::Handle gate = plat::SemaphoreCreate(nullptr, 0, kAlive);
  REQUIRE(gate != 0);
  std::vector<ThreadArg> args(kAlive);
  std::vector<plat::Handle> threads;
  for (int i = 0; i < kAlive; ++i) {
    args[i] = {gate, static_cast<uint32_t>(100 + i), 0};
    plat::Handle t = plat::ThreadCreate(ThreadBody, &args[i], nullptr);
    CHECK(t != 0);
    if (t != 0) threads.push_back(t);
  }
  for (size_t i = 0; i < threads.size(); ++i) CHECK(plat::SemaphoreRelease(gate));
  for (size_t i = 0; i < threads.size(); ++i) {
    CHECK_EQ(plat::ThreadWait(threads[i], 10000), plat::kWaitSignaled);
    uint32_t code = 0;
    CHECK(plat::ThreadExitCode(threads[i], &code));
    CHECK_EQ(code, static_cast<uint32_t>(100 + i));
    plat::ThreadClose(threads[i]);
  }
  plat::SemaphoreClose(gate);

  for (uint32_t i = 0; i < 100; ++i) {
    ThreadArg arg = {0, 1000 + i, 0};
    plat::Handle t = plat::ThreadCreate(ThreadBody, &arg, nullptr);
    REQUIRE(t != 0);
    CHECK_EQ(plat::ThreadWait(t, 10000), plat::kWaitSignaled);
    uint32_t code = 0;
    CHECK(plat::ThreadExitCode(t, &code));
    CHECK_EQ(code, 1000 + i);
    plat::ThreadClose(t);
  }
}

// A name makes one object that every creator shares; no name makes a new
// one each time.
void SemaphoreNamesShareOneObject() {
  plat::Handle a = plat::SemaphoreCreate("QuibTestSema", 0, 1);
  plat::Handle b = plat::SemaphoreCreate("QuibTestSema", 0, 1);
  plat::Handle c = plat::SemaphoreCreate(nullptr, 0, 1);
  plat::Handle d = plat::SemaphoreCreate(nullptr, 0, 1);
  REQUIRE(a != 0 && b != 0 && c != 0 && d != 0);
  CHECK_EQ(plat::SemaphoreWait(b, 0), plat::kWaitTimeout);
  CHECK(plat::SemaphoreRelease(a));
  CHECK_EQ(plat::SemaphoreWait(b, 1000), plat::kWaitSignaled);
  CHECK_EQ(plat::SemaphoreWait(a, 0), plat::kWaitTimeout);

  CHECK(plat::SemaphoreRelease(c));
  CHECK_EQ(plat::SemaphoreWait(d, 0), plat::kWaitTimeout);
  CHECK_EQ(plat::SemaphoreWait(c, 0), plat::kWaitSignaled);
  for (plat::Handle h : {a, b, c, d}) plat::SemaphoreClose(h);
}

void SemaphoreCountsToItsMaximum() {
  plat::Handle s = plat::SemaphoreCreate(nullptr, 1, 1);
  REQUIRE(s != 0);
  CHECK(!plat::SemaphoreRelease(s));  // already at its maximum
  CHECK_EQ(plat::SemaphoreWait(s, 0), plat::kWaitSignaled);
  uint32_t start = plat::TickCount();
  CHECK_EQ(plat::SemaphoreWait(s, 100), plat::kWaitTimeout);
  uint32_t waited = plat::TickCount() - start;
  CHECK(waited >= 80 && waited < 5000);
  CHECK(plat::SemaphoreRelease(s));
  CHECK_EQ(plat::SemaphoreWait(s, 0), plat::kWaitSignaled);
  plat::SemaphoreClose(s);
  CHECK_EQ(plat::SemaphoreWait(0, 0), plat::kWaitFailed);
}

void SleepMovesTheTick() {
  uint32_t start = plat::TickCount();
  plat::SleepMs(60);
  uint32_t slept = plat::TickCount() - start;
  CHECK(slept >= 45 && slept < 5000);
}

void MissingDeviceDoesNotOpen() {
  if (MissingName == nullptr) return ::wintest::Skip("no --missing device given");
  CHECK_EQ(plat::DeviceOpen(MissingName), plat::kInvalid);
}

// A classic panel read of 4 bytes at address 0x100 (model code 0): STX, "E",
// address 000100, count 04, ETX, checksum CD. Its answer is 12 bytes.
const char kClassicRead[] =
    "\x02"
    "E00010004\x03"
    "CD";
constexpr uint32_t kClassicReplyLength = 12;

// The device calls the port worker makes, in its order, against a real
// pseudo-terminal with a panel behind it: the bytes written reach the panel
// and its answer is read back.
void DeviceRoundTrip() {
  if (PortName == nullptr) return ::wintest::Skip("no --port device given");
  plat::Handle dev = plat::DeviceOpen(PortName);
  REQUIRE(dev != plat::kInvalid);
  CHECK(plat::DeviceSetupBuffers(dev, 2048, 2048));
  plat::LineSettings line = {};
  CHECK(plat::DeviceGetLine(dev, &line));
  line.BaudRate = 9600;
  plat::DeviceSetLine(dev, &line);  // a pseudo-terminal takes what it can
  plat::Timeouts timeouts = {0xFFFFFFFFu, 0, 0, 0, 0};
  CHECK(plat::DeviceSetTimeouts(dev, &timeouts));
  CHECK(plat::DevicePurge(dev));

  uint32_t bits = 0;
  plat::ModemResult modem = plat::DeviceModemStatus(dev, &bits);
  CHECK(modem == plat::kModemOk || modem == plat::kModemNotSupported);

  plat::LineStatus status = {};
  CHECK(plat::DeviceLineStatus(dev, &status));
  CHECK_EQ(status.InQueue, 0u);
  CHECK_EQ(status.HoldFlags, 0u);

  // Nothing comes: the read returns at once, the wait takes its full time.
  uint8_t reply[256];
  uint32_t got = 99;
  uint32_t start = plat::TickCount();
  CHECK(plat::DeviceRead(dev, reply, sizeof reply, &got));
  CHECK_EQ(got, 0u);
  CHECK(plat::TickCount() - start < 1000);
  start = plat::TickCount();
  CHECK(plat::DeviceWaitInput(dev, 150));
  uint32_t waited = plat::TickCount() - start;
  CHECK(waited >= 130 && waited < 5000);

  uint32_t length = sizeof kClassicRead - 1;
  uint32_t written = 0;
  CHECK(plat::DeviceWrite(dev, kClassicRead, length, &written));
  CHECK_EQ(written, length);

  // The answer, read as it comes, as the worker reads it.
  uint32_t total = 0;
  start = plat::TickCount();
  while (total < kClassicReplyLength && plat::TickCount() - start < 5000) {
    CHECK(plat::DeviceWaitInput(dev, 200));
    CHECK(plat::DeviceRead(dev, reply + total, kClassicReplyLength - total, &got));
    total += got;
  }
  REQUIRE(total == kClassicReplyLength);
  CHECK_EQ(reply[0], 0x02);
  CHECK_EQ(reply[kClassicReplyLength - 3], 0x03);
  CHECK(plat::DeviceLineStatus(dev, &status));
  CHECK_EQ(status.InQueue, 0u);
  plat::DeviceClose(dev);
}

// Wine serves a serial device to any number of openers.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void DeviceOpenIsExclusive() {
  if (PortName == nullptr) return ::wintest::Skip("no --port device given");
  if (UnderWine()) return ::wintest::Skip("wine does not make a serial device exclusive");
  plat::Handle first = plat::DeviceOpen(PortName);
  REQUIRE(first != plat::kInvalid);
  CHECK_EQ(plat::DeviceOpen(PortName), plat::kInvalid);
  plat::DeviceClose(first);
  plat::Handle again = plat::DeviceOpen(PortName);
  CHECK(again != plat::kInvalid);
  plat::DeviceClose(again);
}

}  // namespace

int main(int argc, char **argv) {
  const char *filter = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      PortName = argv[++i];
    } else if (strcmp(argv[i], "--missing") == 0 && i + 1 < argc) {
      MissingName = argv[++i];
    } else {
      filter = argv[i];
    }
  }
  std::vector<wintest::Case> cases = {
      {"format: table of conversions", FormatTable},
      {"format: a text longer than one call makes is cut", FormatLongText},
      {"thread: exit code is still-active, then the body's result", ThreadExitCodeAndWait},
      {"thread: every thread gets its own argument", ThreadsGetTheirOwnArguments},
      {"semaphore: a name shares one object, no name does not", SemaphoreNamesShareOneObject},
      {"semaphore: counts to its maximum and times out", SemaphoreCountsToItsMaximum},
      {"time: sleeping moves the tick", SleepMovesTheTick},
      {"device: a missing device does not open", MissingDeviceDoesNotOpen},
      {"device: write, wait and read against a panel", DeviceRoundTrip},
      {"device: a second open of an open device fails", DeviceOpenIsExclusive},
  };
  return wintest::RunCases(cases, filter) == 0 ? 0 : 1;
}
