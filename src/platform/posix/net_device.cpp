// The network device on BSD sockets.
//
//  - The connection is non-blocking; reads take what the socket holds, pass
//    it through the telnet decoder and keep the data bytes in the device's
//    input buffer, which is what the library reads and what the line status
//    counts. Negotiation is answered as it arrives, so a server's unprompted
//    modem-state report never looks like a byte from the terminal.
//  - A request the server does not answer within kAnswerWaitMs leaves the
//    device as one without that feature: no com port control at all, or a
//    line setting the server keeps to itself.
//  - Every receive is acknowledged at once (TCP_QUICKACK), so a server that
//    holds small segments back until the last is acknowledged does not cost
//    a delayed acknowledgement per reply.
//  - The output queue is what the kernel has not yet sent: once a frame is on
//    the network it has left, and the network's delay counts as reply time.
//  - End of stream, a reset or a failed send mark the device gone: every later
//    call fails at once, the reads only after the bytes already received.
#include "platform/posix/net_device.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net/telnet.h"
#include "platform/net/url.h"

namespace plat::net {

namespace {

constexpr int kDeviceSlots = 16;
constexpr Handle kDeviceBase = 0x5200;
constexpr uint32_t kConnectTimeoutMs = 3000;
constexpr uint32_t kAnswerWaitMs = 1000;
constexpr uint32_t kInSize = 4096;
// A server still busy with the previous client takes the connection and drops
// it again at once (ser2net says "Port's device already in use"): a raw
// connection is watched this long for that, and a dropped one is tried again
// after kRetryPauseMs, within the connect time-out.
constexpr uint32_t kRawSettleMs = 100;
constexpr uint32_t kRetryPauseMs = 50;
// Keepalive: a peer that vanished without a word is found after about 25 s
// of silence.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;

// Bits of Device::answered, by com port command.
constexpr uint32_t kLineAnswers = 1u << telnet::kSetBaudRate | 1u << telnet::kSetDataSize |
                                  1u << telnet::kSetParity | 1u << telnet::kSetStopSize;

struct Device {
  bool used;
  int fd;
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
  uint32_t in_length;
  uint8_t in[kInSize];
};

Device devices[kDeviceSlots];
pthread_mutex_t devices_lock = PTHREAD_MUTEX_INITIALIZER;

Device *Find(Handle dev) {
  if (dev < kDeviceBase || dev >= kDeviceBase + kDeviceSlots) return nullptr;
  Device *d = &devices[dev - kDeviceBase];
  return d->used ? d : nullptr;
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

void SetOption(int fd, int level, int name, int value) {
  (void)setsockopt(fd, level, name, &value, sizeof value);
}

bool SendAll(Device *d, const uint8_t *bytes, size_t length) {
  if (d->gone) return false;
  const uint32_t limit = SendStallLimit(d);
  uint32_t last_progress = TickCount();
  size_t done = 0;
  while (done < length) {
    ssize_t n = send(d->fd, bytes + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      last_progress = TickCount();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      d->gone = true;
      return false;
    }
    const uint32_t waited = Since(last_progress);
    if (waited >= limit) return false;
    pollfd pfd = {d->fd, POLLOUT, 0};
    int ready = poll(&pfd, 1, static_cast<int>(limit - waited));
    if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
      d->gone = true;
      return false;
    }
    if (ready < 0 && errno != EINTR) return false;
  }
  return true;
}

void SendComPort(Device *d, uint8_t command, uint8_t value) {
  uint8_t out[telnet::kMaxComPortRequest];
  SendAll(d, out, telnet::BuildComPort(command, &value, 1, out));
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

// Takes in what the socket holds, as far as the input buffer has room;
// discard drops the data bytes (a purge).
void Pump(Device *d, bool discard) {
  uint8_t raw[kInSize];
  while (!d->gone) {
    const size_t room = discard ? sizeof raw : kInSize - d->in_length;
    if (room == 0) return;
    ssize_t n = recv(d->fd, raw, room, MSG_DONTWAIT);
    if (n == 0) {
      d->gone = true;
      return;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) d->gone = true;
      return;
    }
    // Acknowledge at once: a server that sends a reply in pieces and waits
    // for the acknowledgement of the first before the next (Nagle) would
    // otherwise wait out the delayed acknowledgement, up to 40 ms.
    SetOption(d->fd, IPPROTO_TCP, TCP_QUICKACK, 1);
    if (!d->rfc2217) {
      if (!discard) {
        memcpy(d->in + d->in_length, raw, static_cast<size_t>(n));
        d->in_length += static_cast<uint32_t>(n);
      }
      continue;
    }
    for (ssize_t i = 0; i < n; ++i) {
      telnet::Event e = telnet::DecodeByte(&d->decoder, raw[i]);
      if (e.kind == telnet::kEventData) {
        if (!discard) d->in[d->in_length++] = e.data;
      } else if (e.kind == telnet::kEventNegotiation) {
        uint8_t answer[3];
        size_t length = telnet::AnswerNegotiation(&d->options, e.verb, e.option, answer);
        if (length > 0) SendAll(d, answer, length);
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
    pollfd pfd = {d->fd, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(ms - waited)) < 0 && errno != EINTR) return;
  }
}

bool ConnectWithin(int fd, const sockaddr *address, socklen_t length, uint32_t ms) {
  if (connect(fd, address, length) == 0) return true;
  if (errno != EINPROGRESS && errno != EINTR) return false;
  const uint32_t start = TickCount();
  for (;;) {
    const uint32_t waited = Since(start);
    if (waited >= ms) return false;
    pollfd pfd = {fd, POLLOUT, 0};
    int ready = poll(&pfd, 1, static_cast<int>(ms - waited));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    int error = 0;
    socklen_t size = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
}

// A connected socket, or -1. Every address of the name is tried within
// budget_ms.
int Connect(const Address &address, uint32_t budget_ms) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  addrinfo *found = nullptr;
  if (getaddrinfo(address.host, address.port, &hints, &found) != 0) return -1;
  const uint32_t start = TickCount();
  int fd = -1;
  for (addrinfo *a = found; a != nullptr && fd < 0; a = a->ai_next) {
    const uint32_t waited = Since(start);
    if (waited >= budget_ms) break;
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (!ConnectWithin(fd, a->ai_addr, a->ai_addrlen, budget_ms - waited)) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) return -1;
  SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleS);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalS);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);
  return fd;
}

