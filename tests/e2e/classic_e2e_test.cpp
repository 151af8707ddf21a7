// Classic panel memory through the exports, against the simulated panel of each model code at
// 9600 baud. Reads are checked against bytes poked into the panel and writes against bytes
// peeked out of it, each direction on its own, so a mistake made the same way on the way out
// and on the way back (the pair swap, an offset) cannot cancel out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace quiblink::e2e {
namespace {

constexpr int32_t kGapStart = 3960;  // model 3: first logical address above the gap

class ClassicE2E : public SimTest {
 protected:
  void Start(uint16_t model) {
    model_ = model;
    StartSim({"--family", "classic", "--model", std::to_string(model)});
    h_ = OpenClassic(model);
    ASSERT_GE(h_, 0);
  }
  uint16_t h() const { return static_cast<uint16_t>(h_); }

  // Area 0 of a logical address as the panel's memory map places it.
  uint32_t Wire(int32_t address) const {
    if (model_ != 3) return static_cast<uint32_t>(address);
    return static_cast<uint32_t>(address + 0x8080 + (address >= kGapStart ? 8 : 0));
  }
  // Memory of a logical run, in order, skipping model 3's gap.
  Bytes PeekRun(int32_t address, size_t count) {
    Bytes out;
    while (count > 0) {
      size_t piece = count;
      if (model_ == 3 && address < kGapStart && address + static_cast<int32_t>(count) > kGapStart) {
        piece = static_cast<size_t>(kGapStart - address);
      }
      const Bytes part = Peek(Wire(address), piece);
      out.insert(out.end(), part.begin(), part.end());
      address += static_cast<int32_t>(piece);
      count -= piece;
    }
    return out;
  }
  void PokeRun(int32_t address, const Bytes &data) {
    for (size_t i = 0; i < data.size(); ++i) {
      // One byte at a time would be slow; cut only where the gap cuts.
      size_t piece = data.size() - i;
      const int32_t at = address + static_cast<int32_t>(i);
      if (model_ == 3 && at < kGapStart && at + static_cast<int32_t>(piece) > kGapStart) {
        piece = static_cast<size_t>(kGapStart - at);
      }
      Poke(Wire(at),
           Bytes(data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + piece)));
      i += piece - 1;
    }
  }
  Bytes Read(uint16_t area, int32_t address, size_t count) {
    Bytes buffer(count);
    const int16_t rc = QUIB_Read(h(), area, address, buffer.data(), static_cast<uint16_t>(count));
    EXPECT_EQ(rc, RC_OK) << "read area " << area << " at " << address;
    return rc == RC_OK ? buffer : Bytes();
  }
  void Write(int32_t address, const Bytes &data) {
    EXPECT_EQ(QUIB_Write(h(), 0, address, static_cast<uint16_t>(data.size()), data.data()), RC_OK)
        << "write at " << address;
  }
  long State(const std::string &name) { return Field(Sim().Command("state"), name); }

  uint16_t model_ = 0;
  int16_t h_ = -1;
};

class ClassicModels : public ClassicE2E, public ::testing::WithParamInterface<uint16_t> {
 protected:
  void SetUp() override { Start(GetParam()); }
};

TEST_P(ClassicModels, MemoryRunsTravelInChunksToTheirPlaces) {
  struct Run {
    int32_t address;
    size_t count;
  };
  // Model 3: straddling the gap (3940..3980), many chunks cut at it, just above it. Others:
  // many chunks up to near the end of area 0, and single bytes at both ends of it.
  const std::vector<Run> runs = model_ == 3
                                    ? std::vector<Run>{{3940, 40}, {3900, 150}, {3960, 10}, {2, 6}}
                                    : std::vector<Run>{{0xFF00, 150}, {0, 1}, {0xFFFF, 1}, {2, 6}};
  uint32_t seed = 1;
  for (const Run &run : runs) {
    SCOPED_TRACE("run at " + std::to_string(run.address) + ", " + std::to_string(run.count) +
                 " bytes");
    const Bytes poked = Pattern(run.count, seed++);
    PokeRun(run.address, poked);
    EXPECT_EQ(Read(0, run.address, run.count), poked);

    const Bytes written = Pattern(run.count, seed++);
    Write(run.address, written);
    EXPECT_EQ(PeekRun(run.address, run.count), written);
  }
  // Reads and writes are one request per started 64 or 32 bytes, each as its own exchange.
  const long reads = State("reads"), writes = State("writes");
  if (model_ == 3) {
    EXPECT_EQ(reads, 2 + 3 + 1 + 1);   // 20+20 | 60+64+26 | 10 | 6
    EXPECT_EQ(writes, 2 + 5 + 1 + 1);  // 20+20 | 32+28+32+32+26 | 10 | 6
  } else {
    EXPECT_EQ(reads, 3 + 1 + 1 + 1);
    EXPECT_EQ(writes, 5 + 1 + 1 + 1);
  }
  EXPECT_EQ(State("naks"), 0);
}

