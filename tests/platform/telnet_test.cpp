// The telnet and com port control codec against byte sequences written from
// RFC 854 (IAC, doubling), RFC 855 (SB ... SE) and RFC 2217 (commands and the
// server's answers at command + 100).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/net/telnet.h"
#include "platform/net/url.h"

namespace {

namespace t = plat::telnet;
using Bytes = std::vector<uint8_t>;

// What a stream decodes to, one line per event: "D xx" for a data byte,
// "N verb option" for a negotiation, "S bytes..." for a subnegotiation.
std::string Decode(t::Decoder *d, const Bytes &in) {
  std::string out;
  char text[8];
  for (uint8_t b : in) {
    t::Event e = t::DecodeByte(d, b);
    if (e.kind == t::kEventData) {
      snprintf(text, sizeof text, "D %02X\n", e.data);
      out += text;
    } else if (e.kind == t::kEventNegotiation) {
      snprintf(text, sizeof text, "N %02X ", e.verb);
      out += text;
      snprintf(text, sizeof text, "%02X\n", e.option);
      out += text;
    } else if (e.kind == t::kEventSubnegotiation) {
      out += "S";
      for (size_t i = 0; i < d->length; ++i) {
        snprintf(text, sizeof text, " %02X", d->sub[i]);
        out += text;
      }
      out += "\n";
    }
  }
  return out;
}

struct DecodeCase {
  const char *name;
  Bytes in;
  const char *events;
};

const DecodeCase kDecodeCases[] = {
    {"plain bytes are data", {0x41, 0x00, 0xFE}, "D 41\nD 00\nD FE\n"},
    {"a doubled IAC is one data byte 0xFF", {0xFF, 0xFF}, "D FF\n"},
    {"two doubled IACs are two bytes 0xFF", {0xFF, 0xFF, 0xFF, 0xFF}, "D FF\nD FF\n"},
    {"IAC WILL BINARY is a negotiation", {0xFF, 0xFB, 0x00}, "N FB 00\n"},
    {"a negotiation between data bytes", {0x78, 0xFF, 0xFD, 0x03, 0x79}, "D 78\nN FD 03\nD 79\n"},
    {"a baud-rate answer is a subnegotiation",
     {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x96, 0x00, 0xFF, 0xF0},
     "S 2C 65 00 00 96 00\n"},
    {"a doubled IAC inside a subnegotiation is one 0xFF",
     {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xF0},
     "S 2C 65 00 00 FF 00\n"},
    {"NOP and GA carry nothing", {0xFF, 0xF1, 0x41, 0xFF, 0xF9}, "D 41\n"},
    {"a command inside a subnegotiation ends it and still counts",
     {0xFF, 0xFA, 0x2C, 0x6B, 0xFF, 0xFB, 0x01, 0x42},
     "N FB 01\nD 42\n"},
    {"the greeting of a device server",
     {0xFF, 0xFB, 0x03, 0xFF, 0xFD, 0x03, 0xFF, 0xFB, 0x01, 0xFF, 0xFE,
      0x01, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x2C},
     "N FB 03\nN FD 03\nN FB 01\nN FE 01\nN FD 00\nN FB 00\nN FD 2C\n"},
    {"data 0xFF followed by bytes that look like commands",
     {0xFF, 0xFF, 0xFA, 0xFF, 0xFF, 0xF0},
     "D FF\nD FA\nD FF\nD F0\n"},
};

TEST(TelnetDecoder, DecodesEveryCaseWhereverTheStreamIsSplit) {
  for (const DecodeCase &c : kDecodeCases) {
    t::Decoder whole;
    t::DecoderReset(&whole);
    EXPECT_EQ(Decode(&whole, c.in), c.events) << c.name;
    // The same bytes in two reads, cut at every place: an IAC split from its
    // command, a subnegotiation split anywhere.
    for (size_t cut = 1; cut < c.in.size(); ++cut) {
      t::Decoder d;
      t::DecoderReset(&d);
      std::string events = Decode(&d, Bytes(c.in.begin(), c.in.begin() + long(cut)));
      events += Decode(&d, Bytes(c.in.begin() + long(cut), c.in.end()));
      EXPECT_EQ(events, c.events) << c.name << ", cut after " << cut << " bytes";
    }
  }
}

TEST(TelnetDecoder, AnOverlongSubnegotiationIsDroppedAndTheStreamGoesOn) {
  t::Decoder d;
  t::DecoderReset(&d);
  Bytes in = {0xFF, 0xFA, 0x2C};
  in.insert(in.end(), t::kMaxSubnegotiation + 10, 0x11);
  in.insert(in.end(), {0xFF, 0xF0, 0x55, 0xFF, 0xFA, 0x2C, 0x6B, 0x30, 0xFF, 0xF0});
  EXPECT_EQ(Decode(&d, in), "D 55\nS 2C 6B 30\n");
}

TEST(TelnetEncoder, DoublesEveryIacAndNeverSplitsOne) {
  Bytes data(256);
  for (int i = 0; i < 256; ++i) data[i] = static_cast<uint8_t>(i);
  data.insert(data.end(), {0xFF, 0xFF, 0xFF});
  Bytes out(2 * data.size());
  size_t produced = 0;
  EXPECT_EQ(t::EncodeData(data.data(), data.size(), out.data(), out.size(), &produced),
            data.size());
  EXPECT_EQ(produced, data.size() + 4);
  out.resize(produced);
  EXPECT_EQ(Bytes(out.begin() + 254, out.begin() + 257), (Bytes{0xFE, 0xFF, 0xFF}));

  // Decoding gives the data back exactly.
  t::Decoder d;
  t::DecoderReset(&d);
  Bytes back;
  for (uint8_t b : out) {
    t::Event e = t::DecodeByte(&d, b);
    ASSERT_NE(e.kind, t::kEventNegotiation);
    if (e.kind == t::kEventData) back.push_back(e.data);
  }
  EXPECT_EQ(back, data);

  // Room for one byte only: an IAC does not go at all.
  const uint8_t iac_first[] = {0xFF, 0x41};
  uint8_t small[2] = {0, 0};
  EXPECT_EQ(t::EncodeData(iac_first, 2, small, 1, &produced), 0u);
  EXPECT_EQ(produced, 0u);
  EXPECT_EQ(t::EncodeData(iac_first, 2, small, 2, &produced), 1u);
  EXPECT_EQ(produced, 2u);
  EXPECT_EQ(small[0], 0xFF);
  EXPECT_EQ(small[1], 0xFF);
}

TEST(ComPortRequests, AreBuiltAsTheOptionDefinesThem) {
  uint8_t out[t::kMaxComPortRequest];
  auto built = [&](size_t n) { return Bytes(out, out + n); };
  EXPECT_EQ(built(t::BuildSetBaudRate(38400, out)),
            (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x96, 0x00, 0xFF, 0xF0}));
  // 0xFF in a value travels doubled too.
  EXPECT_EQ(built(t::BuildSetBaudRate(0x00FF00FF, out)),
            (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xF0}));
  const struct {
    uint8_t command, value;
    Bytes wire;
  } singles[] = {
      {t::kSetDataSize, 7, {0xFF, 0xFA, 0x2C, 0x02, 0x07, 0xFF, 0xF0}},
      {t::kSetParity, t::kParityEven, {0xFF, 0xFA, 0x2C, 0x03, 0x03, 0xFF, 0xF0}},
      {t::kSetStopSize, t::kStopOne, {0xFF, 0xFA, 0x2C, 0x04, 0x01, 0xFF, 0xF0}},
      {t::kSetControl, t::kControlNoFlow, {0xFF, 0xFA, 0x2C, 0x05, 0x01, 0xFF, 0xF0}},
      {t::kSetControl, t::kControlRtsOn, {0xFF, 0xFA, 0x2C, 0x05, 0x0B, 0xFF, 0xF0}},
      {t::kPurgeData, t::kPurgeBoth, {0xFF, 0xFA, 0x2C, 0x0C, 0x03, 0xFF, 0xF0}},
      {t::kSetModemStateMask, 0xFF, {0xFF, 0xFA, 0x2C, 0x0B, 0xFF, 0xFF, 0xFF, 0xF0}},
  };
  for (const auto &s : singles) {
    EXPECT_EQ(built(t::BuildComPort(s.command, &s.value, 1, out)), s.wire)
        << "command " << int(s.command);
  }
}

