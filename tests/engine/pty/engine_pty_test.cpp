// Raw frames end to end over a pseudo-terminal: channel open, the transaction
// call, the port worker and the POSIX backend against a peer that answers
// from the master side.
#include <gtest/gtest.h>

#include <stdio.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "core/state.h"
#include "engine/engine.h"
#include "engine/reply_protocol.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"
#include "support/pty.h"

namespace {

// The peer's protocol: a request is 'Q', its total length, then its bytes;
// the reply is the engine tests' own (reply_protocol.h).
using enginetest::Bytes;
using enginetest::Reply;

int16_t ProbeStart(int16_t, uint16_t, const uint8_t *rx, uint16_t *expected) {
  if (rx[0] != 0xAA) return RC_BAD_START;
  (void)expected;
  return 0;
}

int16_t DecodeReply(int16_t, uint16_t length, const uint8_t *rx, uint8_t *payload,
                    uint16_t *payload_length) {
  *payload_length = 0;
  if (length < 3 || rx[1] != length - 3) return RC_BAD_LENGTH;
  uint8_t check = 0;
  for (int i = 2; i < length - 1; ++i) {
    payload[i - 2] = rx[i];
    check ^= rx[i];
  }
  if (check != rx[length - 1]) return RC_CHECKSUM;
  *payload_length = static_cast<uint16_t>(length - 3);
  return 0;
}

// The far end: whole requests, each answered as the script says, with pauses
// between the pieces of a reply.
class Peer {
 public:
  using Piece = std::pair<Bytes, int>;  // bytes, then a pause in ms
  using Script = std::function<std::vector<Piece>(const Bytes &request)>;

  explicit Peer(Script script)
      : script_(std::move(script)),
        peer_(RequestLength, [this](PtyPeer &peer, const uint8_t *request, size_t length) {
          Answer(peer, Bytes(request, request + length));
        }) {}
  const char *path() const { return peer_.path(); }
  int master() const { return peer_.master(); }
  std::vector<Bytes> Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }

 private:
  static size_t RequestLength(const uint8_t *bytes, size_t have) {
    return have >= 2 && have >= bytes[1] ? bytes[1] : 0;
  }
  void Answer(PtyPeer &peer, const Bytes &request) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      requests_.push_back(request);
    }
    for (const auto &[bytes, pause] : script_(request)) {
      peer.Send(bytes);
      std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    }
  }

  Script script_;
  std::mutex lock_;
  std::vector<Bytes> requests_;
  PtyPeer peer_;  // last: its thread starts once the rest is in place
};

struct Outcome {
  int16_t status;
  Bytes payload;
};

Outcome Call(int16_t handle, const Bytes &frame, uint16_t expected, int16_t timeout_s = 10) {
  uint8_t out[quib::kBufferSize];
  uint16_t length = 0;
  quib::RequestDescriptor request{
      static_cast<uint16_t>(frame.size()), expected, timeout_s, DecodeReply, ProbeStart, out};
  int16_t status =
      quib::TransactionCall(static_cast<uint16_t>(handle), request, frame.data(), &length);
  return {status, Bytes(out, out + length)};
}

Peer::Script EchoSecondHalf() {
  return [](const Bytes &request) {
    return std::vector<Peer::Piece>{{Reply(Bytes(request.begin() + 2, request.end())), 0}};
  };
}

TEST(EngineOverPty, ClassicChannelCarriesRawFramesBothWays) {
  Peer peer(EchoSecondHalf());
  ComMapping com1(1, peer.path());
  int16_t h = QUIB_Open(0, 0);
  ASSERT_EQ(h, 0);
  for (uint8_t i = 0; i < 5; ++i) {
    Bytes frame = {'Q', 6, i, 0x10, 0x7F, 0x80};
    Outcome r = Call(h, frame, 7);
    EXPECT_EQ(r.status, RC_OK);
    EXPECT_EQ(r.payload, (Bytes{i, 0x10, 0x7F, 0x80}));
  }
  EXPECT_EQ(QUIB_Close(h), RC_OK);
  ASSERT_EQ(peer.Requests().size(), 5u);
  EXPECT_EQ(peer.Requests()[4], (Bytes{'Q', 6, 4, 0x10, 0x7F, 0x80}));
}

