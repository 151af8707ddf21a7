// Block writes: an area write (command 17) or the installation of the
// terminal's operating-system data (command 18), in chunks of at most 1024
// bytes.
#include "core/state.h"
#include "core/trace.h"
#include "engine/engine.h"
#include "graphic/codec.h"
#include "graphic/exchange.h"
#include "graphic/transfers.h"

namespace quib {
namespace {

constexpr uint8_t kMiddleChunk = 1;
constexpr uint8_t kLastChunk = 2;

// The chunks, holding the port's turn from the first on.
int16_t SendChunks(Transfer *transfer, const GraphicCommand &row, uint8_t subcommand,
                   uint16_t field, uint32_t length, const uint8_t *data, uint16_t *status,
                   QUIB_Progress progress, void *user) {
  int16_t rc;
  uint8_t frame[kGraphicFrameSize];
  uint8_t reply[kBufferSize];
  uint32_t remaining = length;
  const uint8_t *next = data;
  uint8_t sequence = 0;
  uint8_t continuation = 0;
  while (remaining > 0) {
    const uint16_t chunk =
        static_cast<uint16_t>(remaining < kGraphicMaxData ? remaining : kGraphicMaxData);
    // First chunk 0, middle chunks 1, last (or only) chunk 2; once the
    // sequence number has wrapped the flag simply stays 1.
    if (remaining <= kGraphicMaxData) {
      continuation = kLastChunk;
    } else if (sequence >= 1) {
      continuation = kMiddleChunk;
    }
    uint16_t expected = 0;
    const uint16_t frame_length = BuildDataRequest(row.Code, subcommand, field, chunk, next, frame,
                                                   &expected, sequence, continuation);
    if (frame_length == 0) return RC_BAD_ARGUMENT;
    DumpFrame(frame);
    uint16_t got = 0;
    rc = ExchangeGraphicFrame(transfer, frame, frame_length, expected, row.Reply, reply, &got);
    if (rc != RC_OK) return rc;
    rc = CheckSingleReply(reply, got, row.Code, subcommand);
    if (rc != RC_OK) return rc;
    rc = StoreTerminalStatus(reply, status);
    if (rc != RC_OK) return rc;

    next += chunk;
    remaining -= chunk;
    ++sequence;
    if (progress != nullptr) {
      CallerCallbackScope callback;
      progress(length - remaining, length, user);
    }
  }
  return RC_OK;
}

}  // namespace

bool AreaWritable(uint8_t area) {
  return area == 1 || (area >= 3 && area <= 6);
}

int16_t WriteChunked(uint16_t handle, GraphicCommandId id, uint8_t subcommand, uint16_t field,
                     uint32_t length, const uint8_t *data, uint16_t *status, QUIB_Progress progress,
                     void *user) {
  const GraphicCommand &row = GraphicCommandOf(id);
  Transfer transfer = BeginTransfer(handle);
  const int16_t rc =
      SendChunks(&transfer, row, subcommand, field, length, data, status, progress, user);
  EndTransfer(&transfer);
  return rc;
}

}  // namespace quib
