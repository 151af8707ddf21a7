// The monitor's decoder on byte streams with chosen times: what it makes of each frame, and each
// rule flagged on the frame where it is broken, and on no other.
#include "monitor/decoder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "monitor/capture.h"
#include "monitor/format.h"
#include "wire/hex.h"

namespace quiblink::monitor {
namespace {

using wire::Bytes;

Bytes Hex(const std::string &text) {
  auto bytes = wire::ParseHex(text);
  if (!bytes) throw std::runtime_error("bad hex in test: " + text);
  return *bytes;
}

// A graphic frame, built here by hand: start, length field, header, data, checksum.
Bytes GFrame(uint8_t start, uint8_t command, uint8_t sub, uint8_t flag, uint8_t seq, uint8_t status,
             const Bytes &data = {}) {
  Bytes f(8 + data.size() + 1, 0);
  const size_t length = data.size() + 6;
  f[0] = start;
  f[1] = static_cast<uint8_t>(length & 0xFF);
  f[2] = static_cast<uint8_t>(length >> 8);
  f[3] = command;
  f[4] = sub;
  f[5] = flag;
  f[6] = seq;
  f[7] = status;
  for (size_t i = 0; i < data.size(); ++i) f[8 + i] = data[i];
  unsigned sum = 0;
  for (size_t i = 1; i + 1 < f.size(); ++i) sum += f[i];
  f.back() = static_cast<uint8_t>(sum);
  return f;
}
Bytes Req(uint8_t command, uint8_t sub, uint8_t flag = 0, uint8_t seq = 0, const Bytes &data = {}) {
  return GFrame(0xFE, command, sub, flag, seq, 0, data);
}
Bytes Rep(uint8_t command, uint8_t sub, uint8_t flag = 0, uint8_t seq = 0, uint8_t status = 0,
          const Bytes &data = {}) {
  return GFrame(0xFF, command, sub, flag, seq, status, data);
}
// A plain block write chunk's data: count, then that many bytes.
Bytes Chunk(size_t count) {
  Bytes d{static_cast<uint8_t>(count & 0xFF), static_cast<uint8_t>(count >> 8)};
  d.resize(count + 2, 0x5A);
  return d;
}

struct Step {
  Dir dir;
  int64_t t_ms;
  Bytes bytes;
};
constexpr Dir P = Dir::kToTerminal;
constexpr Dir T = Dir::kToPc;

// "command" or "command!rule!rule" for each record, "noise" and "--" standing for noise and
// events.
std::string Hex8(unsigned v) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(v >> 4) & 15], kDigits[v & 15]};
}
std::string Hex16(unsigned v) {  // little-endian, as the frames carry it
  return Hex8(v & 0xFF) + Hex8(v >> 8);
}

std::vector<std::string> Decode(std::optional<Family> family, const std::vector<Step> &steps,
                                int64_t end_ms, std::vector<Record> *records = nullptr) {
  DecoderConfig config;
  config.family = family;
  config.reply_timeout_us = 100'000;
  Decoder decoder(config);
  std::vector<Record> out;
  for (const Step &s : steps)
    decoder.Feed(s.dir, s.bytes.data(), s.bytes.size(), s.t_ms * 1000, &out);
  decoder.Finish(end_ms * 1000, &out);
  std::vector<std::string> seen;
  for (const Record &r : out) {
    std::string text = r.kind == Record::Kind::kFrame   ? r.command
                       : r.kind == Record::Kind::kNoise ? "noise"
                                                        : "--";
    for (const Flag &f : r.flags) text += "!" + f.rule;
    seen.push_back(text);
  }
  if (records) *records = out;
  return seen;
}

// "command!rule" of each record of a hex dump, as `quiblink decode --hex` reads it.
std::vector<std::string> DecodeDump(const std::string &dump) {
  std::istringstream in(dump);
  CaptureReader reader(in, true);
  DecoderConfig config;
  std::string error;
  EXPECT_TRUE(reader.Start(&config, &error));
  Decoder decoder(config);
  std::vector<std::string> seen;
  EXPECT_TRUE(Replay(
      reader, decoder,
      [&](const Record &r) {
        std::string text = r.kind == Record::Kind::kEvent ? "--" : r.command;
        for (const Flag &f : r.flags) text += "!" + f.rule;
        seen.push_back(text);
      },
      &error))
      << error;
  return seen;
}

