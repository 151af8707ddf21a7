#include "core/state.h"

namespace quib {

// Constant-initialised: the load hook may run before any dynamic initialiser
// of this file, which would otherwise wipe what the attach has set.
constinit PLAT_STATE_SECTION StateBlock State{};

plat::Handle QueueSemaphore;
plat::Handle ModelSemaphore;
plat::Handle QueueLock;
plat::Handle ChannelLock;
plat::Handle PortLock[kPortCount];
plat::Handle PortSemaphore[kPortCount];
plat::Handle ReplySemaphore[kPortCount];
std::atomic<uint32_t> WorkerRun[kPortCount];
uint32_t WorkerThreadId[kPortCount];
uint32_t PortIndex[kPortCount] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

const char *const PortNames[kPortCount] = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                           "COM6", "COM7", "COM8", "COM9", "\\\\.\\COM10"};
const char *const PortSemaNames[kPortCount] = {"PortSema0", "PortSema1", "PortSema2", "PortSema3",
                                               "PortSema4", "PortSema5", "PortSema6", "PortSema7",
                                               "PortSema8", "PortSema9"};
const char *const RxSemaNames[kPortCount] = {"RxSema0", "RxSema1", "RxSema2", "RxSema3", "RxSema4",
                                             "RxSema5", "RxSema6", "RxSema7", "RxSema8", "RxSema9"};

}  // namespace quib
