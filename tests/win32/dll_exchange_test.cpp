// Whole exchanges through the DLL and the Win32 serial calls, against
// terminal simulators on pseudo-terminals that wine serves as COM ports.
#include <string.h>

#include "dll_fixture.h"

namespace wintest {

namespace {

uint16_t Port(int index) {
  return static_cast<uint16_t>(index);
}

// ---- Classic panels ------------------------------------------------------

void ClassicReadWrite() {
  if (ClassicPort < 0) return Skip("no --classic port given");
  int16_t h = Lib.QUIB_Open(Port(ClassicPort), 0);
  REQUIRE(h >= 0);

  std::vector<uint8_t> got(kClassicPoked.size(), 0xCC);
  CHECK_EQ(Lib.QUIB_Read(h, 0, kClassicPokedAddress, got.data(), static_cast<uint16_t>(got.size())),
           0);
  CHECK(got == kClassicPoked);

  // 100 bytes take two frames each way.
  std::vector<uint8_t> data = Pattern(100, 3);
  CHECK_EQ(Lib.QUIB_Write(h, 0, 0x300, static_cast<uint16_t>(data.size()), data.data()), 0);
  std::vector<uint8_t> back(data.size(), 0xCC);
  CHECK_EQ(Lib.QUIB_Read(h, 0, 0x300, back.data(), static_cast<uint16_t>(back.size())), 0);
  CHECK(back == data);
  CHECK_EQ(Lib.QUIB_Close(h), 0);
}

// Channels of both families share one port; the port opens once, each close
// frees its own slot, and the last close releases the port.
void ClassicChannelsShareThePort() {
  if (ClassicPort < 0) return Skip("no --classic port given");
  Log.Start();
  int16_t a = Lib.QUIB_Open(Port(ClassicPort), 0);
  int16_t b = Lib.XQUIB_Open(Port(ClassicPort), 38400, 0);
  CHECK_EQ(a, 0);
  CHECK_EQ(b, 1);
  CHECK_EQ(Log.Count("COM open OK!\n"), 1);

  // Each channel answers its own family's calls only, whatever opened the port.
  uint8_t got[6];
  CHECK_EQ(Lib.QUIB_Read(b, 0, kClassicPokedAddress, got, 6), -2);
  CHECK_EQ(Lib.QUIB_Read(a, 0, kClassicPokedAddress, got, 6), 0);  // line stays 9600 7E1
  CHECK_EQ(Lib.QUIB_Close(0), 0);
  CHECK_EQ(Lib.QUIB_Close(0), -1);

  // The port stays open for b: a new classic channel reads through it.
  int16_t c = Lib.QUIB_Open(Port(ClassicPort), 0);
  CHECK_EQ(c, 0);  // the lowest free slot again
  CHECK_EQ(Log.Count("COM open OK!\n"), 1);
  memset(got, 0, sizeof got);
  CHECK_EQ(Lib.QUIB_Read(c, 0, kClassicPokedAddress, got, 6), 0);
  CHECK(memcmp(got, kClassicPoked.data(), 6) == 0);
  CHECK_EQ(Lib.QUIB_Close(1), 0);
  CHECK_EQ(Lib.QUIB_Close(0), 0);
  Log.Stop();

  // The port was released: the next open opens the device again.
  Log.Start();
  int16_t d = Lib.QUIB_Open(Port(ClassicPort), 0);
  CHECK_EQ(d, 0);
  CHECK_EQ(Log.Count("COM open OK!\n"), 1);
  CHECK_EQ(Lib.QUIB_Close(0), 0);
  Log.Stop();
}

// ---- Graphic terminals ---------------------------------------------------

void GraphicQueries() {
  if (GraphicPort < 0) return Skip("no --graphic port given");
  int16_t h = Lib.XQUIB_Open(Port(GraphicPort), 38400, 0);
  REQUIRE(h >= 0);
  uint16_t status = 0xBEEF;
  uint32_t type = 0;
  CHECK_EQ(Lib.XQUIB_GetKEWType(h, &type, &status), 0);
  CHECK_EQ(type, kGraphicType);
  CHECK_EQ(status, 0);

  status = 0xBEEF;
  CHECK_EQ(Lib.XQUIB_CheckPassword(h, reinterpret_cast<const uint8_t *>(kGraphicPassword.data()),
                                   static_cast<uint16_t>(kGraphicPassword.size()), &status),
           0);
  CHECK_EQ(status, 0);
  status = 0;
  CHECK_EQ(Lib.XQUIB_CheckPassword(h, reinterpret_cast<const uint8_t *>("0000"), 4, &status),
           RC_TERMINAL_ERROR);
  CHECK(status != 0);

  uint32_t first = 0, second = 0;
  uint8_t name[256] = {};
  uint16_t name_length = 0;
  CHECK_EQ(Lib.XQUIB_GetProjInfo(h, &first, &second, name, &name_length, &status), 0);
  CHECK_EQ(name_length, static_cast<uint16_t>(kGraphicProject.size()));
  CHECK(std::string(reinterpret_cast<char *>(name), name_length) == kGraphicProject);

  CHECK_EQ(Lib.XQUIB_GetOsInfo(h, &first, &second, &status), 0);
  int32_t m1, m2, m3;
  CHECK_EQ(Lib.XQUIB_GetMemData(h, &m1, &m2, &m3, &status), 0);
  CHECK_EQ(Lib.XQUIB_Offline(h, &status), 0);
  CHECK_EQ(Lib.QUIB_Close(h), 0);
}

void GraphicBlocks() {
  if (GraphicPort < 0) return Skip("no --graphic port given");
  int16_t h = Lib.XQUIB_Open(Port(GraphicPort), 38400, 0);
  REQUIRE(h >= 0);
  static uint8_t buffer[65536];
  int32_t total = -1;
  uint16_t status = 0xBEEF;

  CHECK_EQ(Lib.XQUIB_Read(h, 3, buffer, &total, &status), 0);
  REQUIRE(total == static_cast<int32_t>(kGraphicArea3.size()));
  CHECK(memcmp(buffer, kGraphicArea3.data(), kGraphicArea3.size()) == 0);

  // 3000 bytes: several chunks each way.
  std::vector<uint8_t> data = Pattern(3000, 11);
  CHECK_EQ(Lib.XQUIB_Write(h, 4, 0, static_cast<uint32_t>(data.size()), data.data(), &status), 0);
  CHECK_EQ(status, 0);
  total = -1;
  CHECK_EQ(Lib.XQUIB_Read(h, 4, buffer, &total, &status), 0);
  REQUIRE(total == 3000);
  CHECK(memcmp(buffer, data.data(), data.size()) == 0);

  std::vector<uint8_t> group = Pattern(700, 29);
  CHECK_EQ(Lib.XQUIB_Write(h, 1, 2, static_cast<uint32_t>(group.size()), group.data(), &status), 0);
  total = -1;
  CHECK_EQ(Lib.XQUIB_Read1G(h, 2, buffer, &total, &status), 0);
  REQUIRE(total == 700);
  CHECK(memcmp(buffer, group.data(), group.size()) == 0);

  // A sized read into a buffer too small stops before its end.
  memset(buffer, 0xCC, sizeof buffer);
  CHECK_EQ(Lib.XQUIB_Read1GEx(h, 2, buffer, 100, &total, &status, nullptr, nullptr),
           RC_BUFFER_TOO_SMALL);
  CHECK_EQ(buffer[100], 0xCC);
  CHECK_EQ(Lib.QUIB_Close(h), 0);
}

// Two threads, each with its own channel on one port: the port serves their
// requests one at a time and each gets its own answers.
struct Worker {
  int16_t handle;
  int failures;
};

DWORD WINAPI QueryMany(LPVOID p) {
  Worker *w = static_cast<Worker *>(p);
  static uint8_t buffers[2][4096];
  uint8_t *buffer = buffers[w->handle & 1];
  for (int i = 0; i < 15; ++i) {
    uint32_t type = 0;
    uint16_t status = 0xBEEF;
    if (Lib.XQUIB_GetKEWType(w->handle, &type, &status) != 0 || type != kGraphicType) {
      ++w->failures;
    }
    int32_t total = -1;
    if (Lib.XQUIB_Read(w->handle, 3, buffer, &total, &status) != 0 ||
        total != static_cast<int32_t>(kGraphicArea3.size()) ||
        memcmp(buffer, kGraphicArea3.data(), kGraphicArea3.size()) != 0) {
      ++w->failures;
    }
  }
  return 0;
}

void GraphicTwoThreadsOnOnePort() {
  if (GraphicPort < 0) return Skip("no --graphic port given");
  Worker workers[2] = {{Lib.XQUIB_Open(Port(GraphicPort), 38400, 0), 0},
                       {Lib.XQUIB_Open(Port(GraphicPort), 38400, 0), 0}};
  REQUIRE(workers[0].handle == 0 && workers[1].handle == 1);
  HANDLE threads[2];
  for (int i = 0; i < 2; ++i) {
    threads[i] = CreateThread(nullptr, 0, QueryMany, &workers[i], 0, nullptr);
    REQUIRE(threads[i] != nullptr);
  }
  CHECK_EQ(WaitForMultipleObjects(2, threads, TRUE, 120000), static_cast<DWORD>(WAIT_OBJECT_0));
  for (int i = 0; i < 2; ++i) {
    CloseHandle(threads[i]);
    CHECK_EQ(workers[i].failures, 0);
  }
  CHECK_EQ(Lib.QUIB_Close(0), 0);
  CHECK_EQ(Lib.QUIB_Close(1), 0);
}

// A terminal whose replies are wrong: the result codes come back through the
// DLL, a refused reply costs three attempts, and a terminal's status reaches
// the caller.
void GraphicFaultsReachTheCaller() {
  if (FaultPort < 0) return Skip("no --fault port given");
  int16_t h = Lib.XQUIB_Open(Port(FaultPort), 38400, 0);
  REQUIRE(h >= 0);
  Log.Start();
  uint32_t type = 0xABCD;
  uint16_t status = 0xBEEF;
  CHECK_EQ(Lib.XQUIB_GetKEWType(h, &type, &status), RC_CHECKSUM);
  CHECK_EQ(type, 0xABCDu);
  CHECK_EQ(status, 0xBEEF);
  CHECK_EQ(Log.Count("Rx Failed\n"), 3);
  Log.Stop();

  CHECK_EQ(Lib.XQUIB_Offline(h, &status), RC_TERMINAL_ERROR);
  CHECK_EQ(status, kFaultStatus);
  CHECK_EQ(Lib.QUIB_Close(h), 0);
}

// ---- Unload --------------------------------------------------------------

DWORD WINAPI Unload(LPVOID module) {
  FreeLibrary(static_cast<HMODULE>(module));
  return 0;
}

// Unloading the DLL while a channel is open closes the channel and ends its
// port worker without hanging in the loader; a fresh load starts with every
// slot free and serves the port again.
void UnloadWithAnOpenChannel() {
  if (GraphicPort < 0) return Skip("no --graphic port given");
  int16_t h = Lib.XQUIB_Open(Port(GraphicPort), 38400, 0);
  REQUIRE(h == 0);
  uint32_t type = 0;
  uint16_t status = 0;
  CHECK_EQ(Lib.XQUIB_GetKEWType(h, &type, &status), 0);

  HANDLE t = CreateThread(nullptr, 0, Unload, Lib.Module, 0, nullptr);
  REQUIRE(t != nullptr);
  DWORD waited = WaitForSingleObject(t, 30000);
  CloseHandle(t);
  REQUIRE(waited == WAIT_OBJECT_0);
  Lib = Quib();

  REQUIRE(Reload());
  CHECK_EQ(Lib.QUIB_Close(0), -1);
  h = Lib.XQUIB_Open(Port(GraphicPort), 38400, 0);
  CHECK_EQ(h, 0);
  type = 0;
  CHECK_EQ(Lib.XQUIB_GetKEWType(h, &type, &status), 0);
  CHECK_EQ(type, kGraphicType);
  CHECK_EQ(Lib.QUIB_Close(h), 0);
}

}  // namespace

// A port index mapped to COM17 (which scripts/check_dll.sh maps to the
// graphic terminal) reaches it under either spelling, from the next open on;
// NULL gives the index its own port back.
void MappedPortReachesCom17() {
  if (GraphicPort < 0) return Skip("no --graphic port given");
  const uint16_t port = 5;  // COM6: no device behind it
  for (const char *device : {"COM17", "\\\\.\\COM17"}) {
    REQUIRE(Lib.QUIB_SetPortDevice(port, device) == 0);
    int16_t h = Lib.XQUIB_Open(port, 38400, 0);
    REQUIRE(h == 0);
    uint32_t type = 0;
    uint16_t status = 0xBEEF;
    CHECK_EQ(Lib.XQUIB_GetKEWType(h, &type, &status), 0);
    CHECK_EQ(type, kGraphicType);
    CHECK_EQ(Lib.QUIB_Close(h), 0);
  }
  CHECK_EQ(Lib.QUIB_SetPortDevice(10, "COM17"), RC_BAD_PORT);
  CHECK_EQ(Lib.QUIB_SetPortDevice(port, ""), RC_BAD_ARGUMENT);
  REQUIRE(Lib.QUIB_SetPortDevice(port, nullptr) == 0);
  Lib.QUIB_SetMessageBoxes(0);
  CHECK_EQ(Lib.XQUIB_Open(port, 38400, 0), -1);
  Lib.QUIB_SetMessageBoxes(1);
}

std::vector<Case> ExchangeCases() {
  return {
      {"classic: read what the panel holds, write and read back", ClassicReadWrite},
      {"classic: channels of both families share one port", ClassicChannelsShareThePort},
      {"graphic: queries and the password check", GraphicQueries},
      {"graphic: block writes and reads come back whole", GraphicBlocks},
      {"graphic: two threads share one port", GraphicTwoThreadsOnOnePort},
      {"graphic: wrong replies give their result codes", GraphicFaultsReachTheCaller},
      {"port device: an index mapped to COM17 reaches its terminal", MappedPortReachesCom17},
      {"unload: an open channel does not hold up the loader", UnloadWithAnOpenChannel},
  };
}

}  // namespace wintest