using V = std::vector<std::string>;

TEST(MonitorDecoder, ReadsTheWorkedExamplesFieldByField) {
  std::vector<Record> r;
  // A read of 4 bytes at 0x100, model code 0, and its reply.
  EXPECT_EQ(Decode(std::nullopt,
                   {{P, 0, Hex("02 45 30 30 30 31 30 30 30 34 03 43 44")},
                    {T, 20, Hex("02 31 32 33 34 35 36 37 38 03 41 37")}},
                   50, &r),
            (V{"read", "data"}));
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].family, Family::kClassic);
  EXPECT_EQ(r[0].fields, (std::vector<std::pair<std::string, std::string>>{
                             {"cmd", "E"}, {"addr", "000100"}, {"n", "4"}}));
  EXPECT_EQ(r[0].checksum, 1);
  EXPECT_EQ(r[1].checksum, 1);
  EXPECT_EQ(r[1].latency_us, 20000);
  // A write of AB CD at 0x200 with model code 3 (pair-swapped digits), answered with ACK.
  EXPECT_EQ(Decode(Family::kClassic,
                   {{P, 0, Hex("02 31 38 32 38 30 30 32 43 44 41 42 03 37 32")}, {T, 5, Hex("06")}},
                   50, &r),
            (V{"write", "ack"}));
  EXPECT_EQ(r[0].fields, (std::vector<std::pair<std::string, std::string>>{
                             {"cmd", "1"}, {"addr", "8280"}, {"n", "2"}}));
  // The graphic terminal-type request, 9 bytes, checksum 59, and its 10-byte reply.
  EXPECT_EQ(Decode(std::nullopt,
                   {{P, 0, Hex("FE 06 00 52 01 00 00 00 59")},
                    {T, 3, Hex("FF 07 00 52 01 00 00 00 01 5B")}},
                   50, &r),
            (V{"terminal-type", "terminal-type"}));
  EXPECT_EQ(r[0].family, Family::kGraphic);
  EXPECT_EQ(r[1].latency_us, 3000);
}

