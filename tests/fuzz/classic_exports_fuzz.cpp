// QUIB_Read, QUIB_Write, QUIB_Open and QUIB_Close over the fake line against
// a classic panel whose replies, pieces and timing the fuzz input decides.
//
// Checked for every call: the request frames on the wire, chunk by chunk; the
// result code, exactly when every attempt met a quiet line (the outcome of
// each attempt is then certain) and otherwise one of the codes the call may
// return; the caller's buffer, written only with the bytes of accepted
// replies and untouched from the failing chunk on; and afterwards a healthy
// exchange on the same channel, which must succeed.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/state.h"
#include "core/trace_handler.h"
#include "fuzz_input.h"
#include "fuzz_terminal.h"
#include "harness.h"
#include "support/fake/fake_line.h"
#include "quiblink/quiblink.h"
#include "support/wire/classic.h"

namespace {

using fuzz::Input;
using wire::Bytes;
namespace cw = wire::classic;

constexpr uint8_t kUnwritten = 0xEE;

struct Panel {
  int port;
  uint16_t model;
  int16_t handles[2];
  fuzz::Terminal terminal;
};

Panel g_panels[] = {{0, 0, {}, {}}, {1, 1, {}, {}}, {2, 2, {}, {}}, {3, 3, {}, {}}, {4, 9, {}, {}}};
int g_inputs = 0;

uint8_t Pattern(size_t k) {
  return static_cast<uint8_t>(k * 29 + 7);
}

// A healthy panel: ACK to a write; to a read, memory bytes from the input,
// else a pattern. The input may make it refuse with NAK.
Bytes Healthy(uint16_t model, const Bytes &frame, Input &in) {
  const bool word = model == 3;
  FUZZ_CHECK(frame.size() >= 11 && frame[0] == cw::STX,
             "not a classic request: " + wire::Dump(frame));
  if (!in.Empty() && in.Byte() >= 240) return {cw::NAK};
  if (frame[1] == (word ? '1' : 'F')) return {cw::ACK};
  FUZZ_CHECK(frame[1] == (word ? '0' : 'E'), "command of a request: " + wire::Dump(frame));
  const size_t at = word ? 6 : 8;
  const unsigned count = cw::HexByte(&frame[at]);
  Bytes memory = in.Bytes(count);
  while (memory.size() < count) memory.push_back(Pattern(memory.size()));
  return cw::ReadReply(model, memory);
}

void OpenPanels() {
  for (Panel &p : g_panels) {
    for (int16_t &h : p.handles) {
      h = QUIB_Open(static_cast<uint16_t>(p.port), p.model);
      FUZZ_CHECK(h >= 0, "open failed: " + std::to_string(h));
    }
    const uint16_t model = p.model;
    p.terminal.Attach(fake::LineOfPort(p.port),
                      [model](const Bytes &frame, Input &in) { return Healthy(model, frame, in); });
  }
}

void StartCycle() {
  std::vector<int16_t> handles;
  for (const Panel &p : g_panels) handles.insert(handles.end(), p.handles, p.handles + 2);
  if (fuzz::StartInput(&g_inputs, handles)) OpenPanels();
}

bool IsOpen(uint16_t handle) {
  for (const Panel &p : g_panels) {
    for (int16_t h : p.handles) {
      if (h == handle) return true;
    }
  }
  return false;
}

uint16_t PickHandle(const Panel &p, Input &in) {
  const uint8_t pick = in.Byte() % 16;
  if (pick < 12) return static_cast<uint16_t>(p.handles[0]);
  if (pick < 14) return static_cast<uint16_t>(p.handles[1]);
  if (pick < 15) return 31;  // a free slot
  return static_cast<uint16_t>(32 + in.Byte());
}

int32_t PickAddress(Input &in) {
  switch (in.Byte() % 5) {
    case 0:
      return 0;
    case 1:
      return static_cast<int32_t>(in.Range(3880, 4000));  // around the word panels' hole
    case 2:
      return static_cast<int32_t>(in.U32());
    default:
      return static_cast<int32_t>(in.Range(0, 0x2000));
  }
}

uint16_t PickCount(Input &in) {
  const uint8_t pick = in.Byte();
  if (pick < 8) return 0;
  if (pick < 240) return static_cast<uint16_t>(in.Range(1, 200));
  return static_cast<uint16_t>(in.Range(1, 4096));
}

bool AllowedCode(int16_t rc) {
  return rc == wire::kOk || rc == wire::kNak || rc == wire::kNoEtx || fuzz::ExchangeFailure(rc);
}

// The refusals a call makes before any exchange; 0 when it goes ahead.
int16_t Refusal(uint16_t model, uint16_t handle, bool read, uint16_t area, int32_t address,
                uint16_t count, bool pointer) {
  if (handle >= 32) return wire::kBadArgument;
  if (!IsOpen(handle)) return wire::kNotOpen;
  if (count == 0 || !pointer) return wire::kBadArgument;
  if (read && model != 3 && area > 3) return wire::kBadArgument;
  if (!read && area != 0) return wire::kBadArgument;
  if (cw::SplitsWord(model, address, count)) return wire::kBadArgument;
  if (!cw::FitsTheWire(model, area, address, count, read)) return wire::kBadArgument;
  return wire::kOk;
}

void CheckIdle(const Panel &p) {
  fuzz::CheckIdle(p.port, p.handles, 2);
}

void Read(Panel &p, Input &in) {
  const uint16_t handle = PickHandle(p, in);
  const uint16_t area = static_cast<uint16_t>(in.Byte() < 230 ? in.Range(0, 3) : in.U16());
  const int32_t address = PickAddress(in);
  const uint16_t count = PickCount(in);
  const bool pointer = in.Byte() != 0xFF;
  std::vector<uint8_t> buffer(count ? count : 1, kUnwritten);

  p.terminal.TakeLog();
  const int16_t rc = QUIB_Read(handle, area, address, pointer ? buffer.data() : nullptr, count);
  const std::vector<fuzz::Exchange> log = p.terminal.TakeLog();
  CheckIdle(p);

  const int16_t refusal = Refusal(p.model, handle, true, area, address, count, pointer);
  if (fuzz::CheckRefusal("QUIB_Read", rc, refusal, log)) {
    FUZZ_CHECK(buffer == std::vector<uint8_t>(buffer.size(), kUnwritten), "refused read wrote");
    return;
  }
  const std::vector<cw::Chunk> chunks = cw::Chunks(p.model, address, count, 64);
  auto frame_at = [&](size_t i) {
    return cw::ReadRequest(p.model, area, chunks[i].request_address, chunks[i].count);
  };

  std::vector<uint8_t> want(buffer.size(), kUnwritten);
  int16_t want_rc = wire::kOk;
  bool predictable = !p.terminal.IsTroubled();
  size_t next = 0;
  for (size_t i = 0; i < chunks.size() && predictable; ++i) {
    const unsigned n = chunks[i].count;
    const fuzz::RequestOutcome o =
        fuzz::WalkRequest(log, &next, frame_at(i),
                          [&](const Bytes &got) { return cw::ReadAttempt(p.model, n, got); });
    predictable = o.predictable;
    if (!predictable) break;
    if (o.status != 0) {
      want_rc = o.status;
      break;
    }
    memcpy(want.data() + chunks[i].offset, o.payload.data(), n);
  }
  fuzz::Stats::Note("QUIB_Read", predictable, rc);
  if (predictable) {
    FUZZ_CHECK(next == log.size(), "requests after the read ended");
    FUZZ_CHECK(rc == want_rc, "read " + std::to_string(rc) + " wanted " + std::to_string(want_rc));
    FUZZ_CHECK(buffer == want, "read buffer holds other bytes than the accepted replies");
    return;
  }
  FUZZ_CHECK(AllowedCode(rc), "read returned " + std::to_string(rc));
  const int last = fuzz::WalkInOrder(log, chunks.size(), frame_at);
  if (rc == 0) {
    FUZZ_CHECK(last >= 0 && static_cast<size_t>(last) + 1 == chunks.size(), "read succeeded early");
  } else {
    // Nothing of the chunk that failed, or of any after it, reaches the buffer.
    for (size_t i = last >= 0 ? chunks[last].offset : 0; i < buffer.size(); ++i) {
      FUZZ_CHECK(buffer[i] == kUnwritten, "failed chunk wrote the buffer");
    }
  }
}

void Write(Panel &p, Input &in) {
  const uint16_t handle = PickHandle(p, in);
  const uint16_t area = static_cast<uint16_t>(in.Byte() < 240 ? 0 : in.Range(1, 4));
  const int32_t address = PickAddress(in);
  const uint16_t count = PickCount(in);
  const bool pointer = in.Byte() != 0xFF;
  Bytes data = in.Bytes(count);
  while (data.size() < count) data.push_back(static_cast<uint8_t>(data.size() ^ 0x5A));
  const Bytes original = data;

  p.terminal.TakeLog();
  const int16_t rc = QUIB_Write(handle, area, address, count, pointer ? data.data() : nullptr);
  const std::vector<fuzz::Exchange> log = p.terminal.TakeLog();
  CheckIdle(p);
  FUZZ_CHECK(data == original, "write changed the caller's data");

  const int16_t refusal = Refusal(p.model, handle, false, area, address, count, pointer);
  if (fuzz::CheckRefusal("QUIB_Write", rc, refusal, log)) return;
  std::vector<Bytes> frames;
  if (p.model == 3 && address == 0) {
    const Bytes preamble = cw::Preamble();
    frames.push_back(cw::WriteRequest(3, -36, preamble.data(), 36));
  }
  for (const cw::Chunk &c : cw::Chunks(p.model, address, count, 32)) {
    frames.push_back(cw::WriteRequest(p.model, c.request_address, data.data() + c.offset, c.count));
  }

  int16_t want_rc = wire::kOk;
  bool predictable = !p.terminal.IsTroubled();
  size_t next = 0;
  for (size_t i = 0; i < frames.size() && predictable; ++i) {
    const Bytes &frame = frames[i];
    const fuzz::RequestOutcome o = fuzz::WalkRequest(log, &next, frame, cw::WriteAttempt);
    predictable = o.predictable;
    if (!predictable) break;
    if (o.status != 0) {
      want_rc = o.status;
      break;
    }
  }
  fuzz::Stats::Note("QUIB_Write", predictable, rc);
  if (predictable) {
    FUZZ_CHECK(next == log.size(), "requests after the write ended");
    FUZZ_CHECK(rc == want_rc, "write " + std::to_string(rc) + " wanted " + std::to_string(want_rc));
    return;
  }
  FUZZ_CHECK(AllowedCode(rc), "write returned " + std::to_string(rc));
  const int last = fuzz::WalkInOrder(log, frames.size(), [&](size_t i) { return frames[i]; });
  FUZZ_CHECK(rc != 0 || static_cast<size_t>(last) + 1 == frames.size(), "write succeeded early");
}

// The second channel of the port closes and opens again: the port stays
// open for the first, and the freed slot is the one handed out again.
void Reopen(Panel &p, Input &in) {
  const int16_t h = p.handles[1];
  FUZZ_CHECK(QUIB_Close(static_cast<uint16_t>(h)) == 0, "close of an open channel");
  FUZZ_CHECK(QUIB_Close(static_cast<uint16_t>(h)) == wire::kPortOpenFailed, "second close");
  FUZZ_CHECK(QUIB_Open(static_cast<uint16_t>(10 + in.Byte()), 0) == wire::kBadPort, "port above 9");
  p.handles[1] = QUIB_Open(static_cast<uint16_t>(p.port), in.U16());
  FUZZ_CHECK(p.handles[1] == h, "reopen took slot " + std::to_string(p.handles[1]));
}

// A read or write while the line is in trouble: no outcome is certain, but
// the call must end with one of its own codes and the channel must recover.
void Trouble(Panel &p, Input &in) {
  fuzz::LineTrouble trouble(fake::LineOfPort(p.port), in);
  p.terminal.Troubled(true);
  if (in.Bool()) {
    Read(p, in);
  } else {
    Write(p, in);
  }
  p.terminal.Troubled(false);
}

int FreeSlots() {
  int free = 0;
  for (const quib::HandleEntry &e : quib::State.Handles) free += e.Port.load() == -1;
  return free;
}

// An open that fails half-way leaves nothing behind: no slot taken, device
// closed, no semaphores; and the next open of the port works.
void FailedOpen(Panel &, Input &in) {
  fake::Line &line = fake::LineOfPort(9);
  int16_t want = wire::kPortOpenFailed;
  switch (in.Byte() % 4) {
    case 0:
      line.FailOpen(1);
      break;
    case 1:
      line.FailSetup(1);
      break;
    case 2:
      fake::FailSemaphoreCreate(in.Bool() ? "PortSema9" : "RxSema9");
      want = wire::kSequence;
      break;
    default:
      fake::FailThreadCreate(1);
      break;
  }
  const int free = FreeSlots();
  const int16_t rc = QUIB_Open(9, 0);
  FUZZ_CHECK(rc == want, "failed open " + std::to_string(rc) + " wanted " + std::to_string(want));
  FUZZ_CHECK(FreeSlots() == free && !line.IsOpen(), "failed open left a slot or the device");
  FUZZ_CHECK(!fake::SemaphoreExists("PortSema9") && !fake::SemaphoreExists("RxSema9"),
             "failed open left a semaphore");
  FUZZ_CHECK(quib::State.Ports[9].OpenCount == -1, "failed open left the port open");
  const int16_t h = QUIB_Open(9, 0);
  FUZZ_CHECK(h >= 0 && line.IsOpen(), "open after a failed open");
  FUZZ_CHECK(QUIB_Close(static_cast<uint16_t>(h)) == 0 && !line.IsOpen(), "close after it");
}

// A healthy exchange once the input is spent: the channel must still work.
void CheckUsable(Panel &p) {
  p.terminal.Drive(nullptr);
  fake::Advance(60000);  // whatever the terminal still had to say has arrived
  uint8_t got[4] = {};
  const int16_t rc = QUIB_Read(static_cast<uint16_t>(p.handles[0]), 0, 0x10, got, 4);
  FUZZ_CHECK(rc == 0, "channel unusable afterwards: " + std::to_string(rc));
  for (size_t k = 0; k < 4; ++k) FUZZ_CHECK(got[k] == Pattern(k), "healthy read afterwards");
  p.terminal.TakeLog();
  CheckIdle(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  StartCycle();
  Input in(data, size);
  Panel &p = g_panels[in.Byte() % 5];
  p.terminal.Drive(&in);
  // What an input does most: writes, then reads; now and then a channel
  // reopens, an open fails or the line is in trouble.
  static void (*const kOps[16])(Panel &, Input &) = {
      Write,   Write, Write, Write, Write, Reopen, FailedOpen, Trouble,
      Trouble, Read,  Read,  Read,  Read,  Read,   Read,       Read};
  for (int op = 0; op < 6 && !in.Empty(); ++op) kOps[in.Byte() % 16](p, in);
  CheckUsable(p);
  return 0;
}
