// What the DLL test cases share: the loaded library, the ports the
// simulators serve, and a trace log fed by the library's trace handler.
//
// scripts/check_dll.sh sets up the far ends the cases expect: a classic panel
// of model code 0 holding kClassicPoked at kClassicPokedAddress, a graphic
// terminal of type kGraphicType with password kGraphicPassword, project name
// kGraphicProject and kGraphicArea3 in area 3, and a second graphic terminal
// that answers every type query with a bad checksum and every offline
// command with status kFaultStatus.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "check.h"
#include "dll_calls.h"

namespace wintest {

extern Quib Lib;
extern const char *DllPath;
extern int ClassicPort;
extern int GraphicPort;
extern int FaultPort;
extern int MissingPort;

constexpr int32_t kClassicPokedAddress = 0x100;
const std::vector<uint8_t> kClassicPoked = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02};
constexpr uint32_t kGraphicType = 7;
const std::string kGraphicPassword = "1234";
const std::string kGraphicProject = "WINE";
const std::vector<uint8_t> kGraphicArea3 = {0x10, 0x20, 0x30, 0x40, 0x00, 0xFF, 0x7E, 0x02};
constexpr uint16_t kFaultStatus = 0x05;

// Trace texts the library writes while it is installed as the handler.
class TraceLog {
 public:
  TraceLog();
  void Start();  // clears the log and installs the handler
  void Stop();   // removes the handler
  int Count(const std::string &text);

 private:
  static void QUIB_CALL Collect(const char *text, void *user);
  CRITICAL_SECTION lock_;
  std::vector<std::string> texts_;
};
extern TraceLog Log;

// Unloads and loads the DLL again; false when it cannot be loaded whole.
bool Reload();

// Bytes 0..n-1 of a pattern that differs from one seed to the next.
std::vector<uint8_t> Pattern(size_t n, uint8_t seed);

std::vector<Case> BasicCases();
std::vector<Case> ExchangeCases();

}  // namespace wintest