// A device set for the port index overrides QUIBLINK_COMn; NULL gives the
// port back to the environment's path.
TEST(EngineOverPty, APortDeviceOverridesTheEnvironment) {
  Peer peer(EchoSecondHalf());
  ComMapping com1(1, "/nonexistent/quiblink-com1");
  ASSERT_EQ(QUIB_SetPortDevice(0, peer.path()), RC_OK);
  int16_t h = QUIB_Open(0, 0);
  ASSERT_EQ(h, 0);
  Outcome r = Call(h, {'Q', 4, 0x31, 0x32}, 5);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload, (Bytes{0x31, 0x32}));
  EXPECT_EQ(QUIB_Close(h), RC_OK);
  ASSERT_EQ(QUIB_SetPortDevice(0, nullptr), RC_OK);
  QUIB_SetMessageBoxes(0);
  EXPECT_EQ(QUIB_Open(0, 0), RC_PORT_OPEN_FAILED);
  QUIB_SetMessageBoxes(1);
}

TEST(EngineOverPty, GraphicChannelTakesTheCallersRateAndWholeBlocks) {
  Peer peer([](const Bytes &request) {
    // A long reply in three pieces with pauses: the worker gathers them.
    Bytes reply = Reply(Bytes(request.begin() + 2, request.end()));
    size_t third = reply.size() / 3;
    return std::vector<Peer::Piece>{{Bytes(reply.begin(), reply.begin() + third), 30},
                                    {Bytes(reply.begin() + third, reply.begin() + 2 * third), 30},
                                    {Bytes(reply.begin() + 2 * third, reply.end()), 0}};
  });
  ComMapping com1(1, peer.path());
  int16_t h = XQUIB_Open(0, 19200, 0);
  ASSERT_EQ(h, 0);
  termios tio;
  ASSERT_EQ(tcgetattr(peer.master(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));

  Bytes frame = {'Q', 252};
  for (int i = 0; i < 250; ++i) frame.push_back(static_cast<uint8_t>(i));
  Outcome r = Call(h, frame, 253);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload, Bytes(frame.begin() + 2, frame.end()));
  EXPECT_EQ(QUIB_Close(h), RC_OK);
}

TEST(EngineOverPty, ARequestThatExpectsNoReplyEndsOnceTheFrameIsOut) {
  Peer peer([](const Bytes &) { return std::vector<Peer::Piece>{}; });
  ComMapping com1(1, peer.path());
  int16_t h = XQUIB_Open(0, 9600, 0);
  ASSERT_EQ(h, 0);
  Outcome r = Call(h, {'Q', 3, 0x10}, 0);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_TRUE(r.payload.empty());
  EXPECT_EQ(QUIB_Close(h), RC_OK);
  // The frame has left the library; the peer reads it in its own time.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (peer.Requests().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(peer.Requests().size(), 1u);
  EXPECT_EQ(peer.Requests()[0], (Bytes{'Q', 3, 0x10}));
}

TEST(EngineOverPty, SilenceEndsWithNoResponseAfterThreeAttempts) {
  Peer peer([](const Bytes &) { return std::vector<Peer::Piece>{}; });
  ComMapping com1(1, peer.path());
  int16_t h = QUIB_Open(0, 0);
  ASSERT_EQ(h, 0);
  auto start = std::chrono::steady_clock::now();
  Outcome r = Call(h, {'Q', 3, 0x01}, 5, 1);  // a one-second reply time-out
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.status, RC_NO_RESPONSE);
  EXPECT_EQ(peer.Requests().size(), 3u);
  EXPECT_GE(took, std::chrono::milliseconds(3 * (1000 + 140)));
  EXPECT_EQ(QUIB_Close(h), RC_OK);
}

#ifdef SECOND_PROCESS
TEST(EngineOverPty, AnotherProcessCannotOpenAPortThisOneHolds) {
  Peer peer(EchoSecondHalf());
  ComMapping com1(1, peer.path());
  ASSERT_EQ(QUIB_Open(0, 0), 0);
  FILE *child = popen(SECOND_PROCESS, "r");
  ASSERT_NE(child, nullptr);
  int result = 0;
  EXPECT_EQ(fscanf(child, "%d", &result), 1);
  pclose(child);
  EXPECT_EQ(result, RC_PORT_OPEN_FAILED);
  // This process goes on using the port.
  EXPECT_EQ(Call(0, {'Q', 3, 0x22}, 4).payload, Bytes{0x22});
  EXPECT_EQ(QUIB_Close(0), RC_OK);
}
#endif

}  // namespace
