// Channel open and close: slots, ports, line settings, set-up failures that
// leave nothing behind, and the end of the workers at close and unload.
#include <stdlib.h>

#include <string>

#include "engine/channels.h"
#include "engine_support.h"
#include "quiblink/quiblink_ext.h"

namespace {

using namespace enginetest;

using Boxes = std::vector<std::pair<std::string, std::string>>;

class ChannelsTest : public LibraryTest {};

TEST_F(ChannelsTest, APortAboveNineIsRefusedAndNothingChanges) {
  EXPECT_EQ(QUIB_Open(10, 1), RC_BAD_PORT);
  EXPECT_EQ(XQUIB_Open(0xFFFF, 9600, 1), RC_BAD_PORT);
  for (const quib::HandleEntry &h : quib::State.Handles) EXPECT_EQ(h.Port, -1);
  EXPECT_TRUE(fake::DebugTexts().empty());
}

TEST_F(ChannelsTest, ZeroBaudIsRefusedAndOpensNothing) {
  EXPECT_EQ(XQUIB_Open(2, 0, 1), RC_BAD_ARGUMENT);
  EXPECT_EQ(fake::LineOfPort(2).OpenCalls(), 0);
  EXPECT_EQ(quib::State.Ports[2].OpenCount, -1);
  EXPECT_EQ(quib::State.Handles[0].Port, -1);
}

// The rate programs the line only at a port's first open: on an open port any
// rate, 0 too, adds a channel as it is, and a full table is -32 as for others.
TEST_F(ChannelsTest, ZeroBaudOnAnOpenPortAddsAChannel) {
  ASSERT_EQ(XQUIB_Open(2, 38400, 1), 0);
  EXPECT_EQ(XQUIB_Open(2, 0, 1), 1);
  EXPECT_EQ(quib::State.Ports[2].OpenCount, 2);
  EXPECT_EQ(quib::State.Ports[2].BaudRate, 38400u) << "the line keeps its rate";
  EXPECT_EQ(fake::LineOfPort(2).OpenCalls(), 1);
  for (int h = 2; h < 32; ++h) ASSERT_EQ(XQUIB_Open(2, 9600, 1), h);
  EXPECT_EQ(XQUIB_Open(2, 0, 1), RC_SEQUENCE) << "no free slot";
  EXPECT_EQ(QUIB_Close(1), RC_OK);
  EXPECT_EQ(XQUIB_Open(3, 0, 1), RC_BAD_ARGUMENT) << "a closed port is still refused";
  EXPECT_EQ(fake::LineOfPort(3).OpenCalls(), 0);
  EXPECT_EQ(quib::State.Handles[1].Port, -1) << "the refused open keeps no slot";
  for (int h = 0; h < 32; ++h) {
    if (h == 1) continue;
    EXPECT_EQ(QUIB_Close(static_cast<uint16_t>(h)), RC_OK);
  }
  EXPECT_EQ(quib::State.Ports[2].OpenCount, -1);
}

TEST_F(ChannelsTest, TwoOpensShareOneDeviceUntilTheLastClose) {
  const int live = SettledWorkers();
  EXPECT_EQ(QUIB_Open(0, 7), 0);
  EXPECT_EQ(QUIB_Open(0, 8), 1);
  fake::Line &line = fake::LineOfPort(0);
  EXPECT_EQ(line.OpenCalls(), 1);
  EXPECT_EQ(quib::State.Ports[0].OpenCount, 2);
  EXPECT_EQ(fake::LiveThreads(), live + 1);
  EXPECT_EQ(quib::State.Handles[1].OwnerProcessId, plat::CurrentProcessId());

  EXPECT_EQ(QUIB_Close(0), RC_OK);
  EXPECT_TRUE(line.IsOpen());
  EXPECT_EQ(quib::State.Ports[0].OpenCount, 1);
  EXPECT_EQ(quib::State.Handles[0].OwnerProcessId, 0u);
  EXPECT_EQ(QUIB_Open(0, 9), 0) << "the lowest free slot is taken again";
  EXPECT_EQ(QUIB_Close(0), RC_OK);

  EXPECT_EQ(QUIB_Close(1), RC_OK);
  EXPECT_FALSE(line.IsOpen());
  EXPECT_FALSE(fake::SemaphoreExists("PortSema0"));
  EXPECT_FALSE(fake::SemaphoreExists("RxSema0"));
  EXPECT_EQ(fake::LiveThreads(), live) << "close returns after the worker has ended";
  EXPECT_EQ(quib::WorkerThreadId[0], 0u) << "the worker's exit code";
  const quib::PortRecord &p = quib::State.Ports[0];
  EXPECT_EQ(p.OpenCount, -1);
  EXPECT_EQ(p.CommHandle, plat::kInvalid);
  EXPECT_EQ(p.OpenerThread, 0xFFFFFFFFu);
  EXPECT_EQ(p.OpenerProcessId, 0u);
  EXPECT_EQ(QUIB_Close(1), RC_PORT_OPEN_FAILED) << "closing twice";
}

TEST_F(ChannelsTest, HandlesOfThirtyTwoAndAboveAreNotChannels) {
  EXPECT_EQ(QUIB_Close(32), RC_PORT_OPEN_FAILED);
  EXPECT_EQ(QUIB_Close(0xFFFF), RC_PORT_OPEN_FAILED);
}

TEST_F(ChannelsTest, TheFirstOpenOpensTheDeviceAndProgramsTheLine) {
  EXPECT_EQ(QUIB_Open(3, 0x1234), 0);
  fake::Line &line = fake::LineOfPort(3);
  plat::LineSettings s = line.Settings();
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 7);
  EXPECT_EQ(s.Parity, plat::kParityEven);
  EXPECT_EQ(s.StopBits, plat::kOneStopBit);
  EXPECT_TRUE(s.Binary);
  EXPECT_TRUE(s.ParityCheck);
  EXPECT_FALSE(s.OutxCtsFlow || s.OutxDsrFlow || s.DsrSensitivity || s.TxContinueOnXoff || s.OutX ||
               s.InX || s.ErrorChar || s.Null || s.AbortOnError);
  EXPECT_EQ(s.RtsControl, plat::kRtsEnable);
  EXPECT_EQ(s.DtrControl, 1) << "kept as the device had it";
  EXPECT_EQ(line.InBufferSize(), 2048u);
  EXPECT_EQ(line.OutBufferSize(), 2048u);
  const quib::PortRecord &p = quib::State.Ports[3];
  EXPECT_EQ(p.ModelCode, 0x1234);
  EXPECT_EQ(p.QuietTime, 5);
  EXPECT_EQ(p.OpenerProcessId, plat::CurrentProcessId());
  std::vector<std::string> traces = fake::DebugTexts();
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[0].rfind("OpenThreadHandle = ", 0), 0u);
  EXPECT_EQ(traces[1], "COM open OK!\n");
  EXPECT_TRUE(fake::SemaphoreExists("PortSema3"));
  EXPECT_TRUE(fake::SemaphoreExists("RxSema3"));
}

