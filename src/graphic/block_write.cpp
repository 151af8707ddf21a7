// Block writes: an area write (command 17) or the installation of the
// terminal's operating-system data (command 18), in chunks of at most 1024
// bytes.
#include "core/state.h"
#include "core/trace.h"
#include "graphic/codec.h"
#include "graphic/exchange.h"
#include "graphic/transfers.h"

namespace quib {
namespace {

constexpr uint8_t kAreaWrite = 17;
constexpr uint8_t kInstall = 18;
constexpr uint8_t kMiddleChunk = 1;
constexpr uint8_t kLastChunk = 2;

// The chunks, holding the port's turn from the first on.
int16_t SendChunks(Transfer *transfer, uint8_t command, uint8_t subcommand, uint16_t field,
                   uint32_t length, const uint8_t *data, uint16_t *status, QUIB_Progress progress,
                   void *user) {
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
    const uint16_t frame_length = BuildDataRequest(command, subcommand, field, chunk, next, frame,
                                                   &expected, sequence, continuation);
    if (frame_length == 0) return RC_BAD_ARGUMENT;
    DumpFrame(frame);
    uint16_t got = 0;
    rc = ExchangeGraphicFrame(transfer, frame, frame_length, expected, ProbeGraphicStart, reply,
                              &got);
    if (rc != RC_OK) return rc;

    if (!PayloadCovers(got, 0, kPayloadHeaderSize)) return RC_BAD_LENGTH;
    if (reply[kPayloadCommand] != command || reply[kPayloadSubcommand] != subcommand) {
      return RC_BAD_ECHO;
    }
    if (reply[kPayloadContinuation] != 0 || reply[kPayloadSequence] != 0) return RC_SEQUENCE;
    rc = StoreTerminalStatus(reply, status);
    if (rc != RC_OK) return rc;

    next += chunk;
    remaining -= chunk;
    ++sequence;
    if (progress != nullptr) progress(length - remaining, length, user);
  }
  return RC_OK;
}

}  // namespace

bool AreaWritable(uint8_t area) {
  return area == 1 || (area >= 3 && area <= 6);
}

int16_t WriteChunked(uint16_t handle, uint8_t command, uint8_t subcommand, uint16_t field,
                     uint32_t length, const uint8_t *data, uint16_t *status, QUIB_Progress progress,
                     void *user) {
  Trace("WRITE command\n");
  const int16_t checked = CheckGraphicChannel(handle);
  if (checked != RC_OK) return checked;
  if (data == nullptr || status == nullptr) return RC_BAD_ARGUMENT;
  Transfer transfer = BeginTransfer(handle);
  const int16_t rc =
      SendChunks(&transfer, command, subcommand, field, length, data, status, progress, user);
  EndTransfer(&transfer);
  return rc;
}

int16_t WriteArea(uint16_t handle, uint8_t area, uint16_t group, uint32_t length,
                  const uint8_t *data, uint16_t *status, QUIB_Progress progress, void *user) {
  return WriteChunked(handle, kAreaWrite, area, group, length, data, status, progress, user);
}

int16_t InstallOs(uint16_t handle, uint8_t subcommand, uint8_t option, uint32_t length,
                  const uint8_t *data, uint16_t *status, QUIB_Progress progress, void *user) {
  return WriteChunked(handle, kInstall, subcommand, option, length, data, status, progress, user);
}

}  // namespace quib
