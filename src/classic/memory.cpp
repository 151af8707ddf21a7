// Reads and writes of panel memory: a run of memory moved in chunks, one
// request frame and one transaction per chunk.
#include "classic/memory.h"

#include "classic/codec.h"
#include "core/state.h"
#include "core/trace.h"
#include "engine/engine.h"
#include "quiblink/quiblink.h"

namespace quib {
namespace {

constexpr uint16_t kReadChunk = 64;
constexpr uint16_t kWriteChunk = 32;

// Written below address 0 before a model-3 panel's memory is rewritten from
// its start; the panel takes it as the header of new screen data.
constexpr int32_t kPreambleAddress = -36;
constexpr uint8_t kPreamble[36] = {'t', 'h', 'e', 's', 'e', ' ', 'a', 'r', 'e',  ' ',  't',  'h',
                                   'e', ' ', 's', 'c', 'r', 'e', 'e', 'n', ' ',  'd',  'a',  't',
                                   'a', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x00, 0x18, 0x10, 0x00};

// Frame buffers, sized for the longest frame of any model: the byte panels'
// read and chunk, and the word panels' preamble.
constexpr uint16_t Larger(uint16_t a, uint16_t b) {
  return a > b ? a : b;
}
constexpr uint16_t kReadFrameSize =
    Larger(ClassicReadFrameSize(0), ClassicReadFrameSize(kClassicModelWord));
constexpr uint16_t kWriteFrameSize =
    Larger(ClassicWriteFrameSize(0, kWriteChunk),
           ClassicWriteFrameSize(kClassicModelWord, sizeof kPreamble));

// Model-3 panels have a hole of eight wire addresses after logical address
// 3959: everything from 3960 on sits 8 higher, and no request spans the hole.
constexpr int64_t kGapStart = 3960;
constexpr int64_t kGapSize = 8;

uint16_t ModelOfChannel(uint16_t handle) {
  // Another thread may have closed the channel since its check: it has no
  // port then, and the transaction call refuses whatever was built for it.
  const int16_t port = PortOfChannel(handle);
  return port < kPortCount ? State.Ports[port].ModelCode : 0;
}

// One chunk of a transfer: at most limit bytes, cut at the address gap, and
// the address its request carries.
struct Chunk {
  uint16_t Count;
  int32_t RequestAddress;
};

Chunk NextChunk(uint16_t model, int64_t logical, uint16_t remaining, uint16_t limit) {
  Chunk chunk{remaining < limit ? remaining : limit, 0};
  int64_t request = logical;
  if (model == kClassicModelWord) {
    if (logical >= kGapStart) {
      request = logical + kGapSize;
    } else if (logical + chunk.Count >= kGapStart) {
      chunk.Count = static_cast<uint16_t>(kGapStart - logical);
    }
  }
  // In range: the whole transfer fits the wire (AddressesFitTheWire).
  chunk.RequestAddress = static_cast<int32_t>(request);
  return chunk;
}

// True when the wire address of every byte of the transfer fits the request's
// address digits: none below 0 (the digits would carry it as a high address)
// and none above the limit. Wire addresses grow with logical ones (the gap
// only adds), so the first and the last byte decide. A negative logical
// address whose wire address is not (a read below an area's start, model 3
// below 0x8080) reaches memory that is there.
bool AddressesFitTheWire(uint16_t model, uint16_t area, int32_t address, uint16_t count,
                         bool read) {
  const int64_t offset = ClassicWireOffset(model, area, read);
  const int64_t first = static_cast<int64_t>(address) + offset;
  const int64_t last_logical = static_cast<int64_t>(address) + count - 1;
  const int64_t gap = model == kClassicModelWord && last_logical >= kGapStart ? kGapSize : 0;
  return first >= 0 && last_logical + gap + offset <= ClassicWireLimit(model);
}

// A model-3 panel moves whole words: an odd count, or an odd start below the
// gap that the cut at the gap would split into two odd chunks, cannot travel.
// Checked before the first exchange so that such a transfer is refused whole.
bool SplitsWord(uint16_t model, int32_t address, uint16_t count) {
  if (model != kClassicModelWord) return false;
  if (count % 2 != 0) return true;
  const int64_t start = address;
  return start < kGapStart && start + count > kGapStart && (kGapStart - start) % 2 != 0;
}

int16_t SendWrite(Transfer *transfer, const uint8_t *frame, uint16_t length, uint16_t expected) {
  RequestDescriptor request{
      length, expected, ReplyTimeoutSeconds, DecodeClassicWrite, ProbeClassicWrite, nullptr};
  return TransferCall(transfer, request, frame);
}

int16_t WritePreamble(Transfer *transfer, uint16_t model) {
  Trace("ENTER!!\n");
  uint8_t frame[kWriteFrameSize];
  uint16_t expected = 0;
  const uint16_t length =
      BuildClassicWrite(model, kPreambleAddress, sizeof kPreamble, kPreamble, frame, &expected);
  if (length == 0) return RC_BAD_ARGUMENT;
  Trace("ENTER PART2!!\n");
  return SendWrite(transfer, frame, length, expected);
}

// The chunks of a read, holding the port's turn from the first on.
int16_t ReadChunks(Transfer *transfer, uint16_t model, uint16_t area, int32_t address,
                   uint8_t *buffer, uint16_t count) {
  uint16_t remaining = count;
  int64_t logical = address;
  uint8_t *position = buffer;
  for (;;) {
    const Chunk chunk = NextChunk(model, logical, remaining, kReadChunk);
    uint8_t frame[kReadFrameSize];
    uint16_t expected = 0;
    const uint16_t length =
        BuildClassicRead(model, area, chunk.RequestAddress, chunk.Count, frame, &expected);
    if (length == 0) return RC_BAD_ARGUMENT;
    RequestDescriptor request{length,           expected, ReplyTimeoutSeconds, DecodeClassicRead,
                              ProbeClassicRead, position};
    uint16_t received = 0;
    const int16_t status = TransferCall(transfer, request, frame, &received);
    if (status != RC_OK) return status;
    // A good reply always brings the whole chunk; anything less would leave
    // a hole in the caller's buffer behind a success.
    if (received != chunk.Count) return RC_INCOMPLETE;
    position += chunk.Count;
    logical += chunk.Count;
    remaining = static_cast<uint16_t>(remaining - chunk.Count);
    if (remaining == 0) return RC_OK;
  }
}

// The preamble (when due) and the chunks of a write, holding the port's turn
// from the first on.
int16_t WriteChunks(Transfer *transfer, uint16_t model, int32_t address, uint16_t count,
                    const uint8_t *data) {
  if (model == kClassicModelWord && address == 0) {
    const int16_t status = WritePreamble(transfer, model);
    if (status != RC_OK) return status;
  }
  uint16_t remaining = count;
  int64_t logical = address;
  const uint8_t *position = data;
  for (;;) {
    const Chunk chunk = NextChunk(model, logical, remaining, kWriteChunk);
    uint8_t frame[kWriteFrameSize];
    uint16_t expected = 0;
    const uint16_t length =
        BuildClassicWrite(model, chunk.RequestAddress, chunk.Count, position, frame, &expected);
    if (length == 0) return RC_BAD_ARGUMENT;
    DumpFrame(frame);
    const int16_t status = SendWrite(transfer, frame, length, expected);
    if (status != RC_OK) return status;
    position += chunk.Count;
    logical += chunk.Count;
    remaining = static_cast<uint16_t>(remaining - chunk.Count);
    if (remaining == 0) return RC_OK;
  }
}

}  // namespace

int16_t ReadPanelMemory(uint16_t handle, uint16_t area, int32_t address, uint8_t *buffer,
                        uint16_t count) {
  const uint16_t model = ModelOfChannel(handle);
  if (model != kClassicModelWord && area > kClassicMaxArea) return RC_BAD_ARGUMENT;
  if (SplitsWord(model, address, count)) return RC_BAD_ARGUMENT;
  if (!AddressesFitTheWire(model, area, address, count, true)) return RC_BAD_ARGUMENT;

  Transfer transfer = BeginTransfer(handle);
  const int16_t status = ReadChunks(&transfer, model, area, address, buffer, count);
  EndTransfer(&transfer);
  return status;
}

int16_t WritePanelMemory(uint16_t handle, uint16_t area, int32_t address, uint16_t count,
                         const uint8_t *data) {
  const uint16_t model = ModelOfChannel(handle);
  if (SplitsWord(model, address, count)) return RC_BAD_ARGUMENT;
  if (!AddressesFitTheWire(model, area, address, count, false)) return RC_BAD_ARGUMENT;

  Transfer transfer = BeginTransfer(handle);
  const int16_t status = WriteChunks(&transfer, model, address, count, data);
  EndTransfer(&transfer);
  return status;
}

}  // namespace quib
