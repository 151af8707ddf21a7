// The network device, the same on every system: the socket calls it makes
// are the backend's (net/socket.h), everything else is here.
//
//  - The connection is non-blocking; reads take what the socket holds, pass
//    it through the telnet decoder and keep the data bytes in the device's
//    input buffer, which is what the library reads and what the line status
//    counts. Negotiation is answered as it arrives, so a server's unprompted
//    modem-state report never looks like a byte from the terminal.
//  - A request the server does not answer within kAnswerWaitMs leaves the
//    device as one without that feature: no com port control at all, or a
//    line setting the server keeps to itself.
//  - Every receive is acknowledged at once, so a server that holds small
//    segments back until the last is acknowledged does not cost a delayed
//    acknowledgement per reply.
//  - The output queue is what the system has not yet sent: once a frame is on
//    the network it has left, and the network's delay counts as reply time.
//  - End of stream, a reset or a failed send mark the device gone: every later
//    call fails at once, the reads only after the bytes already received.
//  - A server cannot hold a caller with what it sends: one look at the socket
//    takes at most kPumpLimit bytes, and answers to its negotiation are sent
//    only where the socket has room at once.
//  - A frame whose send stalls part-way keeps its unsent rest, which goes out
//    before anything else: the line never carries a piece of a frame followed
//    by the next one.
#include "platform/net/device.h"

#include <atomic>
#include <stdio.h>
#include <string.h>

#include "platform/net/deadline.h"
#include "platform/net/lookup.h"
#include "platform/net/socket.h"
#include "platform/net/telnet.h"
#include "platform/net/url.h"

