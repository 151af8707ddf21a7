#include "sim/graphic_terminal.h"

#include <gtest/gtest.h>

#include "test_frames.h"

namespace quiblink::sim {
namespace {

using namespace wire::test;  // the frames a PC program sends

ParsedReply Ask(GraphicTerminal &t, const Bytes &request) {
  Reply reply = t.Handle(request);
  ParsedReply parsed = ParseReply(reply.bytes);
  EXPECT_TRUE(parsed.well_formed) << HexDump(reply.bytes);
  EXPECT_EQ(parsed.command, request[3]);
  EXPECT_EQ(parsed.sub, request[4]);
  return parsed;
}

// Writes content in 1024-byte chunks the way the PC does: flags 0, 1..., 2, sequence from 0.
void WriteChunked(GraphicTerminal &t, uint8_t command, uint8_t sub, const Bytes &head,
                  const Bytes &content) {
  size_t done = 0;
  uint8_t seq = 0;
  do {
    size_t chunk = std::min<size_t>(1024, content.size() - done);
    uint8_t flag = content.size() - done <= 1024 ? 2 : seq == 0 ? 0 : 1;
    Bytes data =
        Cat({head, Le16(chunk), Bytes(content.begin() + done, content.begin() + done + chunk)});
    ParsedReply r = Ask(t, GraphicRequest(command, sub, flag, seq, data));
    ASSERT_EQ(r.status, 0) << "chunk " << int(seq);
    ASSERT_EQ(r.flag, 0);
    ASSERT_EQ(r.seq, 0);
    done += chunk;
    ++seq;
  } while (done < content.size());
}

TEST(GraphicTerminal, OfflineAnswersTheWorkedExample) {
  GraphicTerminal t({});
  Reply reply = t.Handle(Hex("FE 06 00 01 01 00 00 00 08"));
  EXPECT_EQ(reply.bytes, Hex("FF 06 00 01 01 00 00 00 08"));
  EXPECT_TRUE(t.state().offline);
}

TEST(GraphicTerminal, PlainBlockWriteOfTheWorkedExampleReadsBack) {
  GraphicTerminal t({});
  EXPECT_EQ(t.Handle(Hex("FE 0A 00 11 03 02 00 00 02 00 12 34 68")).bytes,
            Hex("FF 06 00 11 03 00 00 00 1A"));
  EXPECT_EQ(t.Handle(Hex("FE 06 00 21 03 00 00 00 2A")).bytes,
            Hex("FF 0A 00 21 03 02 00 00 02 00 12 34 78"));
  EXPECT_TRUE(t.TakeDirty());
}

TEST(GraphicTerminal, GroupReadContinuesWithTheWorkedExampleRequest) {
  GraphicTerminal t({});
  Bytes content = Pattern(2000, 1);
  t.contents().groups[0x0102] = content;
  ParsedReply first = Ask(t, GraphicRequest(0x21, 1, 0, 0, Le16(0x0102)));
  EXPECT_EQ(first.seq, 0);
  EXPECT_NE(first.flag, 2);
  EXPECT_EQ(Bytes(first.data.begin(), first.data.begin() + 4), Cat({Le16(0x0102), Le16(1024)}));
  ParsedReply second = Ask(t, Hex("FE 08 00 21 01 01 00 00 02 01 2E"));
  EXPECT_EQ(second.seq, 1);
  EXPECT_EQ(second.flag, 2);
  EXPECT_EQ(Bytes(second.data.begin(), second.data.begin() + 4), Cat({Le16(0x0102), Le16(976)}));
  Bytes joined(first.data.begin() + 4, first.data.end());
  joined.insert(joined.end(), second.data.begin() + 4, second.data.end());
  EXPECT_EQ(joined, content);
}

TEST(GraphicTerminal, ReadAllWalksGroupsInOrderAndClosesWithGroup0) {
  GraphicTerminal t({});
  t.contents().groups[7] = Pattern(2100, 7);
  t.contents().groups[3] = Pattern(1500, 3);
  struct Expected {
    unsigned group, seq, flag, count;
  };
  const Expected walk[] = {
      {3, 0, 0, 1024}, {3, 1, 2, 476}, {7, 0, 0, 1024},
      {7, 1, 1, 1024}, {7, 2, 2, 52},  {0, 0, 2, 0},
  };
  Bytes all;
  for (size_t i = 0; i < std::size(walk); ++i) {
    SCOPED_TRACE(i);
    ParsedReply r = Ask(t, GraphicRequest(0x21, 1, i == 0 ? 0 : 1, 0, Le16(0)));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.seq, walk[i].seq);
    EXPECT_EQ(r.flag, walk[i].flag);
    ASSERT_EQ(r.data.size(), 4 + walk[i].count);
    EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + 4),
              Cat({Le16(walk[i].group), Le16(walk[i].count)}));
    all.insert(all.end(), r.data.begin() + 4, r.data.end());
  }
  EXPECT_EQ(all, Cat({Pattern(1500, 3), Pattern(2100, 7)}));
  // The walk is over: continuing it is out of sequence; a new first request starts again.
  EXPECT_EQ(Ask(t, GraphicRequest(0x21, 1, 1, 0, Le16(0))).status, 3);
  EXPECT_EQ(Ask(t, GraphicRequest(0x21, 1, 0, 0, Le16(0))).data.size(), 4u + 1024u);
}