TEST(ComPortReplies, AreTheServersAnswersAtCommandPlus100) {
  t::ComPortReply r = {};
  const uint8_t baud[] = {0x2C, 0x65, 0x00, 0x00, 0x96, 0x00};
  ASSERT_TRUE(t::ParseComPortReply(baud, sizeof baud, &r));
  EXPECT_EQ(r.command, t::kSetBaudRate);
  EXPECT_EQ(r.value, 38400u);
  const uint8_t modem[] = {0x2C, 0x6B, 0x31};
  ASSERT_TRUE(t::ParseComPortReply(modem, sizeof modem, &r));
  EXPECT_EQ(r.command, t::kNotifyModemState);
  EXPECT_EQ(r.value, 0x31u);

  const struct {
    const char *name;
    Bytes sub;
  } refused[] = {
      {"a client's command", {0x2C, 0x01, 0x00, 0x00, 0x96, 0x00}},
      {"another option", {0x18, 0x65, 0x00}},
      {"no value", {0x2C, 0x67}},
      {"a short baud rate", {0x2C, 0x65, 0x00, 0x96}},
  };
  for (const auto &c : refused) {
    EXPECT_FALSE(t::ParseComPortReply(c.sub.data(), c.sub.size(), &r)) << c.name;
  }
}

TEST(TelnetOptions, TheClientOpensWithBinarySuppressGoAheadAndComPort) {
  t::Options o;
  t::OptionsReset(&o);
  uint8_t out[t::kOpeningLength];
  ASSERT_EQ(t::BuildOpening(&o, out), t::kOpeningLength);
  EXPECT_EQ(Bytes(out, out + t::kOpeningLength),
            (Bytes{0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x03, 0xFF, 0xFD, 0x03, 0xFF,
                   0xFB, 0x2C}));
}

