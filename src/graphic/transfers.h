// Graphic terminal block transfers: the one block-read routine behind the
// three read exports and their sized forms, and the chunked writer behind the
// area write and the operating-system installation.
#pragma once

#include <stdint.h>

#include "graphic/command_table.h"
#include "quiblink/quiblink_ext.h"

namespace quib {

enum BlockReadKind : uint8_t {
  kReadAllGroups,  // every group of the grouped area, until group 0
  kReadOneGroup,   // one group of the grouped area
  kReadArea,       // one plain area
};

// Where an all-groups read records its layout: one entry per group, in the
// order the replies bring them. Wanted is false for the reads without a table.
struct GroupTable {
  bool Wanted;
  QUIB_GroupEntry *Entries;
  uint32_t Capacity;
  uint32_t *Count;  // stored only on success
};

// BlockRead's capacity for the exports that take none.
constexpr uint32_t kUnlimited = 0xFFFFFFFFu;

struct BlockRead {
  BlockReadKind Kind;
  uint16_t Group;  // kReadOneGroup
  uint8_t Area;    // kReadArea
  uint8_t *Data;
  uint32_t Capacity;  // 0xFFFFFFFF for the unsized exports
  int32_t *Total;
  uint16_t *Status;
  QUIB_Progress Progress;  // may be null
  void *User;
  GroupTable Groups;  // kReadAllGroups
  uint32_t Expected;  // the total handed to Progress; 0 when not known
};

// The command row of a kind of read, whose entry trace the export writes.
GraphicCommandId ReadCommandOf(BlockReadKind kind);

// The read's own argument checks, after the channel check: RC_BAD_ARGUMENT
// for an area that cannot be read, a missing Data, Total or Status, or a
// group table without its entries or count; else RC_OK.
int16_t CheckBlockRead(const BlockRead &read);

// Reads blocks of command 33 until the terminal signals the end, appending
// their data to Data. Total is stored only on success. The channel and the
// read have passed their checks.
int16_t ReadBlocks(uint16_t handle, const BlockRead &read);

// The areas an area write may write: 1 and 3..6.
bool AreaWritable(uint8_t area);

// Sends length bytes (at least 1) in chunks of at most 1024 bytes with the
// command of row id (kCmdAreaWrite, kCmdInstall), subcommand (the area, the
// installation kind) and field (group number, option byte). The channel is
// checked and data and status are given.
int16_t WriteChunked(uint16_t handle, GraphicCommandId id, uint8_t subcommand, uint16_t field,
                     uint32_t length, const uint8_t *data, uint16_t *status, QUIB_Progress progress,
                     void *user);

}  // namespace quib