INSTANTIATE_TEST_SUITE_P(EachModel, ClassicModels, ::testing::Values(0, 1, 2, 3),
                         [](const auto &info) { return "model" + std::to_string(info.param); });

class ClassicAreas : public ClassicE2E, public ::testing::WithParamInterface<uint16_t> {
 protected:
  void SetUp() override { Start(GetParam()); }
};

TEST_P(ClassicAreas, ReadsOfAnAreaCarryItsOffset) {
  struct Offsets {
    uint16_t model;
    uint32_t area[4];
  };
  const Offsets table[] = {{0, {0, 0x20000, 0x22000, 0x2232A}},
                           {1, {0, 0x10000, 0x12000, 0x12800}},
                           {2, {0, 0x20000, 0x22000, 0x22800}}};
  const Offsets &offsets = table[model_];
  for (uint16_t area = 0; area < 4; ++area) {
    SCOPED_TRACE("area " + std::to_string(area));
    const uint32_t offset = offsets.area[area];
    // The read-only areas hold what the panel put there.
    const Bytes held = Pattern(16, 100 + area);
    Poke(offset + 0x40, held);
    EXPECT_EQ(Read(area, 0x40, 16), held);
    // Writes carry no offset: bytes written through area 0 are found by a read of area n at
    // their address less n's offset.
    const Bytes written = Pattern(8, 200 + area);
    Write(0x300 + area * 0x10, written);
    EXPECT_EQ(Read(area, static_cast<int32_t>(0x300 + area * 0x10 - offset), 8), written);
  }
  // Areas that touch form one run: a read may start in area 2 and end in area 3.
  const uint32_t seam = offsets.area[3];
  const Bytes across = Pattern(40, 77);
  Poke(seam - 20, across);
  EXPECT_EQ(Read(2, static_cast<int32_t>(seam - 20 - offsets.area[2]), 40), across);
}

INSTANTIATE_TEST_SUITE_P(ModelsWithAreas, ClassicAreas, ::testing::Values(0, 1, 2),
                         [](const auto &info) { return "model" + std::to_string(info.param); });

class ClassicModel3 : public ClassicE2E {
 protected:
  void SetUp() override { Start(3); }
};

TEST_F(ClassicModel3, WriteAtAddressZeroSendsThePreambleBlockFirst) {
  const Bytes data = Pattern(4, 5);
  Write(0, data);
  EXPECT_EQ(State("preamble_writes"), 1);
  EXPECT_EQ(State("writes"), 2);
  Bytes preamble = FromText("these are the screen data       ");
  preamble.insert(preamble.end(), {0x00, 0x18, 0x10, 0x00});
  EXPECT_EQ(Peek(0x805C, 36), preamble);
  EXPECT_EQ(Peek(0x8080, 4), data);

  // Only a write that starts at 0 brings one.
  Write(2, Pattern(4, 6));
  EXPECT_EQ(State("preamble_writes"), 1);
  EXPECT_EQ(State("writes"), 3);
}

TEST_F(ClassicModel3, ReadsIgnoreTheAreaType) {
  const Bytes held = Pattern(12, 9);
  PokeRun(100, held);
  for (uint16_t area : {0, 1, 3, 7}) EXPECT_EQ(Read(area, 100, 12), held) << "area " << area;
}

}  // namespace
}  // namespace quiblink::e2e
