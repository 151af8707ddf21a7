#include "wire/classic_frame.h"

#include <utility>

namespace quiblink::wire::classic {

namespace {
int UpperHexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

long ReadDigits(const uint8_t *p, int count) {
  long value = 0;
  for (int i = 0; i < count; ++i) {
    int d = UpperHexDigit(p[i]);
    if (d < 0) return -1;
    value = value * 16 + d;
  }
  return value;
}

void SwapPairs(Bytes &data) {
  for (size_t i = 0; i + 1 < data.size(); i += 2) std::swap(data[i], data[i + 1]);
}

bool ChecksumGood(const Bytes &frame) {
  const size_t size = frame.size();
  if (size < 4 || frame[size - 3] != kEtx) return false;
  unsigned sum = 0;
  for (size_t i = 1; i <= size - 3; ++i) sum += frame[i];
  return ReadDigits(&frame[size - 2], 2) == static_cast<long>(sum & 0xFF);
}

std::string ParseRequest(const Bytes &frame, bool short_address, Request *request) {
  const int address_digits = short_address ? 4 : 6;
  const size_t header = 2 + address_digits + 2;
  const size_t size = frame.size();
  if (size < header + 3 || frame[0] != kStx || frame[size - 3] != kEtx) return "malformed frame";
  if (!ChecksumGood(frame)) return "checksum mismatch";
  const uint8_t read_char = short_address ? '0' : 'E';
  const uint8_t write_char = short_address ? '1' : 'F';
  if (frame[1] != read_char && frame[1] != write_char) return "command not served by this model";
  request->read = frame[1] == read_char;
  request->command = frame[1];
  long address = ReadDigits(&frame[2], address_digits);
  long count = ReadDigits(&frame[2 + address_digits], 2);
  if (address < 0 || count < 0) return "not an upper-case hex digit";
  if (count == 0 || count > static_cast<long>(kMaxCount)) return "byte count out of range";
  request->address = static_cast<uint32_t>(address);
  request->count = static_cast<unsigned>(count);
  const size_t data_digits = request->read ? 0 : 2 * request->count;
  if (size != header + data_digits + 3) return "frame length does not match the byte count";
  if (short_address && request->count % 2 != 0) return "odd byte count";
  request->data.clear();
  for (size_t i = 0; i < data_digits; i += 2) {
    long value = ReadDigits(&frame[header + i], 2);
    if (value < 0) return "not an upper-case hex digit";
    request->data.push_back(static_cast<uint8_t>(value));
  }
  if (short_address) SwapPairs(request->data);
  return "";
}

std::string DescribeReply(const Bytes &reply) {
  if (reply.empty()) return "nothing";
  if (reply.size() == 1 && reply[0] == kAck) return "ACK";
  if (reply.size() == 1 && reply[0] == kNak) return "NAK";
  if (reply.size() >= 4 && reply[0] == kStx) {
    return "data, " + std::to_string((reply.size() - 4) / 2) + " bytes";
  }
  return "?";
}

}  // namespace quiblink::wire::classic
