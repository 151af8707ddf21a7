// What the engine tests share: the test protocol's probes and decoder (see
// reply_protocol.h), one transaction call, and waits for other threads.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "quiblink/quiblink.h"
#include "reply_protocol.h"
#include "support/fake/fake_line.h"
#include "support/library_fixture.h"
#include "support/waits.h"

namespace enginetest {

// Every call of the test probes and decoder, as the worker made them.
struct ProbeCall {
  uint16_t received;
  uint16_t expected_before;
};
struct Recorder {
  std::vector<ProbeCall> probes;
  std::vector<uint16_t> decoded_lengths;
};
Recorder Recorded();
void ClearRecorded();

// Refuses (-20) a first byte other than kStart or kRefusal; keeps the length.
int16_t ProbeFixed(int16_t port, uint16_t received, const uint8_t *rx, uint16_t *expected);
// As ProbeFixed, and once the length byte is in, expects n + 3 bytes; a
// refusal byte alone makes the expected length 1.
int16_t ProbeLengthField(int16_t port, uint16_t received, const uint8_t *rx, uint16_t *expected);
// Lowers the expected length to 0 whatever arrives.
int16_t ProbeToZero(int16_t port, uint16_t received, const uint8_t *rx, uint16_t *expected);
// Announces the largest length a 16-bit field can hold.
int16_t ProbeHuge(int16_t port, uint16_t received, const uint8_t *rx, uint16_t *expected);
// Checks start, length and XOR; -19 for a lone refusal byte, -20 bad start,
// -30 bad length, -17 bad XOR. Copies the payload.
int16_t DecodeReply(int16_t port, uint16_t length, const uint8_t *rx, uint8_t *payload,
                    uint16_t *payload_length);

struct Result {
  int16_t status;
  uint16_t payload_length;
  Bytes payload;
};

// One transaction call with the test protocol; output lands in a buffer
// filled with 0xEE so that a stray copy shows.
Result Exchange(uint16_t handle, const Bytes &frame, uint16_t expected,
                quib::LengthProbe probe = ProbeFixed, quib::ReplyDecoder decoder = DecodeReply);

// The trace texts among `wanted`, in order.
std::vector<std::string> TracesAmong(const std::vector<std::string> &wanted);
int CountTrace(const std::string &text);

// A library with `channels` channels open on COM1 (handles 0 up), whose line
// drains at once; the opens' traces are cleared.
class PortZeroTest : public LibraryTest {
 protected:
  void OpenChannels(int channels) {
    line_ = &fake::LineOfPort(0);
    line_->SetDrainAtLineRate(false);
    for (int h = 0; h < channels; ++h) ASSERT_EQ(QUIB_Open(0, 0), h);
    fake::ClearDebug();
  }
  fake::Line *line_ = nullptr;
};

// Workers alive once those of earlier tests, which an unload does not wait
// for without bound, have ended: `own` are this test's.
inline int SettledWorkers(int own = 0) {
  waits::WaitFor([own] { return fake::LiveThreads() == own; }, "the workers of earlier tests");
  return fake::LiveThreads();
}

// A latch a responder can wait on, so that a request stays in flight until
// the test lets it go.
class Gate {
 public:
  void Open() { open_.store(true); }
  void Wait() {
    const auto start = std::chrono::steady_clock::now();
    while (!open_.load()) {
      const auto waited = std::chrono::steady_clock::now() - start;
      if (waited > waits::kLimit) waits::GiveUp("the test to let the held reply go", waits::kLimit);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

 private:
  std::atomic<bool> open_{false};
};

// Entries waiting in a port's queue, read under the queue lock.
inline int QueueLength(int port) {
  bool locked = plat::SemaphoreWait(quib::QueueLock, plat::kInfinite) == plat::kWaitSignaled;
  const quib::PortQueue &q = quib::State.Queues[port];
  int length = (q.Tail - q.Head + quib::kRingSize) % quib::kRingSize;
  if (locked) plat::SemaphoreRelease(quib::QueueLock);
  return length;
}

}  // namespace enginetest
