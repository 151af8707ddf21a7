// Channel open and close. The first open of a port opens the device, programs
// the line, creates the port's semaphores and starts its worker; later opens
// only take a channel slot. The last close stops the worker and releases all.
#include "engine/channels.h"

#include "core/port_devices.h"
#include "core/state.h"
#include "core/trace.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_results.h"

namespace quib {

namespace {

constexpr uint32_t kDeviceBufferSize = 2048;
// How long a close waits for a worker that has answered its stop request to
// end: it has nothing left to do but return.
constexpr uint32_t kWorkerEndLimitMs = 30000;
// At unload a worker may be gone, or unable to finish its thread while the
// loader runs; these bound every wait for it.
constexpr uint32_t kUnloadAnswerLimitMs = 10000;
constexpr uint32_t kUnloadEndLimitMs = 500;
constexpr uint32_t kUnloadLockLimitMs = 100;

// The bound of a lock wait in the current unload sweep (only the unloading
// thread uses it).
uint32_t UnloadLockLimitMs = kUnloadLockLimitMs;

// Slots kept for first opens under way (under ChannelLock).
bool SlotKept[kChannelCount];

// What an open's own failure means, from the table of result codes.
const char *OpenResultMeaning(int16_t code) {
#define QUIB_OPEN_MEANING(name, meaning) \
  if (code == name) return meaning;
  QUIB_OPEN_RESULTS(QUIB_OPEN_MEANING)
#undef QUIB_OPEN_MEANING
  return "the open failed";
}

plat::Handle OpenSerialPort(uint16_t port) {
  PortRecord &p = State.Ports[port];
  p.OpenerThread = plat::CurrentThread();
  p.OpenerProcessId = plat::CurrentProcessId();
  TraceFormat("OpenThreadHandle = %d\n", static_cast<int>(p.OpenerThread));
  char device[kDeviceNameSize];
  PortDeviceName(port, device);
  p.CommHandle = plat::DeviceOpen(device);
  if (p.CommHandle == plat::kInvalid) {
    MessageBox("Error opening COM port hComm", "");
    return plat::kInvalid;
  }
  if (!plat::DeviceSetupBuffers(p.CommHandle, kDeviceBufferSize, kDeviceBufferSize)) {
    plat::DeviceClose(p.CommHandle);
    p.CommHandle = plat::kInvalid;
    return plat::kInvalid;
  }
  return p.CommHandle;
}

void CloseSemaphores(uint16_t port) {
  if (PortSemaphore[port] != 0) plat::SemaphoreClose(PortSemaphore[port]);
  if (ReplySemaphore[port] != 0) plat::SemaphoreClose(ReplySemaphore[port]);
  PortSemaphore[port] = 0;
  ReplySemaphore[port] = 0;
}

bool CreateSemaphores(uint16_t port) {
  if (PortSemaphore[port] != 0) return true;
  PortSemaphore[port] = plat::SemaphoreCreate(PortSemaNames[port], 0, 1);
  if (PortSemaphore[port] != 0)
    ReplySemaphore[port] = plat::SemaphoreCreate(RxSemaNames[port], 0, 1);
  if (PortSemaphore[port] != 0 && ReplySemaphore[port] != 0) return true;
  MessageBox("CreateSemaphore Failed", "QUIBLINK.DLL");
  CloseSemaphores(port);
  return false;
}

// Closes the device and, when the worker can no longer touch them, the port's
// semaphores. A worker that did not answer keeps its semaphores: they are
// forgotten, never closed under it.
void ReleasePort(plat::Handle device, uint16_t port, bool close_semaphores) {
  plat::DeviceClose(device);
  if (close_semaphores) {
    CloseSemaphores(port);
  } else {
    PortSemaphore[port] = 0;
    ReplySemaphore[port] = 0;
  }
  PortRecord &p = State.Ports[port];
  p.CommHandle = plat::kInvalid;
  p.OpenerThread = 0xFFFFFFFFu;
  p.OpenerProcessId = 0;
}

// Programs the line and the device's time-outs. A driver that refuses a
// setting (a baud rate it cannot make, say) fails the open: the line would
// otherwise keep its old settings and every call fail slowly.
bool ProgramLine(uint16_t port, uint32_t baud, uint16_t data_bits, int16_t parity,
                 int16_t stop_bits) {
  PortRecord &p = State.Ports[port];
  plat::LineSettings line = {};
  if (!plat::DeviceGetLine(p.CommHandle, &line)) return false;
  line.BaudRate = baud;
  line.ByteSize = static_cast<uint8_t>(data_bits);
  line.Parity = static_cast<uint8_t>(parity);
  line.StopBits = static_cast<uint8_t>(stop_bits);
  line.Binary = true;
  line.ParityCheck = true;
  line.OutxCtsFlow = false;
  line.OutxDsrFlow = false;
  line.DsrSensitivity = false;
  line.TxContinueOnXoff = false;
  line.OutX = false;
  line.InX = false;
  line.ErrorChar = false;
  line.Null = false;
  line.RtsControl = plat::kRtsEnable;
  line.AbortOnError = false;
  if (!plat::DeviceSetLine(p.CommHandle, &line)) return false;
  const plat::Timeouts timeouts = WorkerTimeouts(static_cast<int16_t>(port), kBufferSize);
  return plat::DeviceSetTimeouts(p.CommHandle, &timeouts);
}

bool StartPortWorker(uint16_t port) {
  PortRecord &p = State.Ports[port];
  WorkerRun[port].store(1);
  p.WorkerThread = plat::ThreadCreate(RunWorker, &PortIndex[port], &WorkerThreadId[port]);
  if (p.WorkerThread == 0) {
    WorkerRun[port].store(0);
    MessageBox("Error creating READ thread", "");
    return false;
  }
  return true;
}

void StoreLineSettings(PortRecord &p, uint32_t baud, uint16_t data_bits, uint16_t model) {
  p.BaudRate = baud;
  p.DataBits = data_bits;
  p.Parity = plat::kParityEven;
  p.StopBits = plat::kOneStopBit;
  p.QuietTime = 5;
  p.ModelCode = model;
}

// The port's last channel closes: the stop request waits behind every earlier
// request of the port, then the worker ends and everything is released. Where
// a thread cannot end while the unload runs (Win32's loader lock), the unload
// does not wait for the worker's end: its answer to the stop request is the
// last thing it does with the port.
void ShutDownPort(uint16_t handle, uint16_t port, bool unloading) {
  PortRecord &p = State.Ports[port];
  WorkerRun[port].store(0);
  const plat::Handle thread = p.WorkerThread;
  const bool gone = unloading && plat::ThreadWait(thread, 0) == plat::kWaitSignaled;
  const bool answered =
      gone || StopPortWorker(handle, unloading ? kUnloadAnswerLimitMs : plat::kInfinite);
  const bool may_wait_end = !unloading || !plat::ThreadEndNeedsLoader();
  const bool ended =
      gone || (may_wait_end &&
               plat::ThreadWait(thread, unloading ? kUnloadEndLimitMs : kWorkerEndLimitMs) ==
                   plat::kWaitSignaled);
  if (ended) plat::ThreadExitCode(thread, &WorkerThreadId[port]);
  plat::ThreadClose(thread);
  p.WorkerThread = 0;
  ReleasePort(p.CommHandle, port, answered || ended);
  p.OpenCount = -1;
  plat::FineTimerRelease();
}

// Takes a lock of open and close. Without the lock (its creation failed at
// attach) the steps still run, only as safe as the callers' timing. At unload
// its holder may be a thread that the system has already stopped: the wait is
// bounded there, and once one has timed out the rest of the sweep goes without.
bool TakeLock(plat::Handle lock, bool unloading) {
  if (lock == 0) return false;
  if (!unloading) return plat::SemaphoreWait(lock, plat::kInfinite) == plat::kWaitSignaled;
  if (plat::SemaphoreWait(lock, UnloadLockLimitMs) == plat::kWaitSignaled) return true;
  UnloadLockLimitMs = 0;
  return false;
}

void DropLock(plat::Handle lock, bool taken) {
  if (taken) plat::SemaphoreRelease(lock);
}

// The lowest slot that is free and not kept for a first open under way.
// Under ChannelLock.
int FreeSlot() {
  for (int slot = 0; slot < kChannelCount; ++slot) {
    if (State.Handles[slot].Port.load() == -1 && !SlotKept[slot]) return slot;
  }
  return -1;
}

// Under ChannelLock.
void ClaimSlot(int slot, uint16_t port, ChannelFamily family) {
  State.Handles[slot].OwnerProcessId = plat::CurrentProcessId();
  State.Handles[slot].Family.store(family);
  State.Handles[slot].Port.store(static_cast<int16_t>(port));
}

// The first open of a port: device, semaphores, line and worker. Under the
// port's lock only, so that opens and closes of other ports go on meanwhile.
int16_t OpenPort(uint16_t port, uint32_t baud, uint16_t data_bits, uint16_t model) {
  PortRecord &p = State.Ports[port];
  plat::Handle device = OpenSerialPort(port);
  if (device == plat::kInvalid) {
    Trace("COM open NG!\n");
    return RC_PORT_OPEN_FAILED;
  }
  Trace("COM open OK!\n");
  if (!CreateSemaphores(port)) {
    plat::NoteOpenFailure(PortNames[port], "the port's semaphores cannot be created");
    ReleasePort(device, port, true);
    return RC_NO_PORT_SEMAPHORE;
  }
  // The line settings are in place before the worker can read them.
  StoreLineSettings(p, baud, data_bits, model);
  // A port whose line cannot be programmed or that no worker would serve is a
  // port that cannot be opened.
  if (!ProgramLine(port, baud, data_bits, plat::kParityEven, plat::kOneStopBit)) {
    plat::NoteOpenFailure(PortNames[port],
                          "the device refused the line settings (baud rate, data bits, parity)");
    ReleasePort(device, port, true);
    return RC_PORT_OPEN_FAILED;
  }
  if (!StartPortWorker(port)) {
    plat::NoteOpenFailure(PortNames[port], "the port's worker thread cannot be started");
    ReleasePort(device, port, true);
    return RC_PORT_OPEN_FAILED;
  }
  p.OpenCount = 1;
  // The quiet times and polls of an open port want a 1 ms timer.
  plat::FineTimerAcquire();
  return RC_OK;
}

// Under the port's lock.
int16_t OpenOnPort(uint16_t port, uint32_t baud, uint16_t data_bits, uint16_t model,
                   ChannelFamily family) {
  bool locked = TakeLock(ChannelLock, false);
  const int slot = FreeSlot();
  if (slot < 0) {
    DropLock(ChannelLock, locked);
    plat::NoteOpenFailure(PortNames[port], OpenResultMeaning(RC_NO_FREE_CHANNEL));
    return RC_NO_FREE_CHANNEL;
  }
  PortRecord &p = State.Ports[port];
  if (p.OpenCount >= 0) {
    p.OpenCount = static_cast<int16_t>(p.OpenCount + 1);
    ClaimSlot(slot, port, family);
    DropLock(ChannelLock, locked);
    return static_cast<int16_t>(slot);
  }
  // Only an open that programs the line uses the rate: no line runs at 0 baud.
  if (baud == 0) {
    DropLock(ChannelLock, locked);
    plat::NoteOpenFailure(PortNames[port], "a baud rate of 0");
    return RC_BAD_ARGUMENT;
  }
  // The slot is kept for this open while the port opens, which may show a
  // message box: other ports' opens and closes do not wait for that.
  SlotKept[slot] = true;
  DropLock(ChannelLock, locked);
  const int16_t rc = OpenPort(port, baud, data_bits, model);
  locked = TakeLock(ChannelLock, false);
  SlotKept[slot] = false;
  if (rc == RC_OK) ClaimSlot(slot, port, family);
  DropLock(ChannelLock, locked);
  return rc == RC_OK ? static_cast<int16_t>(slot) : rc;
}

int16_t Close(uint16_t handle, bool unloading) {
  if (handle >= kChannelCount) return RC_CLOSE_NOT_OPEN;
  HandleEntry &entry = State.Handles[handle];
  if (entry.Port.load() == -1) return RC_CLOSE_NOT_OPEN;
  // The close holds the channel's Busy mark, so no call of the channel can
  // start while it runs, and none can be running when it starts.
  if (entry.Busy.exchange(1) != 0) return RC_CLOSE_BUSY;
  // With the mark held, only this close can free the slot, and an open takes
  // only a free one: the channel's port stays what it is now.
  const int16_t port_field = entry.Port.load();
  if (port_field == -1) {
    entry.Busy.store(0);
    return RC_CLOSE_NOT_OPEN;
  }
  const uint16_t port = static_cast<uint16_t>(port_field & 0xFF);
  // The port's lock is held until the device is released, so that a later
  // open of the port finds it closed; it may wait for the worker's end.
  const bool port_locked = TakeLock(PortLock[port], unloading);
  PortRecord &p = State.Ports[port];
  if (p.OpenCount == 1) {
    ShutDownPort(handle, port, unloading);
  } else {
    p.OpenCount = static_cast<int16_t>(p.OpenCount - 1);
  }
  // Freed and unmarked at once: an open that takes the slot finds it idle.
  const bool locked = TakeLock(ChannelLock, unloading);
  entry.OwnerProcessId = 0;
  entry.Port.store(-1);
  entry.Busy.store(0);
  DropLock(ChannelLock, locked);
  DropLock(PortLock[port], port_locked);
  return RC_OK;
}

}  // namespace

int16_t OpenChannel(uint16_t port, uint32_t baud, uint16_t data_bits, uint16_t model,
                    ChannelFamily family) {
  if (port >= kPortCount) {
    char name[16];
    plat::FormatText(name, sizeof name, "port %u", static_cast<unsigned>(port));
    plat::NoteOpenFailure(name, OpenResultMeaning(RC_BAD_PORT));
    return RC_BAD_PORT;
  }
  // A close that is releasing the port finishes first.
  const bool port_locked = TakeLock(PortLock[port], false);
  const int16_t result = OpenOnPort(port, baud, data_bits, model, family);
  DropLock(PortLock[port], port_locked);
  return result;
}

void RenewChannelLocksInChild() {
  if (ChannelLock != 0) plat::SemaphoreClose(ChannelLock);
  ChannelLock = plat::SemaphoreCreate(nullptr, 1, 1);
  for (plat::Handle &lock : PortLock) {
    if (lock != 0) plat::SemaphoreClose(lock);
    lock = plat::SemaphoreCreate(nullptr, 1, 1);
  }
  for (bool &kept : SlotKept) kept = false;
}

int32_t LastOpenFailure(char *text, uint16_t size) {
  return plat::LastOpenFailure(text, size);
}

int16_t CloseChannel(uint16_t handle) {
  return Close(handle, false);
}

void ReleaseProcessChannels() {
  const uint32_t process = plat::CurrentProcessId();
  for (uint16_t handle = 0; handle < kChannelCount; ++handle) {
    HandleEntry &entry = State.Handles[handle];
    if (entry.Port.load() < 0 || entry.OwnerProcessId != process) continue;
    const uint16_t port = static_cast<uint16_t>(PortOfChannel(handle));
    PortRecord &p = State.Ports[port];
    if (p.OpenCount >= 0) {
      WorkerRun[port].store(0);
      plat::ThreadClose(p.WorkerThread);
      p.WorkerThread = 0;
      ReleasePort(p.CommHandle, port, true);
      p.OpenCount = -1;
    }
    entry.OwnerProcessId = 0;
    entry.Port.store(-1);
    entry.Busy.store(0);
  }
}

void CloseProcessChannels() {
  UnloadLockLimitMs = kUnloadLockLimitMs;
  const uint32_t process = plat::CurrentProcessId();
  for (uint16_t handle = 0; handle < kChannelCount; ++handle) {
    const HandleEntry &entry = State.Handles[handle];
    if (entry.Port.load() >= 0 && entry.OwnerProcessId == process) Close(handle, true);
  }
}

}  // namespace quib
