#include "wire/graphic_frame.h"

#include <cstdio>

namespace quiblink::wire::graphic {

uint8_t Checksum(const Bytes &frame) {
  unsigned sum = 0;
  for (size_t i = 1; i + 1 < frame.size(); ++i) sum += frame[i];
  return static_cast<uint8_t>(sum);
}

void Reseal(Bytes &frame) {
  if (frame.size() >= 2) frame.back() = Checksum(frame);
}

Bytes BuildReply(uint8_t command, uint8_t subcommand, uint8_t flag, uint8_t sequence,
                 uint8_t status, const Bytes &data) {
  Bytes frame{kReplyStart};
  PutLe16(frame, static_cast<uint16_t>(data.size() + 6));
  frame.insert(frame.end(), {command, subcommand, flag, sequence, status});
  frame.insert(frame.end(), data.begin(), data.end());
  frame.push_back(0);
  Reseal(frame);
  return frame;
}

std::string ParseRequest(const Bytes &frame, Request *request) {
  if (frame.size() < kHeader + 1 || frame[0] != kRequestStart) return "malformed frame";
  if (GetLe16(&frame[kLengthAt]) + 3u != frame.size()) return "length field mismatch";
  if (Checksum(frame) != frame.back()) return "checksum mismatch";
  request->command = frame[kCommandAt];
  request->subcommand = frame[kSubcommandAt];
  request->flag = frame[kFlagAt];
  request->sequence = frame[kSequenceAt];
  request->data.assign(frame.begin() + kDataAt, frame.end() - 1);
  return "";
}

const char *CommandName(uint8_t command, uint8_t subcommand) {
  switch (command) {
    case kOffline:
      return "offline";
    case kSwReset:
      return "sw-reset";
    case kReset:
      return "reset";
    case kBreak:
      return "break";
    case kBlockWrite:
      return "block-write";
    case kOsInstall:
      return "os-install";
    case kBlockRead:
      return "block-read";
    case kQuery:
      return subcommand == kQueryMemory    ? "mem-data"
             : subcommand == kQueryOs      ? "os-info"
             : subcommand == kQueryProject ? "proj-info"
                                           : "query";
    case kDeleteUserData:
      return "del-user-data";
    case kCheckPassword:
      return "check-password";
    case kTerminalType:
      return "terminal-type";
    case kBaudChange:
      return "baud-change";
    default:
      return "unknown";
  }
}

namespace {
std::string Header(const char *name, const Bytes &frame) {
  char text[128];
  std::snprintf(text, sizeof text, "%s cmd=%02X sub=%02X flag=%u seq=%u", name, frame[kCommandAt],
                frame[kSubcommandAt], frame[kFlagAt], frame[kSequenceAt]);
  return text;
}
}  // namespace

std::string DescribeRequest(const Bytes &frame) {
  Request request;
  std::string refusal = ParseRequest(frame, &request);
  if (!refusal.empty()) return "ignored: " + refusal;
  std::string text = Header(CommandName(request.command, request.subcommand), frame);
  const Bytes &d = request.data;
  char extra[96] = "";
  if (request.command == kBlockRead && request.subcommand == kGroupedArea && d.size() >= 2) {
    std::snprintf(extra, sizeof extra, " group=%u", GetLe16(&d[0]));
  } else if (request.command == kBlockWrite && request.subcommand == kGroupedArea &&
             d.size() >= 4) {
    std::snprintf(extra, sizeof extra, " group=%u count=%u", GetLe16(&d[0]), GetLe16(&d[2]));
  } else if (request.command == kBlockWrite && d.size() >= 2) {
    std::snprintf(extra, sizeof extra, " count=%u", GetLe16(&d[0]));
  } else if (request.command == kOsInstall && d.size() >= 3) {
    std::snprintf(extra, sizeof extra, " option=%02X count=%u", d[0], GetLe16(&d[1]));
  } else if (request.command == kCheckPassword && !d.empty()) {
    std::snprintf(extra, sizeof extra, " password-length=%u", d[0]);
  }
  return text + extra;
}

std::string DescribeReply(const Bytes &frame) {
  if (frame.size() < kHeader + 1) return "short frame";
  std::string text = Header(CommandName(frame[kCommandAt], frame[kSubcommandAt]), frame);
  char extra[96];
  std::snprintf(extra, sizeof extra, " status=%02X", frame[kStatusAt]);
  text += extra;
  if (frame[kCommandAt] == kBlockRead && frame.size() >= kHeader + 3) {
    if (frame[kSubcommandAt] == kGroupedArea && frame.size() >= kHeader + 5) {
      std::snprintf(extra, sizeof extra, " group=%u count=%u", GetLe16(&frame[kDataAt]),
                    GetLe16(&frame[kDataAt + 2]));
    } else {
      std::snprintf(extra, sizeof extra, " count=%u", GetLe16(&frame[kDataAt]));
    }
    text += extra;
  }
  return text;
}

int BaudOfCode(uint8_t code) {
  switch (code) {
    case 0x81:
      return 9600;
    case 0x82:
      return 19200;
    case 0x83:
      return 38400;
    default:
      return 0;
  }
}

}  // namespace quiblink::wire::graphic
