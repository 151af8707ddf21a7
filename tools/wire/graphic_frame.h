// Graphic terminal frames as the terminal sees them: requests start with 0xFE, replies with 0xFF;
// a 16-bit little-endian length field counts from the command code through the checksum.
#pragma once

#include <cstdint>
#include <string>

#include "wire/common.h"

namespace quiblink::wire::graphic {

constexpr uint8_t kRequestStart = 0xFE;
constexpr uint8_t kReplyStart = 0xFF;
constexpr size_t kHeader = 8;  // start, length (2), command, subcommand, flag, sequence, status
constexpr size_t kMaxBlock = 1024;

// Commands and their subcommands.
constexpr uint8_t kOffline = 0x01;
constexpr uint8_t kSwReset = 0x02;
constexpr uint8_t kReset = 0x03;
constexpr uint8_t kBreak = 0x04;
constexpr uint8_t kBlockWrite = 0x11;
constexpr uint8_t kOsInstall = 0x12;
constexpr uint8_t kBlockRead = 0x21;
constexpr uint8_t kQuery = 0x31;
constexpr uint8_t kDeleteUserData = 0x32;
constexpr uint8_t kCheckPassword = 0x51;
constexpr uint8_t kTerminalType = 0x52;
constexpr uint8_t kBaudChange = 0x71;

constexpr uint8_t kGroupedArea = 1;
constexpr uint8_t kQueryMemory = 'A';
constexpr uint8_t kQueryOs = 'B';
constexpr uint8_t kQueryProject = 'C';

// Status bytes this terminal answers with.
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusUnknownCommand = 0x01;
constexpr uint8_t kStatusMalformed = 0x02;
constexpr uint8_t kStatusOutOfSequence = 0x03;
constexpr uint8_t kStatusReadOnly = 0x04;
constexpr uint8_t kStatusPasswordRefused = 0x05;
constexpr uint8_t kStatusNoSuchGroup = 0x06;

// Offsets in a frame.
constexpr size_t kLengthAt = 1;
constexpr size_t kCommandAt = 3;
constexpr size_t kSubcommandAt = 4;
constexpr size_t kFlagAt = 5;
constexpr size_t kSequenceAt = 6;
constexpr size_t kStatusAt = 7;
constexpr size_t kDataAt = 8;

struct Request {
  uint8_t command = 0;
  uint8_t subcommand = 0;
  uint8_t flag = 0;
  uint8_t sequence = 0;
  Bytes data;
};

// Low 8 bits of the sum of frame bytes 1 .. size-2.
uint8_t Checksum(const Bytes &frame);
// Writes the checksum into the last byte, after a change of the header.
void Reseal(Bytes &frame);

Bytes BuildReply(uint8_t command, uint8_t subcommand, uint8_t flag, uint8_t sequence,
                 uint8_t status, const Bytes &data = {});

// Empty text on success; otherwise why the frame is no request.
std::string ParseRequest(const Bytes &frame, Request *request);

// "terminal-type", "block-read", ...; "unknown" for a command this terminal does not know.
const char *CommandName(uint8_t command, uint8_t subcommand);

// The line speed a baud-rate change code stands for; 0 for a code the terminal does not know.
int BaudOfCode(uint8_t code);

std::string DescribeRequest(const Bytes &frame);
std::string DescribeReply(const Bytes &frame);

}  // namespace quiblink::wire::graphic
