// Frames built and decoded per second by the two codecs: the work the
// library does per exchange besides waiting for the line.
#include <benchmark/benchmark.h>

#include <vector>

#include "classic/codec.h"
#include "core/state.h"
#include "graphic/codec.h"

namespace {

std::vector<uint8_t> Data(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
  return data;
}

void GraphicBuildBlock(benchmark::State &state) {
  const std::vector<uint8_t> data = Data(1024);
  uint8_t frame[quib::kGraphicFrameSize];
  uint16_t expected = 0;
  for (auto _ : state) {
    uint16_t length = quib::BuildDataRequest(17, 3, 0, 1024, data.data(), frame, &expected, 0, 2);
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 1024);
}
BENCHMARK(GraphicBuildBlock);

void GraphicBuildQuery(benchmark::State &state) {
  uint8_t frame[quib::kGraphicFrameSize];
  uint16_t expected = 0;
  for (auto _ : state) {
    uint16_t length = quib::BuildGraphicRequest(0x52, 1, 0, frame, &expected, 0);
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(GraphicBuildQuery);

// A block-read reply: FF, length field, 21 03, flag, sequence, status,
// count, 1024 data bytes, checksum.
void GraphicDecodeBlock(benchmark::State &state) {
  const std::vector<uint8_t> data = Data(1024);
  uint8_t rx[quib::kBufferSize] = {
      quib::kGraphicReplyStart, 0x08, 0x04, 0x21, 0x03, 0, 0, 0, 0x00, 0x04};
  std::copy(data.begin(), data.end(), rx + 10);
  const uint16_t length = quib::GraphicChecksum(1032, rx);
  uint8_t payload[quib::kBufferSize];
  for (auto _ : state) {
    uint16_t expected = 1037;
    const int16_t probed = quib::ProbeGraphicLength(0, length, rx, &expected);
    uint16_t n = 0;
    const int16_t status = quib::DecodeGraphicReply(0, expected, rx, payload, &n);
    if (probed != 0 || status != 0 || n != length - 2) state.SkipWithError("reply refused");
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 1024);
}
BENCHMARK(GraphicDecodeBlock);

// Classic frames of a model-0 panel, read on port 0.
constexpr uint16_t kClassicModel = 0;

void ClassicBuildWrite(benchmark::State &state) {
  const std::vector<uint8_t> data = Data(32);
  uint8_t frame[quib::ClassicWriteFrameSize(kClassicModel, 32)];
  uint16_t expected = 0;
  for (auto _ : state) {
    uint16_t length =
        quib::BuildClassicWrite(kClassicModel, 0x100, 32, data.data(), frame, &expected);
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 32);
}
BENCHMARK(ClassicBuildWrite);

void ClassicBuildRead(benchmark::State &state) {
  uint8_t frame[quib::ClassicReadFrameSize(kClassicModel)];
  uint16_t expected = 0;
  for (auto _ : state) {
    uint16_t length = quib::BuildClassicRead(kClassicModel, 0, 0x100, 64, frame, &expected);
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ClassicBuildRead);

// A 64-byte read reply: STX, 128 hex digits, ETX, checksum digits. The
// decoder takes the count from the request in the port's TxBuffer.
void ClassicDecodeRead(benchmark::State &state) {
  uint16_t expected = 0;
  quib::BuildClassicRead(kClassicModel, 0, 0x100, 64, quib::State.Ports[0].TxBuffer, &expected);
  const std::vector<uint8_t> data = Data(64);
  uint8_t rx[2 * 64 + 8] = {quib::kStx};
  for (int i = 0; i < 64; ++i) quib::PutHex(data[i], rx + 1 + 2 * i, 2);
  const uint16_t length = quib::TerminateClassicFrame(rx, 1 + 2 * 64);
  uint8_t payload[quib::kBufferSize];
  for (auto _ : state) {
    uint16_t want = expected;
    const int16_t probed = quib::ProbeClassicRead(0, length, rx, &want);
    uint16_t n = 0;
    const int16_t status = quib::DecodeClassicRead(0, want, rx, payload, &n);
    if (probed != 0 || status != 0 || n != 64) state.SkipWithError("reply refused");
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 64);
}
BENCHMARK(ClassicDecodeRead);

}  // namespace