TEST(GraphicTerminal, BlockReadEdgeCases) {
  GraphicTerminal t({});
  t.contents().groups[5] = Pattern(10, 5);
  struct Case {
    const char *name;
    Bytes request;
    uint8_t status;
    uint8_t flag;
    Bytes data_head;
  };
  const Case cases[] = {
      {"missing group reads empty", GraphicRequest(0x21, 1, 0, 0, Le16(9)), 0, 2,
       Cat({Le16(9), Le16(0)})},
      {"read all starts at the lowest group", GraphicRequest(0x21, 1, 0, 0, Le16(0)), 0, 2,
       Cat({Le16(5), Le16(10)})},
      {"continuing another group", GraphicRequest(0x21, 1, 1, 0, Le16(6)), 3, 0,
       Cat({Le16(6), Le16(0)})},
      {"empty plain area", GraphicRequest(0x21, 4), 0, 2, Le16(0)},
      {"no such area", GraphicRequest(0x21, 7), 1, 0, Le16(0)},
      {"group read without group number", GraphicRequest(0x21, 1), 2, 0, Cat({Le16(0), Le16(0)})},
      {"flag 1 without a read", GraphicRequest(0x21, 5, 1), 3, 0, Le16(0)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ParsedReply r = Ask(t, c.request);
    EXPECT_EQ(r.status, c.status);
    if (c.status == 0) {
      EXPECT_EQ(r.flag, c.flag);
    }
    ASSERT_GE(r.data.size(), c.data_head.size());
    EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + c.data_head.size()), c.data_head);
  }
}

TEST(GraphicTerminal, ReadOnlyAreasServeTheirContentInBlocks) {
  GraphicTerminal t({});
  Bytes all;
  uint8_t flag = 0;
  for (int i = 0; flag != 2; ++i) {
    ASSERT_LT(i, 5);
    ParsedReply r = Ask(t, GraphicRequest(0x21, 240, i == 0 ? 0 : 1));
    EXPECT_EQ(r.seq, i);
    flag = r.flag;
    all.insert(all.end(), r.data.begin() + 2, r.data.end());
  }
  EXPECT_EQ(all, t.contents().areas[240]);
  EXPECT_EQ(all.size(), 3000u);
  EXPECT_EQ(Ask(t, GraphicRequest(0x11, 240, 2, 0, Cat({Le16(1), Bytes{1}}))).status, 4);
  EXPECT_EQ(Ask(t, GraphicRequest(0x11, 2, 2, 0, Cat({Le16(1), Bytes{1}}))).status, 1);
}

TEST(GraphicTerminal, ChunkedWritesCommitOnlyAWholeTransfer) {
  struct Chunk {
    uint8_t flag, seq;
    size_t size;
    uint8_t status;
  };
  struct Case {
    const char *name;
    std::vector<Chunk> chunks;
    long committed;  // bytes in group 9 afterwards; -1 none
  };
  const Case cases[] = {
      {"single chunk", {{2, 0, 5, 0}}, 5},
      {"two chunks", {{0, 0, 1024, 0}, {2, 1, 1, 0}}, 1025},
      {"three chunks", {{0, 0, 1024, 0}, {1, 1, 1024, 0}, {2, 2, 952, 0}}, 3000},
      {"skipped sequence", {{0, 0, 1024, 0}, {2, 2, 1, 3}}, -1},
      {"middle chunk first", {{1, 1, 4, 3}}, -1},
      {"last chunk without a start", {{2, 1, 4, 3}}, -1},
      {"first chunk with sequence 1", {{0, 1, 4, 3}}, -1},
      {"unknown flag", {{3, 0, 4, 2}}, -1},
      {"restart drops the first try", {{0, 0, 1024, 0}, {0, 0, 1024, 0}, {2, 1, 2, 0}}, 1026},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    GraphicTerminal t({});
    for (const Chunk &chunk : c.chunks) {
      Bytes data = Cat({Le16(9), Le16(chunk.size), Pattern(chunk.size, chunk.seq)});
      EXPECT_EQ(Ask(t, GraphicRequest(0x11, 1, chunk.flag, chunk.seq, data)).status, chunk.status);
    }
    auto it = t.contents().groups.find(9);
    EXPECT_EQ(it == t.contents().groups.end() ? -1 : static_cast<long>(it->second.size()),
              c.committed);
  }
}

