// The graphic terminal commands, one row each: command code, subcommand, the
// frame the request carries, the longest reply frame, how the reply's length
// is found, and the entry trace line. Builders, probes and the operations
// read these facts from here.
#pragma once

#include <stdint.h>

namespace quib {

// A row whose subcommand the caller supplies (an area, a baud rate code, an
// installation kind).
constexpr int16_t kAnySubcommand = -1;

enum GraphicFrame : uint8_t {
  kFrameHeader,    // header only (a grouped block read adds the group number)
  kFramePassword,  // length byte and password bytes
  kFrameData,      // block write data behind their count
};

enum GraphicReply : uint8_t {
  kReplyFixed,  // the announced length; only the start byte is probed
  kReplySized,  // the reply's length field sizes it (at most the announced length)
  kReplyNone,   // nothing is awaited: the exchange ends once the frame has left
};

enum GraphicCommandId : uint8_t {
  kCmdOffline,
  kCmdSoftwareReset,
  kCmdReset,
  kCmdBreak,
  kCmdDeleteUserData,
  kCmdBaudRateChange,
  kCmdMemoryData,
  kCmdOsInfo,
  kCmdProjectInfo,
  kCmdTerminalType,
  kCmdPassword,
  kCmdStart,
  kCmdReadAllGroups,
  kCmdReadOneGroup,
  kCmdReadArea,
  kCmdAreaWrite,
  kCmdInstall,
  kGraphicCommandCount
};

struct GraphicCommand {
  GraphicCommandId Id;  // the row's own place, checked below
  uint8_t Code;
  int16_t Subcommand;  // kAnySubcommand: given by the caller
  GraphicFrame Frame;
  uint16_t ReplyLength;  // longest reply frame the request announces
  GraphicReply Reply;
  const char *Trace;  // entry trace line
};

// The trace lines are matched byte for byte by the programs that read the
// library's trace, odd ones included: every single-frame control or query
// command enters as OFFLINE, the start command and the all-groups read as
// READAll. Keep them as they are.
inline constexpr char kTraceOffline[] = "OFFLINE command\n";
inline constexpr char kTracePassword[] = "PASSWORD command\n";
inline constexpr char kTraceReadAll[] = "READAll command\n";
inline constexpr char kTraceRead[] = "READ command\n";
inline constexpr char kTraceWrite[] = "WRITE command\n";

inline constexpr GraphicCommand kGraphicCommands[kGraphicCommandCount] = {
    // clang-format off
    // id                code subcommand      frame           reply reply kind   trace
    {kCmdOffline,        1,   1,              kFrameHeader,   9,    kReplyFixed, kTraceOffline},
    {kCmdSoftwareReset,  2,   1,              kFrameHeader,   9,    kReplyFixed, kTraceOffline},
    {kCmdReset,          3,   1,              kFrameHeader,   9,    kReplyFixed, kTraceOffline},
    {kCmdBreak,          4,   0,              kFrameHeader,   9,    kReplyFixed, kTraceOffline},
    {kCmdDeleteUserData, 50,  0x21,           kFrameHeader,   9,    kReplyFixed, kTraceOffline},
    {kCmdBaudRateChange, 113, kAnySubcommand, kFrameHeader,   9,    kReplyFixed, kTraceOffline},
    {kCmdMemoryData,     49,  0x41,           kFrameHeader,   15,   kReplyFixed, kTraceOffline},
    {kCmdOsInfo,         49,  0x42,           kFrameHeader,   22,   kReplyFixed, kTraceOffline},
    {kCmdProjectInfo,    49,  0x43,           kFrameHeader,   1037, kReplySized, kTraceOffline},
    {kCmdTerminalType,   82,  1,              kFrameHeader,   10,   kReplyFixed, kTraceOffline},
    {kCmdPassword,       81,  0,              kFramePassword, 9,    kReplyFixed, kTracePassword},
    {kCmdStart,          1,   1,              kFrameHeader,   9,    kReplyNone,  kTraceReadAll},
    {kCmdReadAllGroups,  33,  1,              kFrameHeader,   1037, kReplySized, kTraceReadAll},
    {kCmdReadOneGroup,   33,  1,              kFrameHeader,   1037, kReplySized, kTraceRead},
    {kCmdReadArea,       33,  kAnySubcommand, kFrameHeader,   1035, kReplySized, kTraceRead},
    {kCmdAreaWrite,      17,  kAnySubcommand, kFrameData,     9,    kReplyFixed, kTraceWrite},
    {kCmdInstall,        18,  kAnySubcommand, kFrameData,     9,    kReplyFixed, kTraceWrite},
    // clang-format on
};

constexpr bool RowsInIdOrder() {
  for (int i = 0; i < kGraphicCommandCount; ++i) {
    if (kGraphicCommands[i].Id != i) return false;
  }
  return true;
}
static_assert(RowsInIdOrder(), "every row sits at its id");

constexpr const GraphicCommand &GraphicCommandOf(GraphicCommandId id) {
  return kGraphicCommands[id];
}

// The subcommand a request of the row carries: the row's own, or given for a
// row that takes any.
constexpr uint8_t SubcommandOf(const GraphicCommand &row, uint8_t given) {
  return row.Subcommand == kAnySubcommand ? given : static_cast<uint8_t>(row.Subcommand);
}

// Reply frame length a header-only request of code and subcommand announces:
// the matching row's, or for a subcommand that no row of the code names, the
// longest of the code's rows. 0 when no header-only row has the code.
constexpr uint16_t ExpectedReplyLength(uint8_t code, uint8_t subcommand) {
  uint16_t longest = 0;
  for (const GraphicCommand &row : kGraphicCommands) {
    if (row.Code != code || row.Frame != kFrameHeader) continue;
    if (row.Subcommand == subcommand || row.Subcommand == kAnySubcommand) return row.ReplyLength;
    if (row.ReplyLength > longest) longest = row.ReplyLength;
  }
  return longest;
}

}  // namespace quib
