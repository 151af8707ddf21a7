// The state block: the handle table, the port records and the port request
// queues, and the process-wide per-port tables beside them. Everything the
// library knows lives here, in fixed tables; nothing is allocated.
#pragma once

#include <atomic>
#include <stdint.h>

#include "platform/platform.h"
#include "quiblink/quiblink_version.h"

namespace quib {

constexpr int kChannelCount = 32;
constexpr int kPortCount = 10;
constexpr int kBufferSize = 1100;
constexpr int kRingSize = 64;
// QUIB_Version's number: the digits of major, minor and patch (2.1.1 is 211).
constexpr int16_t kVersion =
    QUIBLINK_VERSION_MAJOR * 100 + QUIBLINK_VERSION_MINOR * 10 + QUIBLINK_VERSION_PATCH;
static_assert(QUIBLINK_VERSION_MINOR < 10 && QUIBLINK_VERSION_PATCH < 10,
              "QUIB_Version has one digit each for minor and patch");

// Length probe: called by the port worker after every read that brought
// bytes, with everything received so far. May change *expected. 0 goes on;
// any other value ends the exchange with that status.
typedef int16_t (*LengthProbe)(int16_t port, uint16_t received, const uint8_t *rx,
                               uint16_t *expected);
// Reply decoder: called once the expected length has arrived. Returns 0 with
// the length of the payload written to payload in *payload_length, or the
// result code of a bad reply with *payload_length 0.
typedef int16_t (*ReplyDecoder)(int16_t port, uint16_t length, const uint8_t *rx, uint8_t *payload,
                                uint16_t *payload_length);

// Which open function opened a channel: the exports of the other family
// refuse it, since its terminal cannot understand their frames.
enum ChannelFamily : int16_t { kFamilyClassic = 0, kFamilyGraphic = 1 };

struct HandleEntry {
  std::atomic<int16_t> Busy;  // 1 while a transaction call of the channel runs
  std::atomic<int16_t> Port;  // port index 0..9; -1 = slot free
  uint32_t OwnerProcessId;
  std::atomic<int16_t> Family;  // ChannelFamily; set before Port at open
};

struct PortRecord {
  int16_t OpenCount;  // channels open on the port; -1 = port closed
  plat::Handle CommHandle;
  int16_t CurrentHandle;
  plat::Handle WorkerThread;
  uint32_t OpenerThread;
  uint32_t OpenerProcessId;
  uint16_t TxLength;
  uint16_t ExpectedLength;  // 0 = no reply expected
  uint32_t TxTime;
  uint32_t BaudRate;
  uint16_t DataBits;
  int16_t Parity;
  int16_t StopBits;
  uint16_t ModelCode;
  int16_t ReplyTimeout;  // seconds
  ReplyDecoder Decoder;  // ReplyDecoder of the current request
  LengthProbe Probe;     // LengthProbe of the current request
  int16_t Status;
  uint16_t ReceivedLength;
  uint32_t NextTxTick;
  uint16_t QuietTime;
  uint32_t LastActivityTick;
  int16_t TxDrained;
  int16_t PayloadLength;
  uint8_t TxBuffer[kBufferSize];
  uint8_t RxBuffer[kBufferSize];
  uint8_t PayloadBuffer[kBufferSize];
};

struct PortQueue {
  int16_t Ring[kRingSize];
  int16_t Tail;
  int16_t Head;
};

struct StateBlock {
  int16_t InitFlag;
  HandleEntry Handles[kChannelCount];
  PortRecord Ports[kPortCount];
  PortQueue Queues[kPortCount];
};

extern StateBlock State;

// Process-wide tables beside the state block.
extern plat::Handle QueueSemaphore;  // "QsemaI"
extern plat::Handle ModelSemaphore;  // "PLCmodel"
extern plat::Handle QueueLock;       // process-local lock of the queues
// Process-local locks of channel open and close: ChannelLock over the claim
// and release of handle slots, PortLock over a port's open count and its
// first open and last close. A holder of a PortLock may take ChannelLock,
// never the other way round.
extern plat::Handle ChannelLock;
extern plat::Handle PortLock[kPortCount];
extern plat::Handle PortSemaphore[kPortCount];
extern plat::Handle ReplySemaphore[kPortCount];
extern std::atomic<uint32_t> WorkerRun[kPortCount];
extern uint32_t WorkerThreadId[kPortCount];
extern uint32_t PortIndex[kPortCount];
extern const char *const PortNames[kPortCount];
extern const char *const PortSemaNames[kPortCount];
extern const char *const RxSemaNames[kPortCount];

// Port index of an open channel: the low byte of its Port field.
inline int16_t PortOfChannel(uint16_t handle) {
  return static_cast<int16_t>(State.Handles[handle].Port.load() & 0xFF);
}

// True when handle names an open channel (0..31 and its slot not free).
inline bool ChannelIsOpen(uint16_t handle) {
  return handle < kChannelCount && State.Handles[handle].Port.load() != -1;
}

// True when handle names an open channel that an open function of family
// opened.
inline bool ChannelIsOfFamily(uint16_t handle, ChannelFamily family) {
  return handle < kChannelCount && State.Handles[handle].Family.load() == family;
}

}  // namespace quib