// Telnet options, then the reports the library wants: modem lines yes, line
// state no (its bits change with every byte).
bool Negotiate(Device *d) {
  uint8_t opening[telnet::kOpeningLength];
  if (!SendAll(d, opening, telnet::BuildOpening(&d->options, opening))) return false;
  AwaitAnswers(d, kAnswerWaitMs, [](const Device *x) {
    return (x->options.flags[telnet::kOptComPort] & telnet::kAnswered) != 0;
  });
  if (d->gone) return false;
  if (ComPort(d)) {
    SendComPort(d, telnet::kSetLineStateMask, 0);
    SendComPort(d, telnet::kSetModemStateMask, 0xFF);
  }
  return !d->gone;
}

void Release(Device *d) {
  if (d->fd >= 0) close(d->fd);
  pthread_mutex_lock(&devices_lock);
  d->used = false;
  d->fd = -1;
  pthread_mutex_unlock(&devices_lock);
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

}  // namespace

bool IsNetworkDevice(Handle dev) {
  return dev >= kDeviceBase && dev < kDeviceBase + kDeviceSlots;
}

Handle NetOpen(const char *url) {
  Address address;
  if (!ParseUrl(url, &address)) return kInvalid;

  pthread_mutex_lock(&devices_lock);
  int slot = 0;
  while (slot < kDeviceSlots && devices[slot].used) ++slot;
  if (slot < kDeviceSlots) {
    devices[slot].used = true;  // reserved; the rest is set below
    devices[slot].fd = -1;
  }
  pthread_mutex_unlock(&devices_lock);
  if (slot == kDeviceSlots) return kInvalid;
  Device *d = &devices[slot];
  d->gone = false;
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

  const uint32_t start = TickCount();
  for (;;) {
    d->fd = Connect(address, kConnectTimeoutMs - Since(start));
    if (d->fd < 0) break;
    if (d->rfc2217) {
      if (Negotiate(d)) break;
    } else {
      AwaitAnswers(d, kRawSettleMs, [](const Device *) { return false; });
      if (!d->gone) break;
    }
    close(d->fd);
    d->fd = -1;
    d->gone = false;
    d->in_length = 0;
    telnet::DecoderReset(&d->decoder);
    telnet::OptionsReset(&d->options);
    if (Since(start) + kRetryPauseMs >= kConnectTimeoutMs) break;
    SleepMs(kRetryPauseMs);
  }
  if (d->fd < 0) {
    Release(d);
    return kInvalid;
  }
  d->in_length = 0;  // a greeting is no data from the terminal
  return kDeviceBase + slot;
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
  if (!d->rfc2217) {
    if (!SendAll(d, bytes, length)) return false;
    done = length;
  }
  while (done < length) {
    uint8_t out[1024];
    size_t produced = 0;
    size_t taken = telnet::EncodeData(bytes + done, length - done, out, sizeof out, &produced);
    if (!SendAll(d, out, produced)) break;
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
  int unsent = 0;
  if (ioctl(d->fd, SIOCOUTQNSD, &unsent) != 0) unsent = 0;
  status->Errors = 0;
  status->HoldFlags = 0;
  status->InQueue = d->in_length;
  status->OutQueue = unsent > 0 ? static_cast<uint32_t>(unsent) : 0;
  return true;
}

bool NetPurge(Handle dev) {
  Device *d = Find(dev);
  if (d == nullptr || d->gone) return false;
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
  pollfd pfd = {d->fd, POLLIN, 0};
  int timeout = ms > 0x7FFFFFFFu ? -1 : static_cast<int>(ms);
  int ready = poll(&pfd, 1, timeout);
  if (ready > 0) Pump(d, false);
  return ready >= 0 || errno == EINTR;
}

void NetClose(Handle dev) {
  Device *d = Find(dev);
  if (d != nullptr) Release(d);
}

void NetForgetInChild() {
  for (Device &d : devices) {
    if (d.used && d.fd >= 0) close(d.fd);
    d.used = false;
    d.fd = -1;
  }
  pthread_mutex_init(&devices_lock, nullptr);
}

}  // namespace plat::net