TEST(GraphicTerminal, MalformedWritesAreRefused) {
  GraphicTerminal t({});
  struct Case {
    const char *name;
    Bytes request;
    uint8_t status;
  };
  const Case cases[] = {
      {"count larger than data", GraphicRequest(0x11, 3, 2, 0, Cat({Le16(3), Bytes{1, 2}})), 2},
      {"count smaller than data",
       GraphicRequest(0x11, 1, 2, 0, Cat({Le16(4), Le16(1), Bytes{1, 2}})), 2},
      {"group 0", GraphicRequest(0x11, 1, 2, 0, Cat({Le16(0), Le16(1), Bytes{1}})), 6},
      {"install option 0x40",
       GraphicRequest(0x12, 'a', 2, 0, Cat({Bytes{0x40}, Le16(1), Bytes{1}})), 2},
      {"install subcommand c",
       GraphicRequest(0x12, 'c', 2, 0, Cat({Bytes{0x00}, Le16(1), Bytes{1}})), 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Ask(t, c.request).status, c.status);
  }
  EXPECT_TRUE(t.contents().groups.empty());
  EXPECT_FALSE(t.contents().areas.count(3));
}

TEST(GraphicTerminal, QueriesReportContent) {
  GraphicTerminal t({"secret", 0xC3, "Line 4"});
  WriteChunked(t, 0x12, 'a', {0x80}, Pattern(10, 1));
  WriteChunked(t, 0x12, 'a', {0x00}, Pattern(1500, 2));
  WriteChunked(t, 0x11, 1, Le16(4), Pattern(3000, 4));
  EXPECT_EQ(t.contents().os.at({'a', 0x00}), Pattern(1500, 2));
  EXPECT_EQ(t.contents().groups.at(4), Pattern(3000, 4));

  Reply os = t.Handle(GraphicRequest(0x31, 'B'));
  ASSERT_EQ(os.bytes.size(), 22u);
  EXPECT_EQ(ParseReply(os.bytes).data,
            Hex("02 61 00 DC 05 00 00 61 80 0A 00 00 00"));  // 1500 and 10

  Reply mem = t.Handle(GraphicRequest(0x31, 'A'));
  ASSERT_EQ(mem.bytes.size(), 15u);
  EXPECT_EQ(ParseReply(mem.bytes).data, Cat({Le16(3), Le16(8192 - 3), Le16(1)}));

  Reply proj = t.Handle(GraphicRequest(0x31, 'C'));
  ASSERT_EQ(proj.bytes.size(), 6u + 18u);
  EXPECT_EQ(proj.bytes[1], 6 + 15);
  EXPECT_EQ(ParseReply(proj.bytes).data,
            Cat({Hex("B8 0B 00 00 01 00 00 00 06"), Hex("4C 69 6E 65 20 34")}));

  Reply type = t.Handle(GraphicRequest(0x52, 1));
  EXPECT_EQ(type.bytes, wire::test::GraphicFrame(0xFF, 0x52, 1, 0, 0, 0, {0xC3}));
}