namespace plat::net {

namespace {

constexpr uint32_t kConnectTimeoutMs = 3000;
constexpr uint32_t kAnswerWaitMs = 1000;
constexpr uint32_t kInSize = 4096;
// A server still busy with the previous client takes the connection and drops
// it again at once (ser2net says "Port's device already in use"): a raw
// connection is watched this long for that, and a dropped one is tried again
// after kRetryPauseMs, within the connect time-out.
constexpr uint32_t kRawSettleMs = 100;
constexpr uint32_t kRetryPauseMs = 50;
// What a server writes during setup is no terminal's (a terminal speaks only
// when asked): it is the server's own message, and the connection is watched
// on until the server closes it or is quiet for kSettleMs.
constexpr uint32_t kSettleMs = kRawSettleMs;
// Raw bytes taken from the socket in one look, so that a server that floods
// (telnet commands that are no data, or no end of them) cannot hold a call.
constexpr uint32_t kPumpLimit = 4 * kInSize;
// The wire bytes of the longest frame, every byte doubled.
constexpr uint32_t kWireSize = 2 * 1100 + 16;
constexpr size_t kWordsSize = 96;

// Bits of Device::answered, by com port command.
constexpr uint32_t kLineAnswers = 1u << telnet::kSetBaudRate | 1u << telnet::kSetDataSize |
                                  1u << telnet::kSetParity | 1u << telnet::kSetStopSize;

struct Device {
  bool used;
  Socket socket;
  bool gone;
  bool rfc2217;
  telnet::Decoder decoder;
  telnet::Options options;
  uint32_t answered;       // com port answers since the last line settings
  uint32_t answered_baud;  // the rate the server reports it set
  bool modem_known;        // a modem-state report has come, with a line on once
  uint8_t modem_state;
  Timeouts timeouts;
  LineSettings kept;
  int error;            // the system's reason the connection went, 0 for an orderly end
  bool setup;           // the open is still setting the connection up
  size_t words_length;  // printable bytes the server wrote during setup
  char words[kWordsSize];
  uint32_t unsent_length;  // the rest of a frame whose send stalled
  uint8_t unsent[kWireSize];
  uint32_t in_length;
  uint8_t in[kInSize];
};

// Slot i is the handle kHandleBase + 4 i + 1: no handle of another table of
// the backends, and, with its low bits 01, never one that Windows hands out
// (its handles are multiples of 4).
constexpr int kDevices = 16;
constexpr Handle kHandleBase = 0x5200;
Device devices[kDevices];

// Guards the slots' use marks: an open takes a slot and a close gives it back
// from any thread.
std::atomic_flag devices_lock = ATOMIC_FLAG_INIT;

void LockDevices() {
  while (devices_lock.test_and_set(std::memory_order_acquire)) {
  }
}

void UnlockDevices() {
  devices_lock.clear(std::memory_order_release);
}

Device *Named(Handle dev) {
  const Handle offset = dev - kHandleBase - 1;
  if (offset < 0 || offset % 4 != 0 || offset / 4 >= kDevices) return nullptr;
  return &devices[offset / 4];
}

Handle HandleOf(const Device *d) {
  return kHandleBase + 4 * (d - devices) + 1;
}

Device *Find(Handle dev) {
  Device *d = Named(dev);
  return d != nullptr && d->used ? d : nullptr;
}

bool ComPort(const Device *d) {
  return d->rfc2217 && (d->options.flags[telnet::kOptComPort] & telnet::kLocal) != 0;
}

uint32_t Since(uint32_t start) {
  return TickCount() - start;
}

// How long a send may make no progress: the time 512 characters need on the
// line, plus a second, as for a local device.
uint32_t SendStallLimit(const Device *d) {
  uint64_t baud = d->kept.BaudRate != 0 ? d->kept.BaudRate : 9600;
  return static_cast<uint32_t>(1000 + 512ull * 11 * 1000 / baud);
}

void MarkGone(Device *d, int error) {
  if (!d->gone) d->error = error;
  d->gone = true;
}

// Sends as much of bytes as goes within limit_ms of no progress (0: only what
// the socket takes at once); returns the count sent.
size_t SendSome(Device *d, const uint8_t *bytes, size_t length, uint32_t limit_ms) {
  if (d->gone) return 0;
  uint32_t last_progress = TickCount();
  size_t done = 0;
  while (done < length) {
    size_t moved = 0;
    int error = 0;
    const Transfer sent = SocketSend(d->socket, bytes + done, length - done, &moved, &error);
    if (sent == kMoved) {
      done += moved;
      last_progress = TickCount();
      continue;
    }
    if (sent != kWouldBlock) {
      MarkGone(d, error);
      return done;
    }
    const uint32_t waited = Since(last_progress);
    if (waited >= limit_ms) return done;
    const Readiness ready = SocketWait(d->socket, true, limit_ms - waited);
    if (ready == kHungUp) {
      MarkGone(d, kResetError);
      return done;
    }
    if (ready == kWaitBroken) return done;
  }
  return done;
}

bool SendAll(Device *d, const uint8_t *bytes, size_t length) {
  return SendSome(d, bytes, length, SendStallLimit(d)) == length;
}

// The rest of a stalled frame goes before anything else of the data; within
// limit_ms of no progress. True once nothing of it is left.
bool SendUnsent(Device *d, uint32_t limit_ms) {
  if (d->unsent_length == 0) return true;
  const size_t sent = SendSome(d, d->unsent, d->unsent_length, limit_ms);
  memmove(d->unsent, d->unsent + sent, d->unsent_length - sent);
  d->unsent_length -= static_cast<uint32_t>(sent);
  return d->unsent_length == 0;
}

// Sends a frame's wire bytes; what a stall leaves unsent is kept, to go first
// next time.
bool SendFrame(Device *d, const uint8_t *wire, size_t length) {
  if (!SendUnsent(d, SendStallLimit(d))) return false;
  const size_t sent = SendSome(d, wire, length, SendStallLimit(d));
  if (sent == length) return true;
  if (sent > 0 && !d->gone) {
    memcpy(d->unsent, wire + sent, length - sent);
    d->unsent_length = static_cast<uint32_t>(length - sent);
  }
  return false;
}

void SendComPort(Device *d, uint8_t command, uint8_t value) {
  uint8_t out[telnet::kMaxComPortRequest];
  SendAll(d, out, telnet::BuildComPort(command, &value, 1, out));
}

// What the server wrote during setup, as printable text for the reason of a
// failed open.
void KeepWords(Device *d, uint8_t byte) {
  if (d->words_length + 1 >= kWordsSize) return;
  if (byte == '\r' || byte == '\n' || byte == '\t') byte = ' ';
  if (byte < 0x20 || byte > 0x7E) return;
  if (byte == ' ' && (d->words_length == 0 || d->words[d->words_length - 1] == ' ')) return;
  d->words[d->words_length++] = static_cast<char>(byte);
  d->words[d->words_length] = '\0';
}

void TakeSubnegotiation(Device *d) {
  telnet::ComPortReply reply;
  if (!telnet::ParseComPortReply(d->decoder.sub, d->decoder.length, &reply)) return;
  if (reply.command == telnet::kNotifyModemState) {
    d->modem_state = static_cast<uint8_t>(reply.value);
    // A server that has never shown a line on serves a device without modem
    // lines (a pseudo-terminal, a three-wire cable): reporting it as all off
    // would refuse every request.
    if ((reply.value & 0xF0) != 0) d->modem_known = true;
    return;
  }
  if (reply.command < 32) d->answered |= 1u << reply.command;
  if (reply.command == telnet::kSetBaudRate) d->answered_baud = reply.value;
}

// Takes in what the socket holds, as far as the input buffer has room and at
// most kPumpLimit bytes; discard drops the data bytes (a purge).
void Pump(Device *d, bool discard) {
  uint8_t raw[kInSize];
  if (!d->gone && d->unsent_length > 0) SendUnsent(d, 0);
  uint32_t taken = 0;
  while (!d->gone && taken < kPumpLimit) {
    const size_t room = discard ? sizeof raw : kInSize - d->in_length;
    if (room == 0) return;
    size_t n = 0;
    int error = 0;
    switch (SocketReceive(d->socket, raw, room, &n, &error)) {
      case kMoved:
        break;
      case kWouldBlock:
        return;
      case kEnded:
        MarkGone(d, 0);
        return;
      case kBroken:
        MarkGone(d, error);
        return;
    }
    taken += static_cast<uint32_t>(n);
    // A server that sends a reply in pieces and waits for the acknowledgement
    // of the first before the next (Nagle) would otherwise wait out the
    // delayed acknowledgement, up to 40 ms.
    SocketAcknowledgeNow(d->socket);
    if (!d->rfc2217) {
      if (d->setup) {
        for (size_t i = 0; i < n; ++i) KeepWords(d, raw[i]);
      }
      if (!discard) {
        memcpy(d->in + d->in_length, raw, n);
        d->in_length += static_cast<uint32_t>(n);
      }
      continue;
    }
    for (size_t i = 0; i < n; ++i) {
      telnet::Event e = telnet::DecodeByte(&d->decoder, raw[i]);
      if (e.kind == telnet::kEventData) {
        if (d->setup) KeepWords(d, e.data);
        if (!discard) d->in[d->in_length++] = e.data;
      } else if (e.kind == telnet::kEventNegotiation) {
        // Answered where the socket has room at once: a server that floods
        // requests and reads nothing never makes the device wait.
        uint8_t answer[3];
        size_t length = telnet::AnswerNegotiation(&d->options, e.verb, e.option, answer);
        if (length > 0) SendSome(d, answer, length, 0);
      } else if (e.kind == telnet::kEventSubnegotiation) {
        TakeSubnegotiation(d);
      }
    }
  }
}

// Pumps until done(d) holds, the device is gone or ms have passed.
template <typename Done>
void AwaitAnswers(Device *d, uint32_t ms, Done done) {
  const uint32_t start = TickCount();
  for (;;) {
    Pump(d, false);
    if (d->gone || done(d)) return;
    const uint32_t waited = Since(start);
    if (waited >= ms) return;
    if (SocketWait(d->socket, false, ms - waited) == kWaitBroken) return;
  }
}

void Fail(NetOpenFailure *failure, int error, const char *format, const char *text) {
  failure->error = error;
  snprintf(failure->reason, sizeof failure->reason, format, text);
}

// A connected socket, or kNoSocket with the reason in *failure. The name is
// looked up and every address of it tried before the deadline.
Socket Connect(const Address &address, const Deadline &deadline, NetOpenFailure *failure) {
  LookupAnswer answer;
  switch (LookupName(address.host, address.port, TimeLeft(deadline), &answer)) {
    case kLookupFound:
      break;
    case kLookupFailed:
      failure->error = answer.error;
      snprintf(failure->reason, sizeof failure->reason, "host %.160s: %.60s", address.host,
               answer.text);
      return kNoSocket;
    case kLookupTimedOut:
      Fail(failure, kTimedOutError, "the name lookup of host %.180s gave no answer within 3 s",
           address.host);
      return kNoSocket;
    case kLookupNoRoom:
      Fail(failure, kTryAgainError,
           "host %.160s: too many name lookups are still waiting for an answer", address.host);
      return kNoSocket;
  }
  int error = 0;
  const Socket s = SocketConnect(answer.addresses, deadline, &error);
  LookupRelease(&answer);
  if (s != kNoSocket) return s;
  failure->error = error;
  if (error == kTimedOutError) {
    snprintf(failure->reason, sizeof failure->reason, "no connection to %.180s port %s within 3 s",
             address.host, address.port);
  } else {
    char text[80];
    SystemErrorText(error, text, sizeof text);
    snprintf(failure->reason, sizeof failure->reason, "%.160s port %s: %.60s", address.host,
             address.port, text);
  }
  return kNoSocket;
}

// Telnet options, then the reports the library wants: modem lines yes, line
// state no (its bits change with every byte).
bool Negotiate(Device *d, const Deadline &deadline) {
  uint8_t opening[telnet::kOpeningLength];
  if (!SendAll(d, opening, telnet::BuildOpening(&d->options, opening))) return false;
  uint32_t wait = TimeLeft(deadline);
  if (wait > kAnswerWaitMs) wait = kAnswerWaitMs;
  AwaitAnswers(d, wait, [](const Device *x) {
    return (x->options.flags[telnet::kOptComPort] & telnet::kAnswered) != 0;
  });
  if (d->gone) return false;
  if (ComPort(d)) {
    SendComPort(d, telnet::kSetLineStateMask, 0);
    SendComPort(d, telnet::kSetModemStateMask, 0xFF);
  }
  return !d->gone;
}

// Closes the device's connection and gives back the reference to the
// system's sockets its open took.
void Release(Device *d) {
  if (d->socket != kNoSocket) SocketClose(d->socket);
  LockDevices();
  d->used = false;
  d->socket = kNoSocket;
  UnlockDevices();
  SocketsStop();
}

uint8_t ParityCode(uint8_t parity) {
  return parity == kParityOdd ? telnet::kParityOdd
                              : (parity == kParityEven ? telnet::kParityEven : telnet::kParityNone);
}

uint8_t StopCode(uint8_t stop) {
  return stop == kTwoStopBits
             ? telnet::kStopTwo
             : (stop == kOne5StopBits ? telnet::kStopOneAndHalf : telnet::kStopOne);
}

uint8_t FlowCode(const LineSettings *s) {
  if (s->OutxCtsFlow || s->RtsControl == kRtsHandshake) return telnet::kControlHardware;
  if (s->OutX || s->InX) return telnet::kControlXonXoff;
  return telnet::kControlNoFlow;
}

// Watches a connection that is set up: a server that refuses this client
// (busy with another, or unable to open its device) says so and closes at
// once. False when it closed.
bool Settles(Device *d, const Deadline &deadline) {
  uint32_t quiet_since = TickCount();
  size_t words = d->words_length;
  for (;;) {
    uint32_t wait = kSettleMs - (TickCount() - quiet_since);
    if (wait > kSettleMs) wait = 0;
    const uint32_t left = TimeLeft(deadline);
    if (wait > left) wait = left;
    AwaitAnswers(d, wait, [](const Device *) { return false; });
    if (d->gone) return false;
    // Words from the server: it may be about to close; watch on.
    if (d->words_length != words && TimeLeft(deadline) > 0) {
      words = d->words_length;
      quiet_since = TickCount();
      continue;
    }
    return true;
  }
}

void ResetConnection(Device *d) {
  if (d->socket != kNoSocket) SocketClose(d->socket);
  d->socket = kNoSocket;
  d->gone = false;
  d->error = 0;
  d->in_length = 0;
  d->unsent_length = 0;
  telnet::DecoderReset(&d->decoder);
  telnet::OptionsReset(&d->options);
}

}  // namespace

bool IsNetworkDevice(Handle dev) {
  return Named(dev) != nullptr;
}

Handle NetOpen(const char *url, NetOpenFailure *failure) {
  failure->error = 0;
  failure->reason[0] = '\0';
  Address address;
  if (!ParseUrl(url, &address)) {
    Fail(failure, 0, "%s", "not a device server address (rfc2217://host:port, tcp://host:port)");
    return kInvalid;
  }
  int start_error = 0;
  if (!SocketsStart(&start_error)) {
    char text[80];
    SystemErrorText(start_error, text, sizeof text);
    Fail(failure, start_error, "the system's network sockets cannot be started: %s", text);
    return kInvalid;
  }

  LockDevices();
  Device *d = nullptr;
  for (Device &slot : devices) {
    if (!slot.used) {
      d = &slot;
      d->used = true;  // reserved; the rest is set below
      d->socket = kNoSocket;
      break;
    }
  }
  UnlockDevices();
  if (d == nullptr) {
    SocketsStop();
    Fail(failure, 0, "%s", "too many network devices open in this process");
    return kInvalid;
  }
  d->gone = false;
  d->error = 0;
  d->rfc2217 = address.scheme == kRfc2217;
  telnet::DecoderReset(&d->decoder);
  telnet::OptionsReset(&d->options);
  d->answered = 0;
  d->answered_baud = 0;
  d->modem_known = false;
  d->modem_state = 0;
  d->timeouts = Timeouts{};
  d->kept = LineSettings{};
  d->kept.BaudRate = 9600;
  d->kept.ByteSize = 8;
  d->kept.Binary = true;
  d->kept.RtsControl = kRtsEnable;
  d->kept.DtrControl = 1;
  d->in_length = 0;
  d->unsent_length = 0;

  // The lookup, the connection and its setup share one limit; a server that
  // drops the connection during setup is tried again within it.
  const Deadline deadline = DeadlineIn(kConnectTimeoutMs);
  bool closed_in_setup = false;
  NetOpenFailure setup_failure;
  for (;;) {
    d->words_length = 0;
    d->words[0] = '\0';
    d->socket = Connect(address, deadline, failure);
    if (d->socket == kNoSocket) break;
    d->setup = true;
    const bool settled = (!d->rfc2217 || Negotiate(d, deadline)) && Settles(d, deadline);
    d->setup = false;
    if (settled) break;
    closed_in_setup = true;
    setup_failure.error = d->error;
    while (d->words_length > 0 && d->words[d->words_length - 1] == ' ') {
      d->words[--d->words_length] = '\0';
    }
    if (d->words_length > 0) {
      snprintf(setup_failure.reason, sizeof setup_failure.reason,
               "the server closed the connection during setup, saying \"%s\"", d->words);
    } else {
      snprintf(setup_failure.reason, sizeof setup_failure.reason, "%s",
               "the server closed the connection during setup");
    }
    *failure = setup_failure;
    ResetConnection(d);
    if (TimeLeft(deadline) <= kRetryPauseMs) break;
    SleepMs(kRetryPauseMs);
  }
  if (d->socket == kNoSocket) {
    // Out of time in a later round: the server's own words say more.
    if (closed_in_setup && failure->error == kTimedOutError) *failure = setup_failure;
    Release(d);
    return kInvalid;
  }
  d->in_length = 0;  // a greeting is no data from the terminal
  return HandleOf(d);
}

bool NetGetLine(Handle dev, LineSettings *settings) {
  Device *d = Find(dev);
  if (d == nullptr || settings == nullptr) return false;
  *settings = d->kept;
  return true;
}

bool NetSetLine(Handle dev, const LineSettings *s) {
  Device *d = Find(dev);
  if (d == nullptr || s == nullptr || d->gone) return false;
  if (s->BaudRate == 0 || s->ByteSize < 5 || s->ByteSize > 8 || s->Parity > kParityEven ||
      s->StopBits > kTwoStopBits || s->RtsControl > kRtsToggle) {
    return false;
  }
  d->kept = *s;
  if (!ComPort(d)) return true;  // the server's own settings stand

  uint8_t out[6 * telnet::kMaxComPortRequest];
  size_t n = telnet::BuildSetBaudRate(s->BaudRate, out);
  const uint8_t size = s->ByteSize;
  const uint8_t parity = ParityCode(s->Parity);
  const uint8_t stop = StopCode(s->StopBits);
  const uint8_t flow = FlowCode(s);
  n += telnet::BuildComPort(telnet::kSetDataSize, &size, 1, out + n);
  n += telnet::BuildComPort(telnet::kSetParity, &parity, 1, out + n);
  n += telnet::BuildComPort(telnet::kSetStopSize, &stop, 1, out + n);
  n += telnet::BuildComPort(telnet::kSetControl, &flow, 1, out + n);
  if (s->RtsControl == kRtsEnable || s->RtsControl == kRtsDisable) {
    const uint8_t rts =
        s->RtsControl == kRtsEnable ? telnet::kControlRtsOn : telnet::kControlRtsOff;
    n += telnet::BuildComPort(telnet::kSetControl, &rts, 1, out + n);
  }
  d->answered = 0;
  if (!SendAll(d, out, n)) return false;
  // Only the character frame is waited for: some servers never answer the
  // flow and modem-line requests.
  AwaitAnswers(d, kAnswerWaitMs,
               [](const Device *x) { return (x->answered & kLineAnswers) == kLineAnswers; });
  if ((d->answered & (1u << telnet::kSetBaudRate)) && d->answered_baud != 0) {
    d->kept.BaudRate = d->answered_baud;
  }
  return !d->gone;
}

bool NetSetTimeouts(Handle dev, const Timeouts *timeouts) {
  Device *d = Find(dev);
  if (d == nullptr || timeouts == nullptr) return false;
  d->timeouts = *timeouts;  // reads never block whatever is asked
  return true;
}

bool NetRead(Handle dev, void *buffer, uint32_t want, uint32_t *got) {
  if (got != nullptr) *got = 0;
  Device *d = Find(dev);
  if (d == nullptr || got == nullptr) return false;
  Pump(d, false);
  if (d->in_length == 0) return !d->gone;
  const uint32_t n = want < d->in_length ? want : d->in_length;
  memcpy(buffer, d->in, n);
  memmove(d->in, d->in + n, d->in_length - n);
  d->in_length -= n;
  *got = n;
  return true;
}

bool NetWrite(Handle dev, const void *buffer, uint32_t length, uint32_t *written) {
  if (written != nullptr) *written = 0;
  Device *d = Find(dev);
  if (d == nullptr || d->gone || (buffer == nullptr && length != 0)) return false;
  const uint8_t *bytes = static_cast<const uint8_t *>(buffer);
  uint32_t done = 0;
  while (done < length) {
    uint8_t wire[kWireSize];
    size_t produced = 0;
    size_t taken;
    if (d->rfc2217) {
      taken = telnet::EncodeData(bytes + done, length - done, wire, sizeof wire, &produced);
    } else {
      taken = length - done < sizeof wire ? length - done : sizeof wire;
      memcpy(wire, bytes + done, taken);
      produced = taken;
    }
    if (!SendFrame(d, wire, produced)) break;
    done += static_cast<uint32_t>(taken);
  }
  if (written != nullptr) *written = done;
  return done == length;
}

bool NetLineStatus(Handle dev, LineStatus *status) {
  Device *d = Find(dev);
  if (d == nullptr || status == nullptr) return false;
  Pump(d, false);
  if (d->gone) return false;
  status->Errors = 0;
  status->HoldFlags = 0;
  status->InQueue = d->in_length;
  status->OutQueue = SocketUnsent(d->socket) + d->unsent_length;
  return true;
}

bool NetPurge(Handle dev) {
  Device *d = Find(dev);
  if (d == nullptr || d->gone) return false;
  // The rest of a stalled frame stays: dropped, it would leave its first
  // piece on the line for the next frame to follow.
  d->in_length = 0;
  Pump(d, true);
  if (ComPort(d)) SendComPort(d, telnet::kPurgeData, telnet::kPurgeBoth);
  return !d->gone;
}

ModemResult NetModemStatus(Handle dev, uint32_t *bits) {
  Device *d = Find(dev);
  if (d == nullptr || bits == nullptr) return kModemFailed;
  Pump(d, false);
  if (d->gone) return kModemFailed;
  *bits = 0;
  if (!ComPort(d) || !d->modem_known) return kModemNotSupported;
  // The report's high nibble has the bits of the local modem status.
  *bits = d->modem_state & (kCtsOn | kDsrOn | kRingOn | kRlsdOn);
  return kModemOk;
}

bool NetWaitInput(Handle dev, uint32_t ms) {
  Device *d = Find(dev);
  if (d == nullptr) return false;
  if (d->gone || d->in_length > 0) return true;  // the next read has news
  const Readiness ready = SocketWait(d->socket, false, ms);
  if (ready == kReady || ready == kHungUp) Pump(d, false);
  return ready != kWaitBroken;
}

void NetClose(Handle dev) {
  Device *d = Find(dev);
  if (d != nullptr) Release(d);
}

void NetForgetInChild() {
  ForgetLookupsInChild();
  for (Device &d : devices) {
    if (d.used && d.socket != kNoSocket) SocketClose(d.socket);
    d.used = false;
    d.socket = kNoSocket;
  }
  devices_lock.clear();
}

}  // namespace plat::net
