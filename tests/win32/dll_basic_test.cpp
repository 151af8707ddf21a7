// The DLL without a terminal: its export table, the state after attach, the
// argument checks of every export, a device that does not open, and the
// loader's calls of the entry point.
#include <algorithm>

#include "dll_fixture.h"

namespace wintest {

namespace {

void ExportTableIsExactlyTheExportNames() {
  std::vector<std::string> expected = ExportNames();
  std::vector<std::string> actual = ExportedNames(Lib.Module);
  std::sort(expected.begin(), expected.end());
  std::sort(actual.begin(), actual.end());
  for (const std::string &name : expected) {
    if (!std::binary_search(actual.begin(), actual.end(), name))
      Fail(__FILE__, __LINE__, "not exported: " + name);
  }
  for (const std::string &name : actual) {
    if (!std::binary_search(expected.begin(), expected.end(), name))
      Fail(__FILE__, __LINE__, "exported beyond the headers: " + name);
  }
  // No spelling of another width's convention resolves.
#if defined(_WIN64)
  for (const char *name : {"_QUIB_Open@8", "QUIB_Open@8", "_XQUIB_ReadAll@16", "_QUIB_Open"}) {
#else
  for (const char *name : {"QUIB_Open", "QUIB_Open@8", "XQUIB_ReadAll", "_QUIB_Open"}) {
#endif
    CHECK(GetProcAddress(Lib.Module, name) == nullptr);
  }
}

void VersionIs211() {
  CHECK_EQ(Lib.QUIB_Version(), 211);
}

void EverySlotIsFreeAfterAttach() {
  for (uint16_t handle = 0; handle < 32; ++handle) CHECK_EQ(Lib.QUIB_Close(handle), -1);
  // Handles beyond the table are refused without touching it.
  CHECK(Lib.QUIB_Close(32) < 0);
  CHECK(Lib.QUIB_Close(0xFFFF) < 0);
}

void OpenRefusesPortsAboveNine() {
  for (uint16_t port : {10, 11, 0x00FF, 0xFFFF}) {
    CHECK_EQ(Lib.QUIB_Open(port, 0), RC_BAD_PORT);
    CHECK_EQ(Lib.XQUIB_Open(port, 9600, 0), RC_BAD_PORT);
  }
  CHECK_EQ(Lib.QUIB_Close(0), -1);
}

// Every operation that takes a channel, with a handle beyond the table and
// with a free slot: its arguments cross the stdcall frame to the right checks.
struct ChannelRow {
  const char *name;
  int16_t (*call)(uint16_t handle);
};

uint8_t Scratch[4096];
int32_t Total;
uint16_t Status;
uint32_t Value1, Value2;
int32_t Mem1, Mem2, Mem3;
uint16_t NameLength;
QUIB_GroupEntry Groups[4];
uint32_t GroupCount;

const ChannelRow kChannelRows[] = {
    {"QUIB_Read", [](uint16_t h) { return Lib.QUIB_Read(h, 0, 0x100, Scratch, 4); }},
    {"QUIB_Write", [](uint16_t h) { return Lib.QUIB_Write(h, 0, 0x100, 4, Scratch); }},
    {"XQUIB_ReadAll", [](uint16_t h) { return Lib.XQUIB_ReadAll(h, Scratch, &Total, &Status); }},
    {"XQUIB_Read1G", [](uint16_t h) { return Lib.XQUIB_Read1G(h, 1, Scratch, &Total, &Status); }},
    {"XQUIB_Read", [](uint16_t h) { return Lib.XQUIB_Read(h, 3, Scratch, &Total, &Status); }},
    {"XQUIB_Write", [](uint16_t h) { return Lib.XQUIB_Write(h, 3, 0, 16, Scratch, &Status); }},
    {"XQUIB_OSInstl",
     [](uint16_t h) { return Lib.XQUIB_OSInstl(h, 0x61, 0x00, 16, Scratch, &Status); }},
    {"XQUIB_Start", [](uint16_t h) { return Lib.XQUIB_Start(h); }},
    {"XQUIB_Offline", [](uint16_t h) { return Lib.XQUIB_Offline(h, &Status); }},
    {"XQUIB_SWReset", [](uint16_t h) { return Lib.XQUIB_SWReset(h, &Status); }},
    {"XQUIB_Reset", [](uint16_t h) { return Lib.XQUIB_Reset(h, &Status); }},
    {"XQUIB_Break", [](uint16_t h) { return Lib.XQUIB_Break(h, &Status); }},
    {"XQUIB_GetMemData",
     [](uint16_t h) { return Lib.XQUIB_GetMemData(h, &Mem1, &Mem2, &Mem3, &Status); }},
    {"XQUIB_GetOsInfo",
     [](uint16_t h) { return Lib.XQUIB_GetOsInfo(h, &Value1, &Value2, &Status); }},
    {"XQUIB_GetProjInfo",
     [](uint16_t h) {
       return Lib.XQUIB_GetProjInfo(h, &Value1, &Value2, Scratch, &NameLength, &Status);
     }},
    {"XQUIB_DelUserData", [](uint16_t h) { return Lib.XQUIB_DelUserData(h, &Status); }},
    {"XQUIB_CheckPassword",
     [](uint16_t h) { return Lib.XQUIB_CheckPassword(h, Scratch, 4, &Status); }},
    {"XQUIB_GetKEWType", [](uint16_t h) { return Lib.XQUIB_GetKEWType(h, &Value1, &Status); }},
    {"XQUIB_BrateChange", [](uint16_t h) { return Lib.XQUIB_BrateChange(h, 0x81, &Status); }},
    {"XQUIB_ReadAllEx",
     [](uint16_t h) {
       return Lib.XQUIB_ReadAllEx(h, Scratch, sizeof Scratch, &Total, &Status, nullptr, nullptr);
     }},
    {"XQUIB_Read1GEx",
     [](uint16_t h) {
       return Lib.XQUIB_Read1GEx(h, 1, Scratch, sizeof Scratch, &Total, &Status, nullptr, nullptr);
     }},
    {"XQUIB_ReadEx",
     [](uint16_t h) {
       return Lib.XQUIB_ReadEx(h, 3, Scratch, sizeof Scratch, &Total, &Status, nullptr, nullptr);
     }},
    {"XQUIB_WriteEx",
     [](uint16_t h) { return Lib.XQUIB_WriteEx(h, 3, 0, 16, Scratch, &Status, nullptr, nullptr); }},
    {"XQUIB_OSInstlEx",
     [](uint16_t h) {
       return Lib.XQUIB_OSInstlEx(h, 0x61, 0x00, 16, Scratch, &Status, nullptr, nullptr);
     }},
    {"QUIB_CancelTransfer", [](uint16_t h) { return Lib.QUIB_CancelTransfer(h); }},
    {"XQUIB_ReadAllGroups",
     [](uint16_t h) {
       return Lib.XQUIB_ReadAllGroups(h, Scratch, sizeof Scratch, &Total, Groups, 4, &GroupCount,
                                      &Status, 0, nullptr, nullptr);
     }},
};

void OperationsRefuseBadAndFreeHandles() {
  for (const ChannelRow &row : kChannelRows) {
    int16_t beyond = row.call(32);
    int16_t free_slot = row.call(5);
    if (beyond != RC_BAD_ARGUMENT || free_slot != RC_NOT_OPEN) {
      Fail(__FILE__, __LINE__,
           std::string(row.name) + ": handle 32 gave " + std::to_string(beyond) +
               ", free handle 5 gave " + std::to_string(free_slot));
    }
  }
}

void MissingDeviceFailsOpen() {
  if (MissingPort < 0) return Skip("no --missing port given");
  Log.Start();
  CHECK_EQ(Lib.QUIB_Open(static_cast<uint16_t>(MissingPort), 0), -1);
  CHECK_EQ(Lib.XQUIB_Open(static_cast<uint16_t>(MissingPort), 38400, 0), -1);
  Log.Stop();
  CHECK_EQ(Log.Count("COM open NG!\n"), 2);
  CHECK_EQ(Log.Count("COM open OK!\n"), 0);
  CHECK_EQ(Lib.QUIB_Close(0), -1);  // no slot was taken
}

// With message boxes off, a device that does not open shows no box: its
// text is one trace line.
void MessageBoxTextsGoToTheTrace() {
  if (MissingPort < 0) return Skip("no --missing port given");
  Lib.QUIB_SetMessageBoxes(0);
  Log.Start();
  CHECK_EQ(Lib.QUIB_Open(static_cast<uint16_t>(MissingPort), 0), -1);
  Log.Stop();
  Lib.QUIB_SetMessageBoxes(1);
  CHECK_EQ(Log.Count("Error opening COM port hComm\n"), 1);
  CHECK_EQ(Log.Count("COM open NG!\n"), 1);
}

DWORD WINAPI QuietThread(LPVOID) {
  return 0;
}

// Every thread that starts and ends in the process passes through the
// library's entry point, under the loader's lock: its lines go to the
// debugger output only, never to the caller's trace handler (a managed
// caller's handler cannot run there).
void ThreadsPassThroughTheEntryPointWithoutTheHandler() {
  Log.Start();
  HANDLE t = CreateThread(nullptr, 0, QuietThread, nullptr, 0, nullptr);
  REQUIRE(t != nullptr);
  CHECK_EQ(WaitForSingleObject(t, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(t);
  Log.Stop();
  CHECK_EQ(Log.Count("DLL_THREAD_ATTACH\n"), 0);
  CHECK_EQ(Log.Count("DLL_THREAD_DETACH\n"), 0);
  char line[64];
  wsprintfA(line, "GetHandle=%08X\n", static_cast<unsigned>(GetCurrentProcessId()));
  CHECK_EQ(Log.Count(line), 0);
  wsprintfA(line, "Handle = %08X\n",
            static_cast<unsigned>(reinterpret_cast<uintptr_t>(Lib.Module)));
  CHECK_EQ(Log.Count(line), 0);
}

}  // namespace

std::vector<Case> BasicCases() {
  return {
      {"exports: exactly the exported names of the headers", ExportTableIsExactlyTheExportNames},
      {"version: 211", VersionIs211},
      {"attach: every slot is free, close gives -1", EverySlotIsFreeAfterAttach},
      {"open: ports above 9 give -33", OpenRefusesPortsAboveNine},
      {"operations: handle 32 gives -2, a free handle -3", OperationsRefuseBadAndFreeHandles},
      {"open: a device that does not open gives -1", MissingDeviceFailsOpen},
      {"message boxes off: their texts go to the trace", MessageBoxTextsGoToTheTrace},
      {"entry point: thread attach and detach never reach the trace handler",
       ThreadsPassThroughTheEntryPointWithoutTheHandler},
  };
}

}  // namespace wintest