TEST(GraphicTerminal, ControlCommandsAndTheirRefusals) {
  GraphicTerminal t({"pw", 1, ""});
  t.contents().groups[2] = Pattern(5, 2);
  struct Case {
    const char *name;
    Bytes request;
    uint8_t status;
  };
  const Case cases[] = {
      {"sw reset", GraphicRequest(0x02, 1), 0},
      {"reset", GraphicRequest(0x03, 1), 0},
      {"break uses subcommand 0", GraphicRequest(0x04, 0), 0},
      {"break with subcommand 1", GraphicRequest(0x04, 1), 1},
      {"baud 0x81", GraphicRequest(0x71, 0x81), 0},
      {"baud 0x83", GraphicRequest(0x71, 0x83), 0},
      {"baud 0x84", GraphicRequest(0x71, 0x84), 1},
      {"unknown command", GraphicRequest(0x05, 1), 1},
      {"unknown query", GraphicRequest(0x31, 'D'), 1},
      {"password matches", GraphicRequest(0x51, 0, 0, 0, Hex("02 70 77")), 0},
      {"password differs", GraphicRequest(0x51, 0, 0, 0, Hex("02 70 78")), 5},
      {"password prefix", GraphicRequest(0x51, 0, 0, 0, Hex("01 70")), 5},
      {"password length wrong", GraphicRequest(0x51, 0, 0, 0, Hex("03 70 77")), 2},
      {"delete user data", GraphicRequest(0x32, 0x21), 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ParsedReply r = Ask(t, c.request);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.flag, 0);
    EXPECT_EQ(r.seq, 0);
    EXPECT_TRUE(r.data.empty());
  }
  EXPECT_TRUE(t.contents().groups.empty());
  EXPECT_EQ(t.state().baud_code, 0x83);
  EXPECT_EQ(t.state().breaks, 1u);
}

TEST(GraphicTerminal, IgnoresARequestWithABadChecksum) {
  GraphicTerminal t({});
  Bytes request = Hex("FE 06 00 01 01 00 00 00 09");
  Reply reply = t.Handle(request);
  EXPECT_TRUE(reply.bytes.empty());
  EXPECT_FALSE(t.state().offline);
}

TEST(GraphicTerminal, RestoredTransferServesARepeatedRequestAgain) {
  GraphicTerminal t({});
  t.contents().groups[1] = Pattern(3000, 1);
  Ask(t, GraphicRequest(0x21, 1, 0, 0, Le16(1)));
  std::any saved = t.SaveTransfer();
  ParsedReply lost = Ask(t, GraphicRequest(0x21, 1, 1, 0, Le16(1)));
  t.RestoreTransfer(saved);
  ParsedReply again = Ask(t, GraphicRequest(0x21, 1, 1, 0, Le16(1)));
  EXPECT_EQ(again.seq, 1);
  EXPECT_EQ(again.data, lost.data);
}

TEST(GraphicTerminal, ImageRoundTripKeepsEveryContent) {
  GraphicTerminal t({"", 1, "Project X"});
  t.contents().groups[1] = Pattern(100, 1);
  t.contents().groups[500] = Pattern(3000, 5);
  t.contents().areas[6] = Pattern(7, 6);
  t.contents().areas[241] = Pattern(11, 241);
  t.contents().os[{'b', 0x80}] = Pattern(20, 9);
  Image image = t.ToImage();
  EXPECT_TRUE(image.count("group-500.bin"));
  EXPECT_TRUE(image.count("os-b-80.bin"));

  GraphicTerminal loaded({});
  ASSERT_EQ(loaded.FromImage(image), "");
  EXPECT_EQ(loaded.contents().groups, t.contents().groups);
  EXPECT_EQ(loaded.contents().areas, t.contents().areas);
  EXPECT_EQ(loaded.contents().os, t.contents().os);
  EXPECT_EQ(loaded.project_name(), "Project X");

  Image bad = image;
  bad["group-0.bin"] = Bytes{1};
  EXPECT_NE(GraphicTerminal({}).FromImage(bad), "");
  Image classic{{"meta.txt", Bytes{'f', 'a', 'm', 'i', 'l', 'y', '=', 'c'}}};
  EXPECT_NE(GraphicTerminal({}).FromImage(classic), "");
}

TEST(GraphicTerminal, ANameGroupCarriesTheProjectNameWithTheProjectData) {
  GraphicTerminal kept({"", 1, "KEPT", 0});
  GraphicTerminal carried({"", 1, "BEFORE", 2});
  for (GraphicTerminal *t : {&kept, &carried}) {
    ASSERT_EQ(t->Control({"group", "2", "4C494E450A7265737400"}), "ok");  // "LINE\nrest\0"
  }
  EXPECT_EQ(kept.project_name(), "KEPT");
  EXPECT_EQ(carried.project_name(), "LINE");
  // A delete of the user data takes the groups, and with them a name that lives in one.
  for (GraphicTerminal *t : {&kept, &carried}) t->Handle(GraphicRequest(0x32, 0x21));
  EXPECT_EQ(kept.project_name(), "");
  EXPECT_EQ(carried.project_name(), "");
}

}  // namespace
}  // namespace quiblink::sim
