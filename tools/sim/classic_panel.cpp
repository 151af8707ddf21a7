#include "sim/classic_panel.h"

#include "wire/classic_frame.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace quiblink::sim {

namespace {
using classic::kAck;
using classic::kEtx;
using classic::kNak;
using classic::kStx;
using classic::SwapPairs;
// Wire addresses have at most six digits; the control socket moves at most 64 KiB at once.
constexpr long long kMaxWireAddress = 0xFFFFFF;
constexpr long long kMaxControlCount = 0x10000;
constexpr char kDigits[] = "0123456789ABCDEF";

// Fresh memory holds a pattern that differs from address to address, so a read at the wrong
// address shows.
uint8_t FillByte(uint32_t address) {
  uint32_t x = address * 2654435761u;
  return static_cast<uint8_t>((x >> 24) ^ (x >> 11));
}

ClassicPanel::Region MakeRegion(std::string name, uint32_t start, uint32_t end, bool writable) {
  ClassicPanel::Region region{std::move(name), start, Bytes(end - start), writable};
  for (uint32_t i = 0; i < region.data.size(); ++i) region.data[i] = FillByte(start + i);
  return region;
}

void PutDigits(Bytes &out, uint8_t value) {
  out.push_back(static_cast<uint8_t>(kDigits[value >> 4]));
  out.push_back(static_cast<uint8_t>(kDigits[value & 0x0F]));
}

std::string RegionFileName(const ClassicPanel::Region &region) {
  char name[32];
  std::snprintf(name, sizeof name, "mem-%06X.bin", region.start);
  return name;
}
}  // namespace

ClassicPanel::ClassicPanel(int model) : model_(model) {
  // The memory of each model, region by region, by wire address (-1: any model not named).
  struct Span {
    int model;
    const char *name;
    uint32_t start, end;
    bool writable;
  };
  static constexpr Span kSpans[] = {
      {3, "low", kPreambleAddress, kGapStart, true},
      {3, "high", kGapEnd, 0x10000, true},
      {1, "area0", 0x0, 0x10000, true},
      {1, "area1", 0x10000, 0x12000, false},
      {1, "area2", 0x12000, 0x12800, false},
      {1, "area3", 0x12800, 0x13000, false},
      {0, "area0", 0x0, 0x10000, true},
      {0, "area1", 0x20000, 0x22000, false},
      {0, "area2", 0x22000, 0x2232A, false},
      {0, "area3", 0x2232A, 0x22B2A, false},
      {-1, "area0", 0x0, 0x10000, true},
      {-1, "area1", 0x20000, 0x22000, false},
      {-1, "area2", 0x22000, 0x22800, false},
      {-1, "area3", 0x22800, 0x23000, false},
  };
  const int row = model == 3 || model == 1 || model == 0 ? model : -1;
  for (const Span &span : kSpans) {
    if (span.model == row)
      regions_.push_back(MakeRegion(span.name, span.start, span.end, span.writable));
  }
}

const ClassicPanel::Region *ClassicPanel::Find(uint32_t address, size_t count) const {
  // Regions that touch form one run of memory; a request may cross from one to the next. The
  // arithmetic is 64-bit: a run that would end beyond 32 bits must not wrap round.
  uint64_t at = address;
  const uint64_t end = static_cast<uint64_t>(address) + count;
  const Region *first = nullptr;
  for (const Region &r : regions_) {
    uint64_t r_end = static_cast<uint64_t>(r.start) + r.data.size();
    if (at >= r.start && at < r_end) {
      if (!first) first = &r;
      at = r_end;
      if (at >= end) return first;
    }
  }
  return nullptr;
}

ClassicPanel::Region *ClassicPanel::Find(uint32_t address, size_t count, bool for_write) {
  const Region *found = static_cast<const ClassicPanel *>(this)->Find(address, count);
  if (!found) return nullptr;
  if (for_write) {
    const uint64_t end = static_cast<uint64_t>(address) + count;
    for (const Region &r : regions_) {
      bool overlaps = r.start < end && address < static_cast<uint64_t>(r.start) + r.data.size();
      if (overlaps && !r.writable) return nullptr;
    }
  }
  return const_cast<Region *>(found);
}

bool ClassicPanel::Peek(uint32_t address, size_t count, Bytes *out) const {
  if (!Find(address, count)) return false;
  out->clear();
  for (uint64_t a = address; a < static_cast<uint64_t>(address) + count; ++a) {
    for (const Region &r : regions_) {
      if (a >= r.start && a < r.start + r.data.size()) out->push_back(r.data[a - r.start]);
    }
  }
  return true;
}

bool ClassicPanel::Poke(uint32_t address, const Bytes &data) {
  if (!Find(address, data.size())) return false;
  for (size_t i = 0; i < data.size(); ++i) {
    uint64_t a = static_cast<uint64_t>(address) + i;
    for (Region &r : regions_) {
      if (a >= r.start && a < r.start + r.data.size()) r.data[a - r.start] = data[i];
    }
  }
  dirty_ = true;
  return true;
}

