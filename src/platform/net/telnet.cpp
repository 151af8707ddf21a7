#include "platform/net/telnet.h"

#include <string.h>

namespace plat::telnet {

namespace {

enum : uint8_t { kData, kAfterIac, kAfterVerb, kInSub, kInSubAfterIac };

bool Wanted(uint8_t option, bool local) {
  if (option == kOptBinary || option == kOptSuppressGoAhead) return true;
  return local && option == kOptComPort;
}

// The byte after an IAC outside a subnegotiation.
Event AfterIac(Decoder *d, uint8_t byte) {
  Event e = {kEventNone, 0, 0, 0};
  switch (byte) {
    case kIac:
      d->state = kData;
      e.kind = kEventData;
      e.data = kIac;
      break;
    case kWill:
    case kWont:
    case kDo:
    case kDont:
      d->verb = byte;
      d->state = kAfterVerb;
      break;
    case kSb:
      d->length = 0;
      d->overflow = false;
      d->state = kInSub;
      break;
    default:
      d->state = kData;  // NOP, GA, DM, BRK and the like carry nothing for us
      break;
  }
  return e;
}

}  // namespace

void DecoderReset(Decoder *decoder) {
  memset(decoder, 0, sizeof *decoder);
}

Event DecodeByte(Decoder *d, uint8_t byte) {
  Event e = {kEventNone, 0, 0, 0};
  switch (d->state) {
    case kData:
      if (byte == kIac) {
        d->state = kAfterIac;
      } else {
        e.kind = kEventData;
        e.data = byte;
      }
      return e;
    case kAfterIac:
      return AfterIac(d, byte);
    case kAfterVerb:
      d->state = kData;
      e.kind = kEventNegotiation;
      e.verb = d->verb;
      e.option = byte;
      return e;
    case kInSub:
      if (byte == kIac) {
        d->state = kInSubAfterIac;
      } else if (d->length < kMaxSubnegotiation) {
        d->sub[d->length++] = byte;
      } else {
        d->overflow = true;
      }
      return e;
    default:  // kInSubAfterIac
      if (byte == kIac) {
        d->state = kInSub;
        if (d->length < kMaxSubnegotiation) {
          d->sub[d->length++] = kIac;
        } else {
          d->overflow = true;
        }
        return e;
      }
      if (byte == kSe) {
        d->state = kData;
        if (!d->overflow && d->length > 0) e.kind = kEventSubnegotiation;
        return e;
      }
      // A command inside a subnegotiation ends it unfinished; the command
      // itself still counts.
      return AfterIac(d, byte);
  }
}

size_t EncodeData(const uint8_t *data, size_t length, uint8_t *out, size_t room, size_t *produced) {
  size_t in = 0;
  size_t n = 0;
  while (in < length) {
    const size_t need = data[in] == kIac ? 2 : 1;
    if (room - n < need) break;
    out[n++] = data[in];
    if (need == 2) out[n++] = kIac;
    ++in;
  }
  *produced = n;
  return in;
}

size_t BuildNegotiation(uint8_t verb, uint8_t option, uint8_t *out) {
  out[0] = kIac;
  out[1] = verb;
  out[2] = option;
  return 3;
}

size_t BuildComPort(uint8_t command, const uint8_t *value, size_t length, uint8_t *out) {
  size_t n = 0;
  out[n++] = kIac;
  out[n++] = kSb;
  out[n++] = kOptComPort;
  out[n++] = command;
  // Five value bytes at most, doubled: 4 + 10 + 2 fits kMaxComPortRequest.
  for (size_t i = 0; i < length && i < 5; ++i) {
    out[n++] = value[i];
    if (value[i] == kIac) out[n++] = kIac;
  }
  out[n++] = kIac;
  out[n++] = kSe;
  return n;
}

size_t BuildSetBaudRate(uint32_t baud, uint8_t *out) {
  const uint8_t value[4] = {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                            static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
  return BuildComPort(kSetBaudRate, value, sizeof value, out);
}

bool ParseComPortReply(const uint8_t *sub, size_t length, ComPortReply *reply) {
  if (length < 3 || sub[0] != kOptComPort || sub[1] <= kServerOffset) return false;
  reply->command = static_cast<uint8_t>(sub[1] - kServerOffset);
  if (reply->command == kSetBaudRate) {
    if (length < 6) return false;
    reply->value = static_cast<uint32_t>(sub[2]) << 24 | static_cast<uint32_t>(sub[3]) << 16 |
                   static_cast<uint32_t>(sub[4]) << 8 | sub[5];
  } else {
    reply->value = sub[2];
  }
  return true;
}

void OptionsReset(Options *options) {
  memset(options, 0, sizeof *options);
}

size_t BuildOpening(Options *options, uint8_t *out) {
  size_t n = 0;
  n += BuildNegotiation(kWill, kOptBinary, out + n);
  n += BuildNegotiation(kDo, kOptBinary, out + n);
  n += BuildNegotiation(kWill, kOptSuppressGoAhead, out + n);
  n += BuildNegotiation(kDo, kOptSuppressGoAhead, out + n);
  n += BuildNegotiation(kWill, kOptComPort, out + n);
  options->flags[kOptBinary] |= kLocalPending | kRemotePending;
  options->flags[kOptSuppressGoAhead] |= kLocalPending | kRemotePending;
  options->flags[kOptComPort] |= kLocalPending;
  return n;
}

size_t AnswerNegotiation(Options *options, uint8_t verb, uint8_t option, uint8_t *out) {
  uint8_t &f = options->flags[option];
  f |= kAnswered;
  const bool local_side = verb == kDo || verb == kDont;
  const uint8_t on = local_side ? kLocal : kRemote;
  const uint8_t pending = local_side ? kLocalPending : kRemotePending;
  const uint8_t yes = local_side ? kWill : kDo;
  const uint8_t no = local_side ? kWont : kDont;
  const bool asked_on = verb == kDo || verb == kWill;

  const bool was_pending = (f & pending) != 0;
  f &= static_cast<uint8_t>(~pending);
  if (asked_on) {
    if (f & on) return 0;  // already so: no answer, or the two sides would loop
    if (was_pending || Wanted(option, local_side)) {
      f |= on;
      return was_pending ? 0 : BuildNegotiation(yes, option, out);
    }
    return BuildNegotiation(no, option, out);
  }
  if (!(f & on)) return 0;  // already off, or the refusal of our own request
  f &= static_cast<uint8_t>(~on);
  return BuildNegotiation(no, option, out);
}

}  // namespace plat::telnet