TEST(MonitorDecoder, FlagsEachRuleOnTheFrameThatBreaksIt) {
  const Bytes type = Req(0x52, 1);
  const Bytes type_ok = Rep(0x52, 1, 0, 0, 0, {1});
  Bytes bad_sum = type_ok;
  bad_sum.back() ^= 1;
  const Bytes classic_read = Hex("02 45 30 30 30 31 30 30 30 34 03 43 44");
  Bytes long_reply = type_ok;
  long_reply[1] += 1;  // says one byte more than comes
  struct Case {
    const char *name;
    std::vector<Step> steps;
    V expected;
  };
  const Case cases[] = {
      {"clean exchanges keep the quiet time",
       {{P, 0, type}, {T, 3, type_ok}, {P, 9, type}, {T, 12, type_ok}},
       {"terminal-type", "terminal-type", "terminal-type", "terminal-type"}},
      {"a request 2 ms after the reply",
       {{P, 0, type}, {T, 3, type_ok}, {P, 5, type}, {T, 8, type_ok}},
       {"terminal-type", "terminal-type", "terminal-type!quiet-time", "terminal-type"}},
      {"no reply, then the repeat",
       {{P, 0, type}, {P, 250, type}, {T, 253, type_ok}},
       {"terminal-type", "--!reply-timeout", "terminal-type!attempt", "terminal-type"}},
      {"a reply that stalls",
       {{P, 0, type}, {T, 3, Bytes(type_ok.begin(), type_ok.begin() + 4)}},
       {"terminal-type", "--!stalled"}},
      {"bad checksum, then the repeat",
       {{P, 0, type}, {T, 3, bad_sum}, {P, 150, type}, {T, 153, type_ok}},
       {"terminal-type", "terminal-type!checksum", "terminal-type!attempt", "terminal-type"}},
      {"a reply to another command",
       {{P, 0, type}, {T, 3, Rep(0x31, 0x41)}},
       {"terminal-type", "mem-data!echo"}},
      {"a status byte",
       {{P, 0, Req(0x51, 0, 0, 0, {0})}, {T, 3, Rep(0x51, 0, 0, 0, 5)}},
       {"check-password", "check-password!status"}},
      {"a flag in a single reply",
       {{P, 0, type}, {T, 3, Rep(0x52, 1, 1, 0, 0, {1})}},
       {"terminal-type", "terminal-type!sequence"}},
      {"write chunks out of step",
       {{P, 0, Req(0x11, 3, 0, 0, Chunk(1024))},
        {T, 10, Rep(0x11, 3)},
        {P, 20, Req(0x11, 3, 1, 1, Chunk(1024))},
        {T, 30, Rep(0x11, 3)},
        {P, 40, Req(0x11, 3, 2, 3, Chunk(10))},
        {T, 50, Rep(0x11, 3)}},
       {"block-write", "block-write", "block-write", "block-write", "block-write!sequence",
        "block-write"}},
      {"a chunk above 1024 bytes",
       {{P, 0, Req(0x11, 3, 2, 0, Chunk(1100))}, {T, 30, Rep(0x11, 3)}},
       {"block-write!chunk-size", "block-write"}},
      {"block-read replies out of step",
       {{P, 0, Req(0x21, 3)},
        {T, 10, Rep(0x21, 3, 1, 0, 0, {2, 0, 7, 7})},
        {P, 20, Req(0x21, 3, 1)},
        {T, 30, Rep(0x21, 3, 2, 2, 0, {2, 0, 7, 7})}},
       {"block-read", "block-read", "block-read", "block-read!sequence"}},
      {"NAK to a graphic request",
       {{P, 0, type}, {T, 3, Hex("15")}},
       {"terminal-type", "noise!nak"}},
      {"a reply with a wrong start",
       {{P, 0, type}, {T, 3, Hex("A5 9E D3")}},
       {"terminal-type", "noise!bad-start"}},
      {"bytes outside any frame",
       {{P, 0, Hex("55 AA")}, {P, 1, type}, {T, 4, type_ok}, {T, 5, Hex("55 AA 55")}},
       {"noise!noise", "terminal-type", "terminal-type", "noise!noise"}},
      {"a length field longer than the reply, cut short by the repeat",
       {{P, 0, type}, {T, 3, long_reply}, {P, 50, type}, {T, 53, type_ok}},
       {"terminal-type", "partial!length", "terminal-type!attempt", "terminal-type"}},
      {"a new request while one awaits its reply",
       {{P, 0, type}, {P, 40, Req(0x31, 0x41)}, {T, 43, Rep(0x31, 0x41, 0, 0, 0, Bytes(6))}},
       {"terminal-type", "mem-data!unanswered", "mem-data"}},
      {"classic NAK, then the repeat",
       {{P, 0, classic_read},
        {T, 20, Hex("15")},
        {P, 170, classic_read},
        {T, 190, Hex("02 31 32 33 34 35 36 37 38 03 41 37")}},
       {"read", "nak!nak", "read!attempt", "data"}},
      {"classic ACK to a read", {{P, 0, classic_read}, {T, 20, Hex("06")}}, {"read", "ack!echo"}},
      {"classic reply with a bad checksum",
       {{P, 0, classic_read}, {T, 20, Hex("02 31 32 33 34 35 36 37 38 03 41 38")}},
       {"read", "data!checksum"}},
      {"classic reply without ETX, cut short by the repeat",
       {{P, 0, classic_read},
        {T, 20, Hex("02 31 32 33 34 35 36 37 38 04 41 37")},
        {P, 50, classic_read}},
       {"read", "partial!etx", "read!attempt", "--!reply-timeout"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(std::nullopt, c.steps, 1000), c.expected);
  }
}

// The PC counts whole milliseconds, so its wait of the quiet time may end up to one tick short:
// only a request sooner than that after the reply is flagged.
TEST(MonitorDecoder, TheQuietTimeAllowsOneTickOfThePcsClock) {
  const Bytes type = Req(0x52, 1);
  const Bytes type_ok = Rep(0x52, 1, 0, 0, 0, {1});
  struct Case {
    const char *name;
    int64_t gap_us;  // from the reply's last byte to the next request
    bool flagged;
  };
  const Case cases[] = {
      {"2 ms", 2'000, true},
      {"1 us under the quiet time less one tick", 3'999, true},
      {"the quiet time less one tick", 4'000, false},
      {"1 us over the quiet time less one tick", 4'001, false},
      {"the whole quiet time", 5'000, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DecoderConfig config;
    config.family = Family::kGraphic;
    config.quiet_us = 5'000;
    Decoder decoder(config);
    std::vector<Record> out;
    decoder.Feed(P, type.data(), type.size(), 0, &out);
    decoder.Feed(T, type_ok.data(), type_ok.size(), 3'000, &out);
    decoder.Feed(P, type.data(), type.size(), 3'000 + c.gap_us, &out);
    ASSERT_EQ(out.size(), 3u);
    const std::vector<Flag> &flags = out[2].flags;
    EXPECT_EQ(std::any_of(flags.begin(), flags.end(),
                          [](const Flag &f) { return f.rule == rule::kQuietTime; }),
              c.flagged);
  }
}

TEST(MonitorDecoder, TimeOutsFallDueAtTheirTimeNotWhenTheyAreNoticed) {
  const Bytes type = Req(0x52, 1);
  std::vector<Record> r;
  Decode(Family::kGraphic, {{P, 0, type}}, 5000, &r);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].t_us, 100'000);  // the request's last byte at 0, the time-out 100 ms
  // 99 ms of silence is not a time-out; a reply then is on time.
  EXPECT_EQ(Decode(Family::kGraphic, {{P, 0, type}, {T, 99, Rep(0x52, 1, 0, 0, 0, {1})}}, 5000),
            (V{"terminal-type", "terminal-type"}));
}

TEST(MonitorDecoder, ACaptureReplaysToTheSameRecordsAndAHexDumpDecodesWithoutTiming) {
  const std::vector<Step> steps = {{P, 0, Req(0x52, 1)},
                                   {T, 3, Rep(0x52, 1, 0, 0, 0, {1})},
                                   {P, 4, Req(0x52, 1)},
                                   {T, 9, Bytes{0xFF, 0x07}},
                                   {T, 10, Bytes{0x00, 0x52, 0x01, 0x00, 0x00, 0x07, 0x01, 0x62}}};
  std::vector<Record> live;
  Decode(std::nullopt, steps, 500, &live);
  char path[] = "/tmp/quiblink-capture-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  DecoderConfig config;
  config.reply_timeout_us = 100'000;
  {
    CaptureWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(path, config, &error)) << error;
    for (const Step &s : steps) writer.Chunk(s.dir, s.t_ms * 1000, s.bytes.data(), s.bytes.size());
    writer.End(500'000);
  }
  std::ifstream in(path);
  CaptureReader reader(in, false);
  std::string error;
  DecoderConfig read_config;
  ASSERT_TRUE(reader.Start(&read_config, &error)) << error;
  Decoder decoder(read_config);
  std::vector<std::string> replayed;
  ASSERT_TRUE(Replay(
      reader, decoder, [&](const Record &r) { replayed.push_back(FormatRecord(r, {})); }, &error))
      << error;
  std::remove(path);
  std::vector<std::string> expected;
  for (const Record &r : live) expected.push_back(FormatRecord(r, {}));
  EXPECT_EQ(replayed, expected);
  // quiet-time and status flagged, in that order of records
  ASSERT_EQ(live.size(), 4u);
  EXPECT_EQ(live[2].flags.at(0).rule, "quiet-time");
  EXPECT_EQ(live[3].flags.at(0).rule, "status");

  // Back to back with no times: no quiet-time flag, and the open request never times out.
  EXPECT_EQ(DecodeDump("# a session\n> FE 06 00 52 01 00 00 00 59\n< FF 07 00 52 01\n"
                       "00 00 00 01 5B\n> FE0600520100000059\n"),
            (V{"terminal-type", "terminal-type", "terminal-type"}));
}

// A dump's last frame that never ends is reported cut short, in either direction; a frame cut
// across lines of any length, and across the reader's pieces, is one frame.
TEST(MonitorDecoder, HexDumpsEndWithWhatIsLeftOfAFrameAndReadLongLinesInPieces) {
  EXPECT_EQ(DecodeDump("> FE0600520100000059\n< FF 07\n"),
            (V{"terminal-type", "partial!incomplete"}));
  EXPECT_EQ(DecodeDump("> FE06005201\n"), (V{"--!incomplete"}));
  // A 3000-byte write chunk (above the largest) and its reply, each on one line.
  std::string chunk = "> FE" + Hex16(3000 + 8) + "1103000000" + Hex16(3000);
  uint8_t sum =
      static_cast<uint8_t>((3008 & 0xFF) + (3008 >> 8) + 0x11 + 0x03 + (3000 & 0xFF) + (3000 >> 8));
  for (int i = 0; i < 3000; ++i) {
    chunk += "5A";
    sum = static_cast<uint8_t>(sum + 0x5A);
  }
  chunk += Hex8(sum) + "\n< FF060011030000001A\n";
  EXPECT_EQ(DecodeDump(chunk), (V{"block-write!chunk-size", "block-write"}));
  std::string error;
  std::istringstream bad("> FE06\n> FE0G\n");
  CaptureReader reader(bad, true);
  DecoderConfig config;
  ASSERT_TRUE(reader.Start(&config, &error));
  Decoder decoder(config);
  EXPECT_FALSE(Replay(
      reader, decoder, [](const Record &) {}, &error));
  EXPECT_EQ(error, "line 2: bad hex");
}

TEST(MonitorDecoder, JsonRecordsCarryEveryField) {
  std::vector<Record> r;
  Decode(Family::kGraphic, {{P, 0, Req(0x52, 1)}, {T, 3, Rep(0x52, 1, 0, 0, 5, {1})}}, 50, &r);
  FormatOptions json;
  json.json = true;
  EXPECT_EQ(FormatRecord(r[1], json),
            "{\"t_us\":3000,\"dir\":\"TERM>PC\",\"kind\":\"frame\",\"family\":\"graphic\","
            "\"command\":\"terminal-type\",\"fields\":{\"cmd\":\"52\",\"sub\":\"01\",\"flag\":"
            "\"0\",\"seq\":\"0\",\"status\":\"05\",\"len\":\"7\"},\"checksum\":\"good\","
            "\"latency_us\":3000,\"bytes\":\"FF070052010000050160\",\"flags\":[{\"rule\":"
            "\"status\",\"detail\":\"the terminal refused with status 05\"}]}");
}

TEST(MonitorDecoder, TheJsonSummaryCountsByDirectionAndRule) {
  Summary s;
  s.exchanges = 2;
  s.attempts = 1;
  s.frames[0] = 3;
  s.frames[1] = 2;
  s.bytes[0] = 30;
  s.bytes[1] = 20;
  s.flagged = {{"quiet-time", 2}, {"nak", 1}};
  s.first_us = 500'000;
  s.last_us = 1'500'000;
  s.baud = 9600;
  FormatOptions json;
  json.json = true;
  // 50 bytes of 11 bits at 9600 baud keep the line busy 57.3 ms of the second.
  EXPECT_EQ(FormatSummary(s, Family::kGraphic, json),
            "{\"summary\":{\"exchanges\":2,\"attempts\":1,\"frames\":{\"PC>TERM\":3,\"TERM>PC\":2},"
            "\"bytes\":{\"PC>TERM\":30,\"TERM>PC\":20},\"flagged\":{\"nak\":1,\"quiet-time\":2},"
            "\"elapsed_us\":1000000,\"baud\":9600,\"utilisation\":0.0573}}");
}

}  // namespace
}  // namespace quiblink::monitor