// Each row follows the ones before it on the same option state.
struct AnswerCase {
  const char *name;
  uint8_t verb, option;
  Bytes answer;
};

void ExpectAnswers(t::Options *o, const std::vector<AnswerCase> &cases) {
  for (const AnswerCase &c : cases) {
    uint8_t out[3];
    size_t n = t::AnswerNegotiation(o, c.verb, c.option, out);
    EXPECT_EQ(Bytes(out, out + n), c.answer) << c.name;
  }
}

TEST(TelnetOptions, AnswersOnlyWhatChangesAnOptionAndRefusesTheRest) {
  t::Options o;
  t::OptionsReset(&o);
  uint8_t opening[t::kOpeningLength];
  t::BuildOpening(&o, opening);
  ExpectAnswers(
      &o,
      {
          {"DO COM-PORT answers our WILL: no reply", t::kDo, 44, {}},
          {"a second DO COM-PORT: already on", t::kDo, 44, {}},
          {"WILL BINARY answers our DO", t::kWill, 0, {}},
          {"DO BINARY answers our WILL", t::kDo, 0, {}},
          {"WILL ECHO is refused", t::kWill, 1, {0xFF, 0xFE, 0x01}},
          {"DONT ECHO while off: nothing", t::kDont, 1, {}},
          {"DO ECHO is refused", t::kDo, 1, {0xFF, 0xFC, 0x01}},
          {"WONT SGA refuses our DO: nothing", t::kWont, 3, {}},
          {"WILL SGA later is welcome", t::kWill, 3, {0xFF, 0xFD, 0x03}},
          {"WILL COM-PORT from the server is not for a client", t::kWill, 44, {0xFF, 0xFE, 0x2C}},
          {"DONT COM-PORT switches it off", t::kDont, 44, {0xFF, 0xFC, 0x2C}},
          {"DONT COM-PORT again: already off", t::kDont, 44, {}},
      });
  EXPECT_TRUE(o.flags[0] & t::kLocal);
  EXPECT_TRUE(o.flags[0] & t::kRemote);
  EXPECT_FALSE(o.flags[44] & t::kLocal);
  EXPECT_TRUE(o.flags[44] & t::kAnswered);

  // A server that asks first is given what the client wants.
  t::OptionsReset(&o);
  ExpectAnswers(&o, {
                        {"DO BINARY", t::kDo, 0, {0xFF, 0xFB, 0x00}},
                        {"DO COM-PORT", t::kDo, 44, {0xFF, 0xFB, 0x2C}},
                        {"WILL BINARY", t::kWill, 0, {0xFF, 0xFD, 0x00}},
                        {"DO 24 (terminal type)", t::kDo, 24, {0xFF, 0xFC, 0x18}},
                    });
  EXPECT_TRUE(o.flags[44] & t::kLocal);
}

struct UrlCase {
  const char *name;
  plat::net::Scheme scheme;
  const char *host;
  const char *port;
};

TEST(DeviceUrls, NameTheServerAndTheWayToTalkToIt) {
  using plat::net::kRawTcp;
  using plat::net::kRfc2217;
  const UrlCase good[] = {
      {"rfc2217://127.0.0.1:7002", kRfc2217, "127.0.0.1", "7002"},
      {"RFC2217://Server-3:1", kRfc2217, "Server-3", "1"},
      {"tcp://plant.example:65535", kRawTcp, "plant.example", "65535"},
      {"socket://10.0.0.9:4001", kRawTcp, "10.0.0.9", "4001"},
      {"tcp://[::1]:7001", kRawTcp, "::1", "7001"},
  };
  for (const UrlCase &c : good) {
    plat::net::Address a = {};
    ASSERT_TRUE(plat::net::ParseUrl(c.name, &a)) << c.name;
    EXPECT_EQ(plat::net::SchemeOf(c.name), c.scheme) << c.name;
    EXPECT_EQ(a.scheme, c.scheme) << c.name;
    EXPECT_STREQ(a.host, c.host) << c.name;
    EXPECT_STREQ(a.port, c.port) << c.name;
  }
  const char *bad[] = {"tcp://host",
                       "tcp://host:",
                       "tcp://:80",
                       "tcp://host:0",
                       "tcp://host:65536",
                       "tcp://host:8a",
                       "tcp://host:80/path",
                       "rfc2217://h:80?ign=1",
                       "tcp://::1:80",
                       "tcp://[::1]80",
                       "udp://host:80",
                       "/dev/ttyS0",
                       "COM1",
                       ""};
  for (const char *name : bad) {
    plat::net::Address a = {};
    EXPECT_FALSE(plat::net::ParseUrl(name, &a)) << name;
  }
  EXPECT_EQ(plat::net::SchemeOf("/dev/pts/3"), plat::net::kNotUrl);
  EXPECT_EQ(plat::net::SchemeOf("tcp:/host:80"), plat::net::kNotUrl);
  EXPECT_EQ(plat::net::SchemeOf("socket://"), plat::net::kRawTcp);
}

}  // namespace
