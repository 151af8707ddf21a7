// What the library does when a process loads and unloads it, and when threads
// start and end in that process.
#include "engine/cancel.h"
#include "engine/channels.h"
#include "core/port_devices.h"
#include "core/state.h"
#include "core/trace.h"
#include "engine/waiting.h"

namespace quib {

namespace {

enum { kProcessDetach = 0, kProcessAttach = 1, kThreadAttach = 2, kThreadDetach = 3 };

// In the child of a fork(): the platform has closed the child's copies of the
// devices and forgotten the parent's threads. The child holds no port and no
// channel: its copies of the parent's handles name free slots (calls
// RC_NOT_OPEN, close RC_CLOSE_NOT_OPEN), and it may open ports of its own once
// no other process holds them. The locks and signals that a thread of the
// parent may have held at the fork are made anew.
void ForgetPortsInChild() {
  for (HandleEntry &entry : State.Handles) {
    entry.Port = -1;
    entry.Busy = 0;
    entry.OwnerProcessId = 0;
  }
  for (int port = 0; port < kPortCount; ++port) {
    PortRecord &record = State.Ports[port];
    if (PortSemaphore[port] != 0) plat::SemaphoreClose(PortSemaphore[port]);
    if (ReplySemaphore[port] != 0) plat::SemaphoreClose(ReplySemaphore[port]);
    PortSemaphore[port] = 0;
    ReplySemaphore[port] = 0;
    WorkerRun[port].store(0);
    record.OpenCount = -1;
    record.CommHandle = plat::kInvalid;
    record.WorkerThread = 0;
    record.CurrentHandle = -1;
    record.OpenerThread = 0xFFFFFFFFu;
    record.OpenerProcessId = 0;
    State.Queues[port].Head = 0;
    State.Queues[port].Tail = 0;
  }
  if (QueueLock != 0) plat::SemaphoreClose(QueueLock);
  QueueLock = plat::SemaphoreCreate(nullptr, 1, 1);
  CloseTurnSignals();
  CreateTurnSignals();
  ForgetCancelWindows();
  RenewChannelLocksInChild();
}

void ProcessAttach() {
  Trace("DLL_PROCESS_ATTACH\n");
  QueueSemaphore = plat::SemaphoreCreate("QsemaI", 1, 1);
  ModelSemaphore = plat::SemaphoreCreate("PLCmodel", 1, 1);
  // The queues are this process's own: a private lock guards them, so that no
  // other process holding "QsemaI" can stall this one.
  QueueLock = plat::SemaphoreCreate(nullptr, 1, 1);
  ChannelLock = plat::SemaphoreCreate(nullptr, 1, 1);
  for (plat::Handle &lock : PortLock) lock = plat::SemaphoreCreate(nullptr, 1, 1);
  CreateTurnSignals();
  LoadWaitStyleFromEnvironment();
  plat::SetForkChildHook(ForgetPortsInChild);
  for (int port = 0; port < kPortCount; ++port) {
    ReplySemaphore[port] = 0;
    PortSemaphore[port] = 0;
  }
  // A load starts with the default devices and message boxes, as a new
  // process does.
  ForgetPortDevices();
  FollowMessageBoxEnvironment();
  if (State.InitFlag != 0) return;
  State.InitFlag = 1;
  for (HandleEntry &entry : State.Handles) {
    entry.Busy = 0;
    entry.Port = -1;
    entry.OwnerProcessId = 0;
    entry.Family = kFamilyClassic;
  }
  for (int port = 0; port < kPortCount; ++port) {
    PortRecord &record = State.Ports[port];
    record.OpenCount = -1;
    record.CommHandle = plat::kInvalid;
    record.CurrentHandle = -1;
    record.NextTxTick = 0;
    record.QuietTime = 5;
    record.Status = 0;
    PortQueue &queue = State.Queues[port];
    queue.Head = 0;
    queue.Tail = 0;
  }
}

// True when a channel of this process is still open after detach closed what
// it could: a call of it is under way.
bool ChannelsRemain() {
  const uint32_t process = plat::CurrentProcessId();
  for (const HandleEntry &entry : State.Handles) {
    if (entry.Port.load() >= 0 && entry.OwnerProcessId == process) return true;
  }
  return false;
}

void ProcessDetach(bool process_ending) {
  DropTraceHandler();
  if (process_ending) {
    ReleaseProcessChannels();
  } else {
    CloseProcessChannels();
  }
  plat::SemaphoreClose(QueueSemaphore);
  plat::SemaphoreClose(ModelSemaphore);
  QueueSemaphore = 0;
  ModelSemaphore = 0;
  // A call or a close still under way goes on taking the locks and waiting
  // on its turn signal: they stay for it and end with the process. In an
  // ending process no thread is left to take them.
  if (process_ending || !ChannelsRemain()) {
    plat::SemaphoreClose(QueueLock);
    plat::SemaphoreClose(ChannelLock);
    for (plat::Handle &lock : PortLock) {
      plat::SemaphoreClose(lock);
      lock = 0;
    }
    CloseTurnSignals();
    QueueLock = 0;
    ChannelLock = 0;
  }
  // A later attach in the same address space (a reload, or a test) starts
  // from a fresh state block, as a new process would.
  State.InitFlag = 0;
  Trace("DLL_PROCESS_DETACH\n");
}

}  // namespace
}  // namespace quib

void plat::LibraryEntry(uintptr_t module, EntryReason reason, bool process_ending) {
  using namespace quib;
  // Under the loader the caller's handler may belong to a runtime that is
  // not (or no longer) there: every trace text of the entry point, and of
  // any thread while it runs, goes to the default sink.
  EntryPointTraceScope scope;
  switch (reason) {
    case EntryReason::kProcessAttach:
      ProcessAttach();
      break;
    case EntryReason::kProcessDetach:
      ProcessDetach(process_ending);
      break;
    case EntryReason::kThreadAttach:
      Trace("DLL_THREAD_ATTACH\n");
      break;
    case EntryReason::kThreadDetach:
      Trace("DLL_THREAD_DETACH\n");
      break;
    default:
      break;
  }
  TraceFormat("Handle = %08X\n", static_cast<unsigned>(module));
  TraceFormat("GetHandle=%08X\n", static_cast<unsigned>(plat::CurrentProcessId()));
  TraceFormat("Thread=%08X\n", static_cast<unsigned>(plat::CurrentThread()));
}
