// QUIB_Read and QUIB_Write refuse, with -2 and before anything is sent, a
// transfer in which some byte's wire address does not fit the request's
// address digits (six, four with model 3) or falls below 0: the digits would
// keep only the low part and the call would reach other memory, a write at
// 0x1000000 overwriting address 0. A negative logical address whose wire
// address fits (below a read area's start, below 0x8080 with model 3) is
// memory the panel has, and stays readable and writable.
#include <gtest/gtest.h>

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "support/wire/panel.h"
#include "quiblink/quiblink.h"
#include "support/library_fixture.h"

namespace {

namespace classic = wire::classic;

// The panel's side of the addressing, written out on its own: where each area
// of a read sits per model, and the highest address the digits carry.
uint32_t ReadOffset(uint16_t model, uint16_t area) {
  static const uint32_t kModel0[4] = {0, 0x20000, 0x22000, 0x2232A};
  static const uint32_t kModel1[4] = {0, 0x10000, 0x12000, 0x12800};
  static const uint32_t kModel2[4] = {0, 0x20000, 0x22000, 0x22800};
  if (model == 3) return 0x8080;
  return (model == 0 ? kModel0 : model == 1 ? kModel1 : kModel2)[area];
}

constexpr int64_t kSixDigits = 0xFFFFFF;
constexpr int64_t kFourDigits = 0xFFFF;
// Model 3: logical 3960 and up sit 8 higher, so the last logical address whose
// wire address has four digits is 0xFFFF - 0x8080 - 8.
constexpr int64_t kLastWordLogical = kFourDigits - 0x8080 - 8;

struct Row {
  std::string name;
  uint16_t model;
  bool write;
  uint16_t area;
  int64_t address;
  uint16_t count;
  bool fits;
};

// For each model, area and direction: the transfer whose last byte sits
// exactly at the highest wire address (accepted), and the same one address
// further (refused); counts of one byte, of one chunk and of several.
std::vector<Row> BoundaryRows() {
  std::vector<Row> rows;
  for (uint16_t model : {0, 1, 2}) {
    for (uint16_t count : {1, 64, 130}) {
      for (uint16_t area = 0; area <= 3; ++area) {
        const int64_t at = kSixDigits - ReadOffset(model, area) - (count - 1);
        const std::string name = "model " + std::to_string(model) + " read area " +
                                 std::to_string(area) + " of " + std::to_string(count);
        rows.push_back({name + " ending at FFFFFF", model, false, area, at, count, true});
        rows.push_back({name + " one past", model, false, area, at + 1, count, false});
      }
      const int64_t at = kSixDigits - (count - 1);
      const std::string name =
          "model " + std::to_string(model) + " write of " + std::to_string(count);
      rows.push_back({name + " ending at FFFFFF", model, true, 0, at, count, true});
      rows.push_back({name + " one past", model, true, 0, at + 1, count, false});
    }
  }
  for (bool write : {false, true}) {
    for (uint16_t count : {2, 64, 130}) {
      const int64_t at = kLastWordLogical - (count - 1);
      const std::string name =
          std::string("model 3 ") + (write ? "write" : "read") + " of " + std::to_string(count);
      rows.push_back({name + " ending at FFFF", 3, write, 0, at, count, true});
      rows.push_back({name + " one past", 3, write, 0, at + 1, count, false});
    }
    // Without the gap's 8 these would still fit four digits.
    rows.push_back(
        {std::string("model 3 ") + (write ? "write" : "read") + " in the last 8 below FFFF", 3,
         write, 0, kLastWordLogical + 1, 2, false});
  }
  return rows;
}

std::vector<Row> FarRows() {
  return {
      {"model 0 write at 0x1000000 (would overwrite address 0)", 0, true, 0, 0x1000000, 4, false},
      {"model 0 read at -1", 0, false, 0, -1, 1, false},
      {"model 1 write at -1", 1, true, 0, -1, 4, false},
      {"model 2 read at INT32_MIN", 2, false, 0, INT32_MIN, 8, false},
      {"model 0 read at INT32_MAX", 0, false, 0, INT32_MAX, 1, false},
      {"model 1 write at INT32_MAX - 1, two bytes", 1, true, 0, INT32_MAX - 1, 2, false},
      {"model 3 write at -36, the preamble's place, wire 805C", 3, true, 0, -36, 36, true},
      {"model 3 read at -2, wire 807E", 3, false, 0, -2, 2, true},
      {"model 3 read at -0x8080, wire 0000", 3, false, 0, -0x8080, 2, true},
      {"model 3 read at -0x8082, wire -2", 3, false, 0, -0x8082, 4, false},
      {"model 1 read area 1 at -0x10000, wire 000000", 1, false, 1, -0x10000, 4, true},
      {"model 1 read area 1 at -0x10001, wire -1", 1, false, 1, -0x10001, 4, false},
      {"model 0 read area 3 at -0x2232A, wire 000000", 0, false, 3, -0x2232A, 1, true},
      {"model 0 read area 3 at -0x2232B, wire -1", 0, false, 3, -0x2232B, 1, false},
      {"model 2 write at -2, four bytes: two below 0", 2, true, 0, -2, 4, false},
      {"model 3 read of 65534 from 0", 3, false, 0, 0, 65534, false},
      {"model 3 write at 0x8000", 3, true, 0, 0x8000, 2, false},
      {"model 3 read at 0x10000 (would wrap to 0x8080 + 8)", 3, false, 0, 0x10000, 2, false},
      {"model 0 read of 65535 from 0", 0, false, 0, 0, 65535, true},
      {"model 3 read of 2 at 0", 3, false, 0, 0, 2, true},
      {"model 3 read of 40 across the gap", 3, false, 0, 3940, 40, true},
  };
}

class AddressRange : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    for (uint16_t model = 0; model < 4; ++model) {
      panels_.push_back(std::make_shared<classic::Memory>());
      handles_[model] = QUIB_Open(model, model);
      ASSERT_GE(handles_[model], 0);
      std::shared_ptr<classic::Memory> memory = panels_.back();
      fake::LineOfPort(model).OnFrame([memory](fake::Line &line, const fake::Bytes &frame) {
        line.Send(memory->Answer(frame));
      });
    }
  }
  void TearDown() override {
    for (int16_t handle : handles_) QUIB_Close(static_cast<uint16_t>(handle));
    LibraryTest::TearDown();
  }

  void Check(const Row &row) {
    SCOPED_TRACE(row.name);
    classic::Memory &memory = *panels_[row.model];
    memory.Requests.clear();
    const size_t frames_before = fake::LineOfPort(row.model).Frames().size();
    const uint16_t handle = static_cast<uint16_t>(handles_[row.model]);
    const int32_t address = static_cast<int32_t>(row.address);
    std::vector<uint8_t> data(row.count, 0xA5);
    const int16_t rc = row.write ? QUIB_Write(handle, row.area, address, row.count, data.data())
                                 : QUIB_Read(handle, row.area, address, data.data(), row.count);
    if (!row.fits) {
      EXPECT_EQ(rc, RC_BAD_ARGUMENT);
      EXPECT_EQ(fake::LineOfPort(row.model).Frames().size(), frames_before) << "something was sent";
      if (!row.write) {
        EXPECT_EQ(data, std::vector<uint8_t>(row.count, 0xA5));
      }
      return;
    }
    EXPECT_EQ(rc, RC_OK);
    ASSERT_FALSE(memory.Requests.empty());
    // The wire addresses the panel saw run without a wrap from the first
    // byte's to the last byte's.
    const int64_t first = row.address +
                          (row.write && row.model != 3 ? 0 : ReadOffset(row.model, row.area)) +
                          (row.model == 3 && row.address >= 3960 ? 8 : 0);
    const classic::Request &head = memory.Requests.front();
    const classic::Request &tail = memory.Requests.back();
    EXPECT_EQ(static_cast<int64_t>(head.Address), first);
    const int64_t last_logical = row.address + row.count - 1;
    const int64_t last = last_logical +
                         (row.write && row.model != 3 ? 0 : ReadOffset(row.model, row.area)) +
                         (row.model == 3 && last_logical >= 3960 ? 8 : 0);
    EXPECT_EQ(static_cast<int64_t>(tail.Address) + tail.Count - 1, last);
  }

  std::vector<std::shared_ptr<classic::Memory>> panels_;
  int16_t handles_[4] = {-1, -1, -1, -1};
};

TEST_F(AddressRange, ExactlyAtTheHighestWireAddressPassesAndOnePastIsRefused) {
  for (const Row &row : BoundaryRows()) Check(row);
}

TEST_F(AddressRange, NegativeAndFarAddressesAreRefusedBeforeAnythingIsSent) {
  for (const Row &row : FarRows()) Check(row);
}

// Model 3 at address 0 sends the preamble block first: a refused transfer
// must not send it either.
TEST_F(AddressRange, ARefusedModel3WriteAtZeroSendsNoPreamble) {
  std::vector<uint8_t> data(65534, 0x11);
  EXPECT_EQ(QUIB_Write(static_cast<uint16_t>(handles_[3]), 0, 0, 65534, data.data()),
            RC_BAD_ARGUMENT);
  EXPECT_TRUE(fake::LineOfPort(3).Frames().empty());
}

}  // namespace
