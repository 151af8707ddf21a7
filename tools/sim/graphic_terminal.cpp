#include "sim/graphic_terminal.h"

#include <cstdio>
#include <utility>

namespace quiblink::sim {

using namespace graphic;

namespace {
bool PlainReadable(uint8_t area) {
  return (area >= 3 && area <= 6) || (area >= 240 && area <= 242);
}
bool PlainWritable(uint8_t area) {
  return area >= 3 && area <= 6;
}

// The read-only areas come with a fixed content until an image provides another.
Bytes DefaultArea(uint8_t area) {
  size_t size = area == 240 ? 3000 : area == 241 ? 1024 : 100;
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + area);
  return data;
}

}  // namespace

GraphicTerminal::GraphicTerminal(GraphicConfig config) : config_(std::move(config)) {
  for (uint8_t area : {240, 241, 242}) contents_.areas[area] = DefaultArea(area);
}

std::string GraphicTerminal::project_name() const {
  auto group = contents_.groups.find(config_.name_group);
  if (config_.name_group == 0 || group == contents_.groups.end()) return config_.project_name;
  const Bytes &data = group->second;
  size_t end = 0;
  while (end < data.size() && end < 240 && data[end] != '\n' && data[end] != 0) ++end;
  return std::string(data.begin(), data.begin() + static_cast<long>(end));
}

RequestKey GraphicTerminal::Classify(const Bytes &request) const {
  RequestKey key;
  if (request.size() > kCommandAt) key.command = request[kCommandAt];
  key.read = key.command == kBlockRead || key.command == kQuery;
  return key;
}

Reply GraphicTerminal::Answer(const Request &request, uint8_t status, const Bytes &data) {
  Reply reply{BuildReply(request.command, request.subcommand, 0, 0, status, data),
              ReplyShape::kGraphic, "", 0};
  return reply;
}

Reply GraphicTerminal::Handle(const Bytes &frame) {
  Request request;
  std::string refusal = ParseRequest(frame, &request);
  if (!refusal.empty()) return Reply{{}, ReplyShape::kNone, refusal, 0};
  const uint8_t sub = request.subcommand;
  const bool plain = request.data.empty();
  switch (request.command) {
    case kOffline:
      if (sub != 1 || !plain) break;
      state_.offline = true;
      return Answer(request, kStatusOk);
    case kSwReset:
      if (sub != 1 || !plain) break;
      ++state_.sw_resets;
      state_.offline = false;
      return Answer(request, kStatusOk);
    case kReset:
      if (sub != 1 || !plain) break;
      ++state_.resets;
      state_.offline = false;
      return Answer(request, kStatusOk);
    case kBreak:
      if (sub != 0 || !plain) break;
      ++state_.breaks;
      return Answer(request, kStatusOk);
    case kBlockWrite:
    case kOsInstall:
      return BlockWrite(request);
    case kBlockRead:
      return BlockRead(request);
    case kQuery:
      return Query(request);
    case kDeleteUserData:
      if (sub != 0x21 || !plain) break;
      contents_.groups.clear();
      for (uint8_t area : {3, 4, 5, 6}) contents_.areas.erase(area);
      config_.project_name.clear();
      ++state_.deletes;
      dirty_ = true;
      return Answer(request, kStatusOk);
    case kCheckPassword:
      return CheckPassword(request);
    case kTerminalType:
      if (sub != 1 || !plain) break;
      return Answer(request, kStatusOk, Bytes{config_.type});
    case kBaudChange: {
      int baud = BaudOfCode(sub);
      if (!baud || !plain) break;
      state_.baud_code = sub;
      Reply reply = Answer(request, kStatusOk);
      reply.new_baud = baud;
      return reply;
    }
    default:
      break;
  }
  Reply reply = Answer(request, kStatusUnknownCommand);
  reply.note = "unknown command or subcommand";
  return reply;
}

Reply GraphicTerminal::BlockRead(const Request &request) {
  const uint8_t area = request.subcommand;
  const bool grouped = area == kGroupedArea;
  const size_t form = grouped ? 2 : 0;
  uint16_t group = grouped && request.data.size() >= 2 ? GetLe16(&request.data[0]) : 0;
  auto refuse = [&](uint8_t status, const char *why) {
    Bytes data;
    if (grouped) PutLe16(data, group);
    PutLe16(data, 0);
    Reply reply{BuildReply(kBlockRead, area, 0, 0, status, data), ReplyShape::kGraphic, why, 0};
    return reply;
  };
  if (!grouped && !PlainReadable(area)) return refuse(kStatusUnknownCommand, "no such area");
  if (request.data.size() != form) return refuse(kStatusMalformed, "wrong request data");
  if (request.flag == 0) {
    transfer_.reader.Start(area, group, contents_);
  } else if (request.flag != 1 || !transfer_.reader.Continues(area, group)) {
    return refuse(kStatusOutOfSequence, "no block read to continue");
  }
  Block block = transfer_.reader.Next(contents_);
  Bytes data;
  if (grouped) PutLe16(data, block.group);
  PutLe16(data, static_cast<uint16_t>(block.data.size()));
  data.insert(data.end(), block.data.begin(), block.data.end());
  return Reply{BuildReply(kBlockRead, area, block.flag, block.sequence, kStatusOk, data),
               ReplyShape::kGraphic, "", 0};
}