TEST_F(ChannelsTest, PortNineIsTheDeviceCom10) {
  EXPECT_EQ(XQUIB_Open(9, 38400, 0), 0);
  EXPECT_TRUE(fake::LineNamed("\\\\.\\COM10").IsOpen());
  EXPECT_EQ(fake::LineNamed("\\\\.\\COM10").Settings().BaudRate, 38400u);
}

struct SettingsRow {
  const char *name;
  bool classic_first;
  uint32_t baud;
  uint8_t data_bits;
};

using KeptSettingsTest = LibraryRowTest<SettingsRow>;

TEST_P(KeptSettingsTest, ALaterOpenOfTheOtherFamilyKeepsTheFirstSettings) {
  const SettingsRow &row = GetParam();
  int16_t first = row.classic_first ? QUIB_Open(1, 11) : XQUIB_Open(1, 19200, 11);
  int16_t second = row.classic_first ? XQUIB_Open(1, 19200, 22) : QUIB_Open(1, 22);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  plat::LineSettings s = fake::LineOfPort(1).Settings();
  EXPECT_EQ(s.BaudRate, row.baud);
  EXPECT_EQ(s.ByteSize, row.data_bits);
  const quib::PortRecord &p = quib::State.Ports[1];
  EXPECT_EQ(p.BaudRate, row.baud);
  EXPECT_EQ(p.DataBits, row.data_bits);
  EXPECT_EQ(p.ModelCode, 11);
  EXPECT_EQ(fake::LineOfPort(1).OpenCalls(), 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, KeptSettingsTest,
                         ::testing::Values(SettingsRow{"ClassicThenGraphic", true, 9600, 7},
                                           SettingsRow{"GraphicThenClassic", false, 19200, 8}),
                         [](const ::testing::TestParamInfo<SettingsRow> &info) {
                           return std::string(info.param.name);
                         });

TEST_F(ChannelsTest, ThirtyTwoChannelsFillTheTableAndTheNextOpenChangesNothing) {
  for (int16_t h = 0; h < 32; ++h) ASSERT_EQ(QUIB_Open(static_cast<uint16_t>(h % 4), 0), h);
  EXPECT_EQ(QUIB_Open(5, 0), RC_SEQUENCE);
  EXPECT_EQ(QUIB_Open(0, 0), RC_SEQUENCE);
  EXPECT_EQ(fake::LineOfPort(5).OpenCalls(), 0);
  for (int port = 0; port < 4; ++port) EXPECT_EQ(quib::State.Ports[port].OpenCount, 8);
}

TEST_F(ChannelsTest, ADeviceThatCannotBeOpenedLeavesTheTablesAsTheyWere) {
  fake::LineOfPort(4).FailOpen();
  EXPECT_EQ(QUIB_Open(4, 0), RC_PORT_OPEN_FAILED);
  EXPECT_EQ(fake::MessageBoxes(), (Boxes{{"Error opening COM port hComm", ""}}));
  EXPECT_EQ(CountTrace("COM open NG!\n"), 1);
  EXPECT_EQ(quib::State.Ports[4].OpenCount, -1);
  EXPECT_EQ(quib::State.Handles[0].Port, -1);
  EXPECT_EQ(quib::State.Ports[4].OpenerProcessId, plat::CurrentProcessId());
}

TEST_F(ChannelsTest, BufferSizesThatCannotBeSetCloseTheDevice) {
  fake::LineOfPort(4).FailSetup(1);
  EXPECT_EQ(QUIB_Open(4, 0), RC_PORT_OPEN_FAILED);
  EXPECT_FALSE(fake::LineOfPort(4).IsOpen());
  EXPECT_TRUE(fake::MessageBoxes().empty());
  EXPECT_EQ(CountTrace("COM open NG!\n"), 1);
  EXPECT_EQ(QUIB_Open(4, 0), 0);
}

struct SetUpFailureRow {
  const char *name;
  std::function<void()> arrange;
  int16_t result;
  Boxes boxes;
};

using SetUpFailureTest = LibraryRowTest<SetUpFailureRow>;

TEST_P(SetUpFailureTest, LeavesNothingBehindAndTheNextOpenWorks) {
  const SetUpFailureRow &row = GetParam();
  const int live = SettledWorkers();
  row.arrange();
  EXPECT_EQ(XQUIB_Open(6, 9600, 0), row.result);
  EXPECT_EQ(fake::MessageBoxes(), row.boxes);
  EXPECT_FALSE(fake::LineOfPort(6).IsOpen());
  EXPECT_FALSE(fake::SemaphoreExists("PortSema6"));
  EXPECT_FALSE(fake::SemaphoreExists("RxSema6"));
  EXPECT_EQ(quib::PortSemaphore[6], 0);
  EXPECT_EQ(quib::ReplySemaphore[6], 0);
  EXPECT_EQ(quib::State.Ports[6].OpenCount, -1);
  EXPECT_EQ(quib::State.Ports[6].CommHandle, plat::kInvalid);
  EXPECT_EQ(quib::State.Handles[0].Port, -1);
  EXPECT_EQ(fake::LiveThreads(), live);

  EXPECT_EQ(XQUIB_Open(6, 9600, 0), 0);
  EXPECT_EQ(fake::LiveThreads(), live + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SetUpFailureTest,
    ::testing::Values(
        SetUpFailureRow{"RequestSemaphore",
                        [] { fake::FailSemaphoreCreate("PortSema"); },
                        RC_SEQUENCE,
                        {{"CreateSemaphore Failed", "QUIBLINK.DLL"}}},
        SetUpFailureRow{"ReplySemaphore",
                        [] { fake::FailSemaphoreCreate("RxSema"); },
                        RC_SEQUENCE,
                        {{"CreateSemaphore Failed", "QUIBLINK.DLL"}}},
        SetUpFailureRow{"WorkerThread",
                        [] { fake::FailThreadCreate(1); },
                        RC_PORT_OPEN_FAILED,
                        {{"Error creating READ thread", ""}}},
        // A driver that refuses the line settings or the
        // time-outs: the line would keep its old rate.
        SetUpFailureRow{
            "GetCommState", [] { fake::LineOfPort(6).FailGetLine(1); }, RC_PORT_OPEN_FAILED, {}},
        SetUpFailureRow{
            "SetCommState", [] { fake::LineOfPort(6).FailSetLine(1); }, RC_PORT_OPEN_FAILED, {}},
        SetUpFailureRow{"SetCommTimeouts",
                        [] { fake::LineOfPort(6).FailSetTimeouts(1); },
                        RC_PORT_OPEN_FAILED,
                        {}}),
    [](const ::testing::TestParamInfo<SetUpFailureRow> &info) {
      return std::string(info.param.name);
    });

TEST_F(ChannelsTest, UnloadClosesBothChannelsOfAPortAndEndsItsWorker) {
  const int live = SettledWorkers();
  ASSERT_EQ(QUIB_Open(0, 0), 0);
  ASSERT_EQ(QUIB_Open(0, 0), 1);
  ASSERT_EQ(fake::LiveThreads(), live + 1);
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
  EXPECT_FALSE(fake::LineOfPort(0).IsOpen());
  EXPECT_FALSE(fake::SemaphoreExists("PortSema0"));
  EXPECT_FALSE(fake::SemaphoreExists("RxSema0"));
  EXPECT_FALSE(fake::SemaphoreExists("QsemaI"));
  EXPECT_TRUE(waits::WaitFor([&] { return fake::LiveThreads() == live; }, "the worker's end"));
  for (const quib::HandleEntry &h : quib::State.Handles) EXPECT_EQ(h.Port, -1);
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
}

TEST_F(ChannelsTest, UnloadLeavesTheChannelsOfOtherProcessesAlone) {
  ASSERT_EQ(QUIB_Open(0, 0), 0);
  ASSERT_EQ(QUIB_Open(1, 0), 1);
  quib::State.Handles[1].OwnerProcessId = 777;
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
  EXPECT_FALSE(fake::LineOfPort(0).IsOpen());
  EXPECT_TRUE(fake::LineOfPort(1).IsOpen());
  EXPECT_EQ(quib::State.Handles[1].Port, 1);
  // Hand the channel back so that it is closed and its worker ends.
  quib::State.Handles[1].OwnerProcessId = plat::CurrentProcessId();
  quib::CloseProcessChannels();
  EXPECT_FALSE(fake::LineOfPort(1).IsOpen());
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
}

class TenPortsTest : public LibraryTest {
 protected:
  void OpenAll() {
    live_ = SettledWorkers();
    for (uint16_t port = 0; port < 10; ++port) {
      fake::Line &line = fake::LineOfPort(port);
      line.SetDrainAtLineRate(false);
      line.OnFrame([port](fake::Line &l, const Bytes &f) {
        l.Send(Reply({static_cast<uint8_t>(port), f[1]}), 3);
      });
      ASSERT_EQ(XQUIB_Open(port, 19200, 0), port);
    }
    ASSERT_EQ(fake::LiveThreads(), live_ + 10);
  }
  int live_ = 0;
};

TEST_F(TenPortsTest, ClosingOnePortEndsOnlyItsWorkerAndTheOthersServeOn) {
  OpenAll();
  ASSERT_EQ(QUIB_Close(3), RC_OK);
  EXPECT_EQ(fake::LiveThreads(), live_ + 9);
  EXPECT_FALSE(fake::LineOfPort(3).IsOpen());
  for (uint16_t port = 0; port < 10; ++port) {
    Result r = Exchange(port, {0x02, 0x40, 0x03}, 5);
    if (port == 3) {
      EXPECT_EQ(r.status, RC_NOT_OPEN);
    } else {
      EXPECT_EQ(r.status, RC_OK) << "port " << port;
      EXPECT_EQ(r.payload, (Bytes{static_cast<uint8_t>(port), 0x40}));
    }
  }
}

TEST_F(TenPortsTest, AllPortsServeAtTheSameTime) {
  fake::UseScaledClock(10);
  OpenAll();
  std::vector<waits::Call<bool>> callers;
  for (uint16_t port = 0; port < 10; ++port) {
    callers.push_back(waits::Async("the calls on port " + std::to_string(port), [port] {
      bool all_good = true;
      for (uint8_t seq = 0; seq < 8; ++seq) {
        Result r = Exchange(port, {0x02, seq, 0x03}, 5);
        all_good &= r.status == RC_OK && r.payload == Bytes{static_cast<uint8_t>(port), seq};
      }
      return all_good;
    }));
  }
  for (uint16_t port = 0; port < 10; ++port) EXPECT_TRUE(callers[port].Get()) << "port " << port;
  for (uint16_t port = 0; port < 10; ++port) EXPECT_EQ(fake::LineOfPort(port).Frames().size(), 8u);
}

}  // namespace

namespace {

// The system timer runs at 1 ms while any port is open: one hold per open
// port, taken when its device opens and given back when its last channel
// closes, on failure paths and at unload too.
TEST_F(ChannelsTest, TheFineTimerIsHeldWhileAnyPortIsOpen) {
  EXPECT_EQ(fake::FineTimerHolders(), 0);
  ASSERT_EQ(XQUIB_Open(0, 38400, 0), 0);
  EXPECT_EQ(fake::FineTimerHolders(), 1);
  ASSERT_EQ(QUIB_Open(0, 0), 1);  // the same port: no second hold
  EXPECT_EQ(fake::FineTimerHolders(), 1);
  ASSERT_EQ(XQUIB_Open(5, 38400, 0), 2);
  EXPECT_EQ(fake::FineTimerHolders(), 2);
  fake::LineOfPort(6).FailSetLine(1);
  EXPECT_EQ(XQUIB_Open(6, 38400, 0), RC_PORT_OPEN_FAILED);
  EXPECT_EQ(fake::FineTimerHolders(), 2);
  EXPECT_EQ(QUIB_Close(0), 0);
  EXPECT_EQ(fake::FineTimerHolders(), 2);
  EXPECT_EQ(QUIB_Close(1), 0);
  EXPECT_EQ(fake::FineTimerHolders(), 1);
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);  // unload with port 5 open
  EXPECT_EQ(fake::FineTimerHolders(), 0);
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
}

// A port index mapped to another device opens that device, from its next
// open on; NULL brings the default back.
TEST_F(ChannelsTest, AMappedPortOpensItsDeviceFromTheNextOpenOn) {
  for (const char *device : {"COM17", "\\\\.\\COM17", "/dev/ttyUSB0",
                             "/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0"}) {
    SCOPED_TRACE(device);
    ASSERT_EQ(QUIB_SetPortDevice(4, device), RC_OK);
    ASSERT_EQ(XQUIB_Open(4, 38400, 0), 0);
    EXPECT_TRUE(fake::LineNamed(device).IsOpen());
    EXPECT_FALSE(fake::LineOfPort(4).IsOpen());
    EXPECT_EQ(fake::LineNamed(device).Settings().BaudRate, 38400u);
    // A new mapping leaves the open port alone: a second channel shares it.
    ASSERT_EQ(QUIB_SetPortDevice(4, nullptr), RC_OK);
    ASSERT_EQ(QUIB_Open(4, 0), 1);
    EXPECT_FALSE(fake::LineOfPort(4).IsOpen());
    EXPECT_EQ(QUIB_Close(0), 0);
    EXPECT_EQ(QUIB_Close(1), 0);
    EXPECT_FALSE(fake::LineNamed(device).IsOpen());
    // The next open takes the default again.
    ASSERT_EQ(QUIB_Open(4, 0), 0);
    EXPECT_TRUE(fake::LineOfPort(4).IsOpen());
    EXPECT_EQ(QUIB_Close(0), 0);
  }
}

TEST_F(ChannelsTest, PortDeviceRefusesBadPortsAndNames) {
  const std::string longest(255, 'x');
  const std::string too_long(256, 'x');
  struct Row {
    uint16_t port;
    const char *device;
    int16_t result;
  };
  for (const Row &row : {Row{10, "COM17", RC_BAD_PORT}, Row{0xFFFF, nullptr, RC_BAD_PORT},
                         Row{3, "", RC_BAD_ARGUMENT}, Row{3, too_long.c_str(), RC_BAD_ARGUMENT},
                         Row{3, longest.c_str(), RC_OK}, Row{9, nullptr, RC_OK}}) {
    EXPECT_EQ(QUIB_SetPortDevice(row.port, row.device), row.result) << row.port;
  }
  // A refused name leaves the earlier mapping in place.
  ASSERT_EQ(QUIB_SetPortDevice(2, "COM12"), RC_OK);
  EXPECT_EQ(QUIB_SetPortDevice(2, too_long.c_str()), RC_BAD_ARGUMENT);
  ASSERT_EQ(QUIB_Open(2, 0), 0);
  EXPECT_TRUE(fake::LineNamed("COM12").IsOpen());
  EXPECT_EQ(QUIB_Close(0), 0);
  // A new load starts from the defaults.
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
  ASSERT_EQ(QUIB_Open(2, 0), 0);
  EXPECT_TRUE(fake::LineOfPort(2).IsOpen());
  EXPECT_EQ(QUIB_Close(0), 0);
}

// Message boxes, or their texts on the trace: the call decides, and before
// any call the environment variable QUIBLINK_NO_MESSAGEBOX.
TEST_F(ChannelsTest, MessageBoxesGoToTheTraceWhenTurnedOff) {
  struct Row {
    const char *name;
    int call;  // -1: no call
    const char *environment;
    bool box;
  };
  for (const Row &row : {Row{"default", -1, nullptr, true}, Row{"environment", -1, "1", false},
                         Row{"environment 0", -1, "0", true}, Row{"off", 0, nullptr, false},
                         Row{"on over the environment", 1, "yes", true}}) {
    SCOPED_TRACE(row.name);
    plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
    if (row.environment != nullptr) {
      setenv("QUIBLINK_NO_MESSAGEBOX", row.environment, 1);
    } else {
      unsetenv("QUIBLINK_NO_MESSAGEBOX");
    }
    plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
    if (row.call >= 0) QUIB_SetMessageBoxes(row.call);
    fake::ClearDebug();
    fake::LineOfPort(4).FailOpen(1);
    EXPECT_EQ(QUIB_Open(4, 0), RC_PORT_OPEN_FAILED);
    fake::FailSemaphoreCreate("RxSema");
    EXPECT_EQ(QUIB_Open(4, 0), RC_SEQUENCE);
    if (row.box) {
      EXPECT_EQ(fake::MessageBoxes(), (Boxes{{"Error opening COM port hComm", ""},
                                             {"CreateSemaphore Failed", "QUIBLINK.DLL"}}));
      EXPECT_EQ(CountTrace("Error opening COM port hComm\n"), 0);
    } else {
      EXPECT_TRUE(fake::MessageBoxes().empty());
      EXPECT_EQ(CountTrace("Error opening COM port hComm\n"), 1);
      EXPECT_EQ(CountTrace("QUIBLINK.DLL: CreateSemaphore Failed\n"), 1);
    }
  }
  unsetenv("QUIBLINK_NO_MESSAGEBOX");
}

}  // namespace
