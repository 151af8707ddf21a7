#include "engine_support.h"

#include <mutex>

#include "platform/platform.h"

namespace enginetest {

namespace {

std::mutex g_mu;
Recorder g_recorded;

void NoteProbe(uint16_t received, uint16_t expected) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_recorded.probes.push_back({received, expected});
}

}  // namespace

Recorder Recorded() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_recorded;
}

void ClearRecorded() {
  std::lock_guard<std::mutex> lock(g_mu);
  g_recorded = Recorder{};
}

int16_t ProbeFixed(int16_t, uint16_t received, const uint8_t *rx, uint16_t *expected) {
  NoteProbe(received, *expected);
  if (rx[0] != kStart && rx[0] != kRefusal) return RC_BAD_START;
  return 0;
}

int16_t ProbeLengthField(int16_t, uint16_t received, const uint8_t *rx, uint16_t *expected) {
  NoteProbe(received, *expected);
  if (rx[0] == kRefusal) {
    *expected = 1;
    return 0;
  }
  if (rx[0] != kStart) return RC_BAD_START;
  if (received >= 2) *expected = static_cast<uint16_t>(rx[1] + 3);
  return 0;
}

int16_t ProbeToZero(int16_t, uint16_t received, const uint8_t *, uint16_t *expected) {
  NoteProbe(received, *expected);
  *expected = 0;
  return 0;
}

int16_t ProbeHuge(int16_t, uint16_t received, const uint8_t *, uint16_t *expected) {
  NoteProbe(received, *expected);
  *expected = 0xFFFF;
  return 0;
}

int16_t DecodeReply(int16_t, uint16_t length, const uint8_t *rx, uint8_t *payload,
                    uint16_t *payload_length) {
  *payload_length = 0;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_recorded.decoded_lengths.push_back(length);
  }
  if (length == 1 && rx[0] == kRefusal) return kRefusedStatus;
  if (length < 3 || rx[1] != length - 3) return RC_BAD_LENGTH;
  if (rx[0] != kStart) return RC_BAD_START;
  uint8_t check = 0;
  for (int i = 2; i < length - 1; ++i) check ^= rx[i];
  if (check != rx[length - 1]) return RC_CHECKSUM;
  for (int i = 2; i < length - 1; ++i) payload[i - 2] = rx[i];
  *payload_length = static_cast<uint16_t>(length - 3);
  return 0;
}

Result Exchange(uint16_t handle, const Bytes &frame, uint16_t expected, quib::LengthProbe probe,
                quib::ReplyDecoder decoder) {
  std::vector<uint8_t> out(quib::kBufferSize, 0xEE);
  quib::RequestDescriptor request{static_cast<uint16_t>(frame.size()),
                                  expected,
                                  quib::ReplyTimeoutSeconds,
                                  decoder,
                                  probe,
                                  out.data()};
  Result result{};
  result.payload_length = 0xBEEF;
  result.status = quib::TransactionCall(handle, request, frame.data(), &result.payload_length);
  size_t shown = result.payload_length <= out.size() ? result.payload_length : 0;
  // Everything up to the first untouched byte, to catch copies beyond the length.
  size_t end = shown;
  while (end < out.size() && out[end] != 0xEE) ++end;
  result.payload.assign(out.begin(), out.begin() + static_cast<long>(end));
  return result;
}

std::vector<std::string> TracesAmong(const std::vector<std::string> &wanted) {
  std::vector<std::string> found;
  for (const std::string &text : fake::DebugTexts()) {
    for (const std::string &w : wanted) {
      if (text == w) {
        found.push_back(text);
        break;
      }
    }
  }
  return found;
}

int CountTrace(const std::string &text) {
  int n = 0;
  for (const std::string &t : fake::DebugTexts()) n += t == text;
  return n;
}

}  // namespace enginetest