Reply GraphicTerminal::BlockWrite(const Request &request) {
  const Bytes &d = request.data;
  const uint8_t sub = request.subcommand;
  size_t head = 0;
  uint16_t field = 0;
  if (request.command == kOsInstall) {
    if (sub != 'a' && sub != 'b') return Answer(request, kStatusUnknownCommand);
    head = 3;
    if (d.size() < head) return Answer(request, kStatusMalformed);
    field = d[0];
    if (field != 0x00 && field != 0x80) return Answer(request, kStatusMalformed);
  } else if (sub == kGroupedArea) {
    head = 4;
    if (d.size() < head) return Answer(request, kStatusMalformed);
    field = GetLe16(&d[0]);
    if (field == 0) return Answer(request, kStatusNoSuchGroup);
  } else {
    if (sub >= 240 && sub <= 242) return Answer(request, kStatusReadOnly);
    if (!PlainWritable(sub)) return Answer(request, kStatusUnknownCommand);
    head = 2;
    if (d.size() < head) return Answer(request, kStatusMalformed);
  }
  uint16_t count = GetLe16(&d[head - 2]);
  if (d.size() != head + count || count > kMaxBlock) return Answer(request, kStatusMalformed);
  Bytes content;
  auto result = transfer_.writer.Take(request.command, sub, field, request.flag, request.sequence,
                                      d.data() + head, count, &content);
  switch (result) {
    case ChunkAssembler::Result::kAccepted:
      return Answer(request, kStatusOk);
    case ChunkAssembler::Result::kOutOfSequence:
      return Answer(request, kStatusOutOfSequence);
    case ChunkAssembler::Result::kBadFlag:
    case ChunkAssembler::Result::kTooLarge:
      return Answer(request, kStatusMalformed);
    case ChunkAssembler::Result::kCommitted:
      break;
  }
  if (request.command == kOsInstall) {
    contents_.os[{sub, static_cast<uint8_t>(field)}] = std::move(content);
  } else if (sub == kGroupedArea) {
    if (content.empty()) {
      contents_.groups.erase(field);
    } else {
      contents_.groups[field] = std::move(content);
    }
  } else {
    contents_.areas[sub] = std::move(content);
  }
  dirty_ = true;
  return Answer(request, kStatusOk);
}

Reply GraphicTerminal::Query(const Request &request) {
  if (!request.data.empty()) return Answer(request, kStatusMalformed);
  uint32_t grouped_bytes = 0;
  for (const auto &entry : contents_.groups) grouped_bytes += entry.second.size();
  uint32_t user_bytes = grouped_bytes;
  for (uint8_t area : {3, 4, 5, 6}) {
    auto it = contents_.areas.find(area);
    if (it != contents_.areas.end()) user_bytes += it->second.size();
  }
  Bytes data;
  switch (request.subcommand) {
    case kQueryMemory: {
      uint32_t used = (user_bytes + 1023) / 1024;
      std::array<uint16_t, 3> values{
          static_cast<uint16_t>(used),
          static_cast<uint16_t>(used < kCapacityKib ? kCapacityKib - used : 0),
          static_cast<uint16_t>(contents_.groups.size())};
      for (uint16_t v : memory_values_.value_or(values)) PutLe16(data, v);
      return Answer(request, kStatusOk, data);
    }
    case kQueryOs: {
      auto size_of = [&](uint8_t option) {
        auto it = contents_.os.find({'a', option});
        return it == contents_.os.end() ? 0u : static_cast<uint32_t>(it->second.size());
      };
      std::array<uint32_t, 2> values =
          os_values_.value_or(std::array{size_of(0x00), size_of(0x80)});
      std::array<uint8_t, 2> flags{0x00, 0x80};
      if (os_entries_swapped_) {
        std::swap(values[0], values[1]);
        std::swap(flags[0], flags[1]);
      }
      data.push_back(2);
      for (int i = 0; i < 2; ++i) {
        data.push_back('a');
        data.push_back(flags[i]);
        PutLe32(data, values[i]);
      }
      return Answer(request, kStatusOk, data);
    }
    case kQueryProject: {
      std::array<uint32_t, 2> values = project_values_.value_or(
          std::array{grouped_bytes, static_cast<uint32_t>(contents_.groups.size())});
      PutLe32(data, values[0]);
      PutLe32(data, values[1]);
      const std::string name = project_name();
      data.push_back(static_cast<uint8_t>(name.size()));
      data.insert(data.end(), name.begin(), name.end());
      return Answer(request, kStatusOk, data);
    }
    default:
      return Answer(request, kStatusUnknownCommand);
  }
}

Reply GraphicTerminal::CheckPassword(const Request &request) {
  const Bytes &d = request.data;
  if (request.subcommand != 0) return Answer(request, kStatusUnknownCommand);
  if (d.empty() || d.size() != 1u + d[0]) return Answer(request, kStatusMalformed);
  ++state_.password_checks;
  bool match = std::string(d.begin() + 1, d.end()) == config_.password;
  Reply reply = Answer(request, match ? kStatusOk : kStatusPasswordRefused);
  if (!match) reply.note = "password does not match";
  return reply;
}

std::string GraphicTerminal::DescribeRequest(const Bytes &request) const {
  return graphic::DescribeRequest(request);
}

std::string GraphicTerminal::DescribeReply(const Bytes &reply) const {
  return graphic::DescribeReply(reply);
}

std::any GraphicTerminal::SaveTransfer() const {
  return transfer_;
}

void GraphicTerminal::RestoreTransfer(const std::any &saved) {
  if (const auto *t = std::any_cast<Transfer>(&saved)) transfer_ = *t;
}

bool GraphicTerminal::TakeDirty() {
  return std::exchange(dirty_, false);
}

}  // namespace quiblink::sim
