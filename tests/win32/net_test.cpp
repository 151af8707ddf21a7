// The DLL's network device under wine against ser2net on 127.0.0.1, which
// serves a graphic terminal simulator's pseudo-terminal (scripts/check_dll.sh
// starts both and gives their addresses):
//
//   quiblink-net-test.exe --dll PATH --rfc2217 URL --raw URL --spare URL
//                         --closed URL --kill COMMAND [--direct N] [--bench]
//                         [filter]
//
// --rfc2217 and --raw are one server's two accepters, --spare a second
// server in front of the same terminal, --closed an address nothing listens
// on, --kill a command (a Linux program,
// which wine starts) that kills the first server. --direct is a port index
// whose COM port is the same pseudo-terminal; with --bench, the throughput of
// a 64 KiB write and of ReadAll through rfc2217:// is measured against it.
//
// The bytes the first case writes stay in the terminal's groups 1 and 2 for
// the script to compare with kEveryByte's own copy there.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "dll_fixture.h"

using namespace wintest;

namespace {

std::string Rfc2217Url;
std::string RawUrl;
std::string SpareUrl;
std::string ClosedUrl;
std::string KillCommand;
int DirectPort = -1;
bool Bench = false;

// Every byte value both ways round, a run of 0xFF and 0xFF before every
// telnet command byte, so that a missing or extra IAC doubling shows. The
// script builds the same bytes to compare with the terminal's copy.
std::vector<uint8_t> EveryByte() {
  std::vector<uint8_t> data;
  for (int b = 0; b < 256; ++b) data.push_back(static_cast<uint8_t>(b));
  for (int b = 255; b >= 0; --b) data.push_back(static_cast<uint8_t>(b));
  data.insert(data.end(), 64, 0xFF);
  for (int command = 0xF0; command <= 0xFF; ++command) {
    data.push_back(0xFF);
    data.push_back(static_cast<uint8_t>(command));
  }
  return data;
}

uint32_t Since(DWORD start) {
  return GetTickCount() - start;
}

std::string LastOpenError(int32_t *error) {
  char text[320] = {};
  *error = Lib.QUIB_LastOpenError(text, sizeof text);
  return text;
}

std::string WindowsWords(DWORD error) {
  char text[256] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  return n == 0 ? "system error" : std::string(text, n);
}

bool Contains(const std::string &text, const std::string &part) {
  if (text.find(part) != std::string::npos) return true;
  printf("  \"%s\" lacks \"%s\"\n", text.c_str(), part.c_str());
  return false;
}

// Writes the bytes to a group and reads them back through port 0 mapped to
// url; the terminal's copy is the script's to check.
void RoundTrip(const std::string &url, uint16_t group) {
  REQUIRE(Lib.QUIB_SetPortDevice(0, url.c_str()) == 0);
  const DWORD start = GetTickCount();
  const int16_t h = Lib.XQUIB_Open(0, 38400, 0);
  REQUIRE(h >= 0);
  // The open watches the connection for 100 ms after its setup (less a tick
  // of the clock for margin).
  CHECK(Since(start) >= 95);
  printf("  %s opened in %u ms\n", url.c_str(), Since(start));
  const std::vector<uint8_t> data = EveryByte();
  uint16_t status = 0xBEEF;
  CHECK_EQ(Lib.XQUIB_Write(h, 1, group, static_cast<uint32_t>(data.size()), data.data(), &status),
           0);
  CHECK_EQ(status, 0);
  std::vector<uint8_t> back(4096, 0xEE);
  int32_t total = -1;
  CHECK_EQ(Lib.XQUIB_Read1G(h, group, back.data(), &total, &status), 0);
  REQUIRE(total == static_cast<int32_t>(data.size()));
  back.resize(data.size());
  CHECK(back == data);
  CHECK_EQ(Lib.QUIB_Close(h), 0);
}

// tcp:// by name goes through the lookup thread. Between the two the library
// is unloaded, which gives Winsock back, and loaded again.
void EveryByteOverEachKindOfUrl() {
  RoundTrip(Rfc2217Url, 1);
  REQUIRE(Reload());
  std::string by_name = RawUrl;
  by_name.replace(by_name.find("127.0.0.1"), 9, "localhost");
  RoundTrip(by_name, 2);
}

struct Refusal {
  const char *name;
  std::string url;
  int32_t error;        // -1: any
  std::string words;    // in the reason
  uint32_t at_most_ms;  // the open's time
};

// A refused connection, an unknown host and a malformed address fail the open
// with -1 and the reason, in Windows' words where the system gave one.
void RefusalsGiveTheirReasons() {
  const Refusal rows[] = {
      {"refused", ClosedUrl, WSAECONNREFUSED,
       "127.0.0.1 port " + ClosedUrl.substr(ClosedUrl.rfind(':') + 1) + ": " +
           WindowsWords(WSAECONNREFUSED),
       3500},
      {"unknown host", "tcp://quiblink-no-such-host.invalid:4001", -1,
       "host quiblink-no-such-host.invalid", 5000},
      {"not an address", "tcp://127.0.0.1:notaport", 0, "not a device server address", 500},
  };
  Lib.QUIB_SetMessageBoxes(0);
  for (const Refusal &row : rows) {
    REQUIRE(Lib.QUIB_SetPortDevice(2, row.url.c_str()) == 0);
    const DWORD start = GetTickCount();
    CHECK_EQ(Lib.XQUIB_Open(2, 38400, 0), -1);
    const uint32_t took = Since(start);
    CHECK(took < row.at_most_ms);
    int32_t error = 0;
    const std::string reason = LastOpenError(&error);
    printf("  %s, %u ms: %s\n", row.name, took, reason.c_str());
    if (row.error >= 0) CHECK_EQ(error, row.error);
    CHECK(Contains(reason, row.url + ": "));
    CHECK(Contains(reason, row.words));
  }
  Lib.QUIB_SetMessageBoxes(1);
  CHECK_EQ(Lib.QUIB_SetPortDevice(2, nullptr), 0);
}

// ser2net serves one client at a time: it takes a second connection, says
// so and closes it. The open tries again for its 3 s, then quotes the server.
void ABusyServerRefusesTheSecondClient() {
  REQUIRE(Lib.QUIB_SetPortDevice(0, Rfc2217Url.c_str()) == 0);
  REQUIRE(Lib.QUIB_SetPortDevice(1, Rfc2217Url.c_str()) == 0);
  const int16_t first = Lib.XQUIB_Open(0, 38400, 0);
  REQUIRE(first >= 0);
  Lib.QUIB_SetMessageBoxes(0);
  const DWORD start = GetTickCount();
  CHECK_EQ(Lib.XQUIB_Open(1, 38400, 0), -1);
  const uint32_t took = Since(start);
  Lib.QUIB_SetMessageBoxes(1);
  CHECK(took >= 2800 && took < 5000);
  int32_t error = 0;
  CHECK(Contains(LastOpenError(&error), "the server closed the connection during setup"));
  uint32_t type = 0;
  uint16_t status = 0xBEEF;
  CHECK_EQ(Lib.XQUIB_GetKEWType(first, &type, &status), 0);  // the first client is served on
  CHECK_EQ(Lib.QUIB_Close(first), 0);
  CHECK_EQ(Lib.QUIB_SetPortDevice(1, nullptr), 0);
}

struct Transfer {
  int16_t handle;
  std::vector<uint8_t> data;
  int16_t result;
};

DWORD WINAPI WriteGroup(LPVOID p) {
  Transfer *t = static_cast<Transfer *>(p);
  uint16_t status = 0;
  t->result = Lib.XQUIB_Write(t->handle, 1, 3, static_cast<uint32_t>(t->data.size()),
                              t->data.data(), &status);
  return 0;
}

// Runs a Linux program; wine starts it but cannot wait for it.
bool RunCommand(const std::string &command) {
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// The server is killed in the middle of an 8 KiB write (2.4 s on the line):
// the call ends with a line failure within the engine's bounds, the close
// returns at once, and the next open connects to the terminal again.
void AServerKilledInATransfer() {
  REQUIRE(Lib.QUIB_SetPortDevice(0, Rfc2217Url.c_str()) == 0);
  Transfer t = {Lib.XQUIB_Open(0, 38400, 0), std::vector<uint8_t>(8192, 0x5A), 1};
  REQUIRE(t.handle >= 0);
  HANDLE writer = CreateThread(nullptr, 0, WriteGroup, &t, 0, nullptr);
  REQUIRE(writer != nullptr);
  Sleep(800);
  const DWORD killed = GetTickCount();
  CHECK(RunCommand(KillCommand));
  const DWORD waited = WaitForSingleObject(writer, 6000);
  CloseHandle(writer);
  REQUIRE(waited == WAIT_OBJECT_0);
  CHECK(Since(killed) < 4000);
  CHECK(t.result == RC_NO_RESPONSE || t.result == RC_INCOMPLETE || t.result == RC_TX_FAILED);
  printf("  the write ended with %d after %u ms\n", t.result, Since(killed));
  const DWORD closing = GetTickCount();
  CHECK_EQ(Lib.QUIB_Close(t.handle), 0);
  CHECK(Since(closing) < 1000);

  REQUIRE(Lib.QUIB_SetPortDevice(0, SpareUrl.c_str()) == 0);
  const int16_t again = Lib.XQUIB_Open(0, 38400, 0);
  REQUIRE(again >= 0);
  uint32_t type = 0;
  uint16_t status = 0xBEEF;
  CHECK_EQ(Lib.XQUIB_GetKEWType(again, &type, &status), 0);
  const std::vector<uint8_t> small(100, 0xA5);
  CHECK_EQ(Lib.XQUIB_Write(again, 1, 4, static_cast<uint32_t>(small.size()), small.data(), &status),
           0);
  CHECK_EQ(Lib.QUIB_Close(again), 0);
}

// ---- Throughput -------------------------------------------------------------

struct Timing {
  double write_ms = 0;
  double read_ms = 0;
  int32_t read_total = 0;
};

double MsBetween(const LARGE_INTEGER &a, const LARGE_INTEGER &b) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// A 64 KiB write to group 5 and ReadAll of every group through port 0 mapped
// to device.
bool Measure(const std::string &device, Timing *timing) {
  if (Lib.QUIB_SetPortDevice(0, device.c_str()) != 0) return false;
  const int16_t h = Lib.XQUIB_Open(0, 38400, 0);
  if (h < 0) return false;
  const std::vector<uint8_t> data = Pattern(65536, 41);
  static std::vector<uint8_t> back(1 << 20);
  uint16_t status = 0;
  LARGE_INTEGER a, b, c;
  QueryPerformanceCounter(&a);
  const int16_t w = Lib.XQUIB_Write(h, 1, 5, 65536, data.data(), &status);
  QueryPerformanceCounter(&b);
  const int16_t r = Lib.XQUIB_ReadAllEx(h, back.data(), static_cast<uint32_t>(back.size()),
                                        &timing->read_total, &status, nullptr, nullptr);
  QueryPerformanceCounter(&c);
  Lib.QUIB_Close(h);
  timing->write_ms = MsBetween(a, b);
  timing->read_ms = MsBetween(b, c);
  return w == 0 && r == 0;
}

// Direct and through the server in turns, twice each; the better of each
// path counts.
void Throughput() {
  if (!Bench) return Skip("no --bench");
  if (DirectPort < 0) return Skip("no --direct port given");
  const std::string direct = "COM" + std::to_string(DirectPort + 1);
  Timing best[2];
  for (int round = 0; round < 2; ++round) {
    for (int path = 0; path < 2; ++path) {
      Timing t;
      REQUIRE(Measure(path == 0 ? direct : Rfc2217Url, &t));
      printf("  %s: write %.0f ms, ReadAll %.0f ms (%d bytes)\n",
             path == 0 ? direct.c_str() : "rfc2217", t.write_ms, t.read_ms, t.read_total);
      if (round == 0 || t.write_ms < best[path].write_ms) best[path].write_ms = t.write_ms;
      if (round == 0 || t.read_ms < best[path].read_ms) best[path].read_ms = t.read_ms;
      best[path].read_total = t.read_total;
    }
  }
  printf("  write: direct %.1f B/s, rfc2217 %.1f B/s, share %.1f%%\n",
         65536000.0 / best[0].write_ms, 65536000.0 / best[1].write_ms,
         100.0 * best[0].write_ms / best[1].write_ms);
  printf("  ReadAll: direct %.1f B/s, rfc2217 %.1f B/s, share %.1f%%\n",
         1000.0 * best[0].read_total / best[0].read_ms,
         1000.0 * best[1].read_total / best[1].read_ms, 100.0 * best[0].read_ms / best[1].read_ms);
  CHECK_EQ(best[0].read_total, best[1].read_total);
}

}  // namespace

int main(int argc, char **argv) {
  const auto text = [](std::string *to) { return [to](const char *value) { *to = value; }; };
  const char *filter =
      ReadOptions(argc, argv,
                  {{"--dll", [](const char *value) { DllPath = value; }},
                   {"--rfc2217", text(&Rfc2217Url)},
                   {"--raw", text(&RawUrl)},
                   {"--spare", text(&SpareUrl)},
                   {"--closed", text(&ClosedUrl)},
                   {"--kill", text(&KillCommand)},
                   {"--direct", [](const char *value) { DirectPort = atoi(value); }},
                   {"--bench", [](const char *) { Bench = true; }, false}});
  if (Rfc2217Url.empty() || RawUrl.empty() || SpareUrl.empty() || ClosedUrl.empty() ||
      KillCommand.empty()) {
    printf(
        "usage: quiblink-net-test.exe --dll PATH --rfc2217 URL --raw URL --spare URL "
        "--closed URL --kill COMMAND [--direct N] [--bench] [filter]\n0 passed, 1 failed\n");
    return 2;
  }
  std::vector<std::string> missing;
  if (!LoadQuib(DllPath, &Lib, &missing)) {
    printf("cannot use %s (error %lu)\n0 passed, 1 failed\n", DllPath, GetLastError());
    return 1;
  }
  // The kill comes last: it ends the first server.
  const std::vector<Case> cases = {
      {"network: every byte value over rfc2217:// and tcp://", EveryByteOverEachKindOfUrl},
      {"network: refusals give Windows' reasons", RefusalsGiveTheirReasons},
      {"network: a busy server refuses a second client", ABusyServerRefusesTheSecondClient},
      {"network: throughput against the direct line", Throughput},
      {"network: a server killed in a transfer", AServerKilledInATransfer},
  };
  const int failed = RunCases(cases, filter);
  UnloadQuib(&Lib);
  return failed == 0 ? 0 : 1;
}