RequestKey ClassicPanel::Classify(const Bytes &request) const {
  RequestKey key;
  if (request.size() < 2) return key;
  key.command = request[1];
  key.read = request[1] == (model_ == 3 ? '0' : 'E');
  return key;
}

std::string ClassicPanel::Parse(const Bytes &frame, Request *request) const {
  return classic::ParseRequest(frame, model_ == 3, request);
}

Reply ClassicPanel::Nak(std::string why) {
  ++counters_.naks;
  return Reply{{kNak}, ReplyShape::kNak, std::move(why), 0};
}

Reply ClassicPanel::Handle(const Bytes &frame) {
  Request request;
  std::string refusal = Parse(frame, &request);
  if (!refusal.empty()) return Nak(refusal);
  Region *region = Find(request.address, request.count, !request.read);
  if (!region) {
    return Nak(request.read ? "address outside memory" : "address outside writable memory");
  }
  if (!request.read) {
    Poke(request.address, request.data);
    ++counters_.writes;
    if (model_ == 3 && request.address == kPreambleAddress && request.count == 36) {
      ++counters_.preamble_writes;
    }
    return Reply{{kAck}, ReplyShape::kAck, "", 0};
  }
  Bytes data;
  Peek(request.address, request.count, &data);
  if (model_ == 3) SwapPairs(data);
  Bytes reply{kStx};
  for (uint8_t b : data) PutDigits(reply, b);
  reply.push_back(kEtx);
  unsigned sum = 0;
  for (size_t i = 1; i < reply.size(); ++i) sum += reply[i];
  PutDigits(reply, static_cast<uint8_t>(sum));
  ++counters_.reads;
  return Reply{std::move(reply), ReplyShape::kClassicData, "", 0};
}

std::string ClassicPanel::DescribeRequest(const Bytes &frame) const {
  Request request;
  std::string refusal = Parse(frame, &request);
  if (!refusal.empty()) return "refused: " + refusal;
  char text[96];
  std::snprintf(text, sizeof text, "%s addr=%0*X n=%u", request.read ? "read" : "write",
                model_ == 3 ? 4 : 6, request.address, request.count);
  std::string out = text;
  if (model_ == 3 && request.address == kPreambleAddress && !request.read) out += " (preamble)";
  return out;
}

std::string ClassicPanel::DescribeReply(const Bytes &reply) const {
  return classic::DescribeReply(reply);
}

Image ClassicPanel::ToImage() const {
  Image image;
  image["meta.txt"] = Bytes();
  std::string meta = "family=classic\nmodel=" + std::to_string(model_) + "\n";
  image["meta.txt"].assign(meta.begin(), meta.end());
  for (const Region &r : regions_) image[RegionFileName(r)] = r.data;
  return image;
}

std::string ClassicPanel::FromImage(const Image &image) {
  auto meta = image.find("meta.txt");
  if (meta != image.end()) {
    std::string text(meta->second.begin(), meta->second.end());
    if (text.find("family=classic") == std::string::npos) return "image is not of a classic panel";
    if (text.find("model=" + std::to_string(model_) + "\n") == std::string::npos) {
      return "image is of another model code";
    }
  }
  for (Region &r : regions_) {
    auto entry = image.find(RegionFileName(r));
    if (entry == image.end()) continue;
    if (entry->second.size() != r.data.size()) return RegionFileName(r) + " has the wrong size";
    r.data = entry->second;
  }
  return "";
}

bool ClassicPanel::TakeDirty() {
  return std::exchange(dirty_, false);
}

std::optional<std::string> ClassicPanel::Control(const std::vector<std::string> &words) {
  const std::string &command = words[0];
  if (command == "peek" && words.size() == 3) {
    auto address = ParseInRange(words[1], 0, kMaxWireAddress);
    auto count = ParseInRange(words[2], 0, kMaxControlCount);
    if (!address || !count) return "error: usage: peek ADDR N (ADDR 0..0xFFFFFF, N 0..65536)";
    Bytes data;
    if (!Peek(static_cast<uint32_t>(*address), static_cast<size_t>(*count), &data)) {
      return "error: outside memory";
    }
    return "ok " + HexCompact(data);
  }
  if (command == "poke" && words.size() == 3) {
    auto address = ParseInRange(words[1], 0, kMaxWireAddress);
    auto data = ParseHex(words[2]);
    if (!address || !data || data->size() > kMaxControlCount) {
      return "error: usage: poke ADDR HEX (ADDR 0..0xFFFFFF, at most 65536 bytes)";
    }
    if (!Poke(static_cast<uint32_t>(*address), *data)) return "error: outside memory";
    return "ok";
  }
  if (command == "state" && words.size() == 1) {
    return "ok model=" + std::to_string(model_) + " reads=" + std::to_string(counters_.reads) +
           " writes=" + std::to_string(counters_.writes) +
           " naks=" + std::to_string(counters_.naks) +
           " preamble_writes=" + std::to_string(counters_.preamble_writes);
  }
  return std::nullopt;
}

}  // namespace quiblink::sim
