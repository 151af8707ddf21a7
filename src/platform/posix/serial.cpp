// Serial devices on termios. "COM1" to "COM9" and "\\.\COM10" (either
// spelling, COM1 to COM10) stand for the path in the environment variable
// QUIBLINK_COM1 ... QUIBLINK_COM10, read at every open, else /dev/ttyS0 ...
// /dev/ttyS9. Any other name is opened as a path; a URL, named directly or
// through the variable, is a device server on the network (platform/net/device.h).
//
// Behaviour beside the Win32 calls this stands in for:
//  - Open is exclusive: flock() refuses a second open from this or another
//    process (root included). The kernel drops the lock with the last
//    descriptor of the open, so a killed process leaves the port free. The
//    tty's own exclusive mode (TIOCEXCL) is not used: it outlives a killed
//    process on a line whose other side stays open, and locks every later
//    opener out. Descriptors are close-on-exec, and the child of a fork()
//    closes its copies at once (see ForgetDevicesInChild).
//  - The device is put in raw mode at open, with VMIN 1 and O_NONBLOCK kept,
//    so a read returns what is buffered at once; a read of 0 bytes on a device
//    that polls readable or hung up means it went away, and every later call
//    on it fails.
//  - The kernel does not report the hold state of the output: with flow
//    control off, as the library programs it, the hold flags are always 0.
//    The error word is always 0.
//  - A pseudo-terminal keeps 8 bits without parity whatever is asked; the
//    line is still programmed (raw, speed, flags) and reports what it holds.
//    Every other refused setting fails its call.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/major.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "platform/net/device.h"
#include "platform/net/url.h"
#include "platform/posix/open_failure.h"
#include "platform/posix/serial_speed.h"
#include "platform/posix/tables.h"

namespace plat {

namespace {

struct Device {
  bool used;
  int fd;
  bool gone;  // the device hung up or vanished
  char path[256];
  uint32_t in_size;
  uint32_t out_size;
  Timeouts timeouts;
  // What the library last programmed; the fields termios has no place for
  // are reported from here.
  LineSettings kept;
};

// Ten ports and a few spare for the tools and tests.
posix::SlotTable<Device, 16, 0x5100> devices;
pthread_mutex_t devices_lock = PTHREAD_MUTEX_INITIALIZER;

struct SpeedCode {
  uint32_t baud;
  speed_t code;
};
const SpeedCode kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool StandardSpeed(uint32_t baud, speed_t *code) {
  for (const SpeedCode &s : kSpeeds) {
    if (s.baud == baud) {
      *code = s.code;
      return true;
    }
  }
  return false;
}

uint32_t BaudOfCode(speed_t code) {
  for (const SpeedCode &s : kSpeeds) {
    if (s.code == code) return s.baud;
  }
  return 0;
}

Device *Find(Handle dev) {
  Device *d = devices.Named(dev);
  return d != nullptr && d->used ? d : nullptr;
}

// 1..10 for "COMn" or "\\.\COMn", else 0.
int PortNumber(const char *name) {
  if (strncmp(name, "\\\\.\\", 4) == 0) name += 4;
  if (strncmp(name, "COM", 3) != 0) return 0;
  const char *digits = name + 3;
  if (digits[0] >= '1' && digits[0] <= '9' && digits[1] == '\0') return digits[0] - '0';
  if (strcmp(digits, "10") == 0) return 10;
  return 0;
}

// variable receives the name of the environment variable that would map a
// port name when it is unset and the port falls back to /dev/ttyS*, else "".
bool ResolvePath(const char *name, char *path, size_t size, char (&variable)[32]) {
  variable[0] = '\0';
  int port = PortNumber(name);
  if (port == 0) {
    int n = snprintf(path, size, "%s", name);
    return n > 0 && static_cast<size_t>(n) < size;
  }
  snprintf(variable, sizeof variable, "QUIBLINK_COM%d", port);
  const char *mapped = getenv(variable);
  int n = 0;
  if (mapped != nullptr && mapped[0] != '\0') {
    n = snprintf(path, size, "%s", mapped);
    variable[0] = '\0';
  } else {
    n = snprintf(path, size, "/dev/ttyS%d", port - 1);
  }
  return n > 0 && static_cast<size_t>(n) < size;
}

// No line editing, echo, signals or character translation: bytes pass as
// they are. Character size, parity and flow control are left alone.
void MakeRaw(termios *tio) {
  tio->c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IMAXBEL);
  tio->c_oflag &= ~OPOST;
  tio->c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  tio->c_cflag |= CREAD | CLOCAL;
  tio->c_cc[VMIN] = 1;
  tio->c_cc[VTIME] = 0;
}

// tcsetattr, again when a signal interrupted it. Its result alone does not
// say what the device holds: a driver may refuse settings it already holds.
// After a refusal the settings are read back, and the call has done its work
// when the device holds them all. errno stays that of the refusal.
bool SetAttr(int fd, const termios &tio) {
  int rc;
  do {
    rc = tcsetattr(fd, TCSANOW, &tio);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return true;
  const int error = errno;
  termios now;
  const bool holds = tcgetattr(fd, &now) == 0 && now.c_iflag == tio.c_iflag &&
                     now.c_oflag == tio.c_oflag && now.c_cflag == tio.c_cflag &&
                     now.c_lflag == tio.c_lflag && memcmp(now.c_cc, tio.c_cc, sizeof now.c_cc) == 0;
  errno = error;
  return holds;
}

// The slave side of a Unix 98 pseudo-terminal, which carries 8N1 only.
bool IsPseudoTerminal(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned int device_major = major(st.st_rdev);
  return device_major >= UNIX98_PTY_SLAVE_MAJOR &&
         device_major < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT;
}

// TIOCMGET: the modem lines' bits (TIOCM_*).
bool GetModemLines(int fd, int *lines) {
  return ioctl(fd, TIOCMGET, lines) == 0;
}

// RTS or DTR on or off. A device without modem lines (a pseudo-terminal has
// none) refuses, and keeps what it has; one that has gone fails at its next
// read or write, which report it.
void SetModemLine(int fd, int line, bool on) {
  (void)ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

void MarkGoneOn(Device *d, int error) {
  if (error == EIO || error == ENXIO || error == ENODEV || error == EBADF) d->gone = true;
}

// How long a write may make no progress: the time 512 characters need on the
// line (the driver signals room in steps of a few hundred), plus a second.
uint32_t WriteStallLimit(const Device *d) {
  uint64_t baud = d->kept.BaudRate != 0 ? d->kept.BaudRate : 9600;
  return static_cast<uint32_t>(1000 + 512ull * 11 * 1000 / baud);
}

}  // namespace

Handle DeviceOpen(const char *name) {
  char path[256];
  char variable[32];
  if (name == nullptr || !ResolvePath(name, path, sizeof path, variable)) {
    NoteOpenFailure(name != nullptr ? name : "(no name)", "the device name is too long");
    return kInvalid;
  }
  if (net::SchemeOf(path) != net::kNotUrl) {
    net::NetOpenFailure failure;
    const Handle connection = net::NetOpen(path, &failure);
    if (connection == kInvalid) NoteOpenFailureWithError(path, failure.reason, failure.error);
    return connection;
  }

  pthread_mutex_lock(&devices_lock);
  Device *d = devices.Free();
  if (d != nullptr) {
    *d = Device{};
    d->used = true;  // reserved; fd set below
    d->fd = -1;
  }
  pthread_mutex_unlock(&devices_lock);
  if (d == nullptr) {
    NoteOpenFailure(path, "too many serial devices open in this process");
    return kInvalid;
  }

  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int error = errno;
  if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Held by another open.
    error = errno;
    close(fd);
    fd = -1;
  }
  // Bytes pass as they are from the open on: a terminal that will not go raw
  // is no line the library can use. A device that is no terminal at all is
  // refused by DeviceSetupBuffers.
  termios tio;
  const bool terminal = fd >= 0 && tcgetattr(fd, &tio) == 0;
  if (terminal) {
    MakeRaw(&tio);
    if (!SetAttr(fd, tio)) {
      error = errno;
      close(fd);
      fd = -1;
    }
  }
  if (fd < 0) {
    NoteOsOpenFailure(path, variable[0] != '\0' ? variable : nullptr, error);
    pthread_mutex_lock(&devices_lock);
    d->used = false;
    pthread_mutex_unlock(&devices_lock);
    return kInvalid;
  }
  d->fd = fd;
  snprintf(d->path, sizeof d->path, "%s", path);
  d->kept.Binary = true;
  d->kept.RtsControl = kRtsEnable;
  d->kept.DtrControl = 1;
  int lines = 0;
  if (GetModemLines(fd, &lines)) {
    d->kept.RtsControl = (lines & TIOCM_RTS) ? kRtsEnable : kRtsDisable;
    d->kept.DtrControl = (lines & TIOCM_DTR) ? 1 : 0;
  }
  if (terminal) {
    uint32_t baud = 0;
    d->kept.BaudRate = posix::GetSpeed(fd, &baud) ? baud : BaudOfCode(cfgetospeed(&tio));
  }
  return devices.HandleOf(d);
}

bool DeviceSetupBuffers(Handle dev, uint32_t in_size, uint32_t out_size) {
  if (net::IsNetworkDevice(dev)) return true;
  Device *d = Find(dev);
  termios tio;
  // The kernel's buffers have fixed sizes; the call only checks that this
  // is a terminal device at all.
  if (d == nullptr) return false;
  if (tcgetattr(d->fd, &tio) != 0) {
    NoteOsOpenFailure(d->path, nullptr, errno);
    return false;
  }
  d->in_size = in_size;
  d->out_size = out_size;
  return true;
}

bool DeviceGetLine(Handle dev, LineSettings *settings) {
  if (net::IsNetworkDevice(dev)) return net::NetGetLine(dev, settings);
  Device *d = Find(dev);
  termios tio;
  if (d == nullptr || settings == nullptr || tcgetattr(d->fd, &tio) != 0) return false;
  *settings = d->kept;
  uint32_t baud = 0;
  settings->BaudRate = posix::GetSpeed(d->fd, &baud) ? baud : BaudOfCode(cfgetospeed(&tio));
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      settings->ByteSize = 5;
      break;
    case CS6:
      settings->ByteSize = 6;
      break;
    case CS7:
      settings->ByteSize = 7;
      break;
    default:
      settings->ByteSize = 8;
      break;
  }
  if (!(tio.c_cflag & PARENB)) {
    settings->Parity = kParityNone;
  } else {
    settings->Parity = (tio.c_cflag & PARODD) ? kParityOdd : kParityEven;
  }
  if (!(tio.c_cflag & CSTOPB)) {
    settings->StopBits = kOneStopBit;
  } else {
    settings->StopBits = d->kept.StopBits == kOne5StopBits ? kOne5StopBits : kTwoStopBits;
  }
  // ParityCheck stays as it was asked (kept above): input parity checking is
  // never handed to termios, see DeviceSetLine.
  settings->OutX = (tio.c_iflag & IXON) != 0;
  settings->InX = (tio.c_iflag & IXOFF) != 0;
  settings->OutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
  return true;
}

bool DeviceSetLine(Handle dev, const LineSettings *s) {
  if (net::IsNetworkDevice(dev)) return net::NetSetLine(dev, s);
  Device *d = Find(dev);
  if (d == nullptr || s == nullptr || d->gone) return false;
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  if (s->BaudRate == 0 || s->ByteSize < 5 || s->ByteSize > 8 || s->Parity > kParityEven ||
      s->StopBits > kTwoStopBits || s->RtsControl > kRtsToggle) {
    return false;
  }
  termios tio;
  if (tcgetattr(d->fd, &tio) != 0) return false;

  MakeRaw(&tio);
  // A byte received with a parity error passes unchanged, as a Windows port
  // with the error character off passes it: termios with INPCK would turn it
  // into 0x00 (or mark it with PARMRK, or drop it with IGNPAR), and the same
  // noisy reply would fail with another result code here than there. The
  // frame's own checks (checksum, hex digits) catch the damaged byte.
  tio.c_iflag &= ~(IXON | IXOFF | INPCK | IGNPAR | PARMRK);
  if (s->OutX) tio.c_iflag |= IXON;
  if (s->InX) tio.c_iflag |= IXOFF;
  tio.c_cflag &= ~CRTSCTS;
  if (s->OutxCtsFlow || s->RtsControl == kRtsHandshake) tio.c_cflag |= CRTSCTS;
  speed_t code = B0;
  bool standard = StandardSpeed(s->BaudRate, &code);
  if (standard) {
    cfsetispeed(&tio, code);
    cfsetospeed(&tio, code);
  }
  if (!SetAttr(d->fd, tio)) return false;

  // The character frame on its own, so that a refused frame cannot undo the
  // settings above. A pseudo-terminal carries 8N1 only and refuses any other
  // frame: there the line keeps 8N1, which DeviceGetLine reports. Any other
  // device that refuses the frame fails the call, as SetCommState fails for a
  // frame the port cannot make.
  if (tcgetattr(d->fd, &tio) != 0) return false;
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
  tio.c_cflag |= kSizes[s->ByteSize - 5];
  if (s->Parity != kParityNone) tio.c_cflag |= PARENB;
  if (s->Parity == kParityOdd) tio.c_cflag |= PARODD;
  if (s->StopBits != kOneStopBit) tio.c_cflag |= CSTOPB;
  if (!SetAttr(d->fd, tio) && !IsPseudoTerminal(d->fd)) return false;
  if (!standard && !posix::SetCustomSpeed(d->fd, s->BaudRate)) return false;

  if (s->RtsControl == kRtsEnable || s->RtsControl == kRtsDisable) {
    SetModemLine(d->fd, TIOCM_RTS, s->RtsControl == kRtsEnable);
  }
  if (s->DtrControl <= 1) SetModemLine(d->fd, TIOCM_DTR, s->DtrControl == 1);
  d->kept = *s;
  return true;
}

bool DeviceSetTimeouts(Handle dev, const Timeouts *timeouts) {
  if (net::IsNetworkDevice(dev)) return net::NetSetTimeouts(dev, timeouts);
  // Reads never block whatever is asked; the values are only kept.
  Device *d = Find(dev);
  if (d == nullptr || timeouts == nullptr) return false;
  d->timeouts = *timeouts;
  return true;
}

bool DeviceRead(Handle dev, void *buffer, uint32_t want, uint32_t *got) {
  if (net::IsNetworkDevice(dev)) return net::NetRead(dev, buffer, want, got);
  if (got != nullptr) *got = 0;
  Device *d = Find(dev);
  if (d == nullptr || got == nullptr || d->gone) return false;
  if (want == 0) return true;
  for (;;) {
    ssize_t n = read(d->fd, buffer, want);
    if (n > 0) {
      *got = static_cast<uint32_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    if (n < 0) {
      MarkGoneOn(d, errno);
      return false;
    }
    // End of file. A terminal whose VMIN someone set to 0 reads 0 when empty
    // too; only a device that claims to be readable or hung up is gone.
    pollfd pfd = {d->fd, POLLIN, 0};
    if (poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
      d->gone = true;
      return false;
    }
    return true;
  }
}

bool DeviceWrite(Handle dev, const void *buffer, uint32_t length, uint32_t *written) {
  if (net::IsNetworkDevice(dev)) return net::NetWrite(dev, buffer, length, written);
  if (written != nullptr) *written = 0;
  Device *d = Find(dev);
  if (d == nullptr || d->gone || (buffer == nullptr && length != 0)) return false;
  const uint8_t *bytes = static_cast<const uint8_t *>(buffer);
  const uint32_t stall_limit = WriteStallLimit(d);
  uint32_t done = 0;
  uint32_t last_progress = TickCount();
  while (done < length) {
    ssize_t n = write(d->fd, bytes + done, length - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      last_progress = TickCount();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      MarkGoneOn(d, errno);
      break;
    }
    uint32_t waited = TickCount() - last_progress;
    if (waited >= stall_limit) break;
    pollfd pfd = {d->fd, POLLOUT, 0};
    int ready = poll(&pfd, 1, static_cast<int>(stall_limit - waited));
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
      d->gone = true;
      break;
    }
  }
  if (written != nullptr) *written = done;
  return done == length;
}

bool DeviceLineStatus(Handle dev, LineStatus *status) {
  if (net::IsNetworkDevice(dev)) return net::NetLineStatus(dev, status);
  Device *d = Find(dev);
  if (d == nullptr || status == nullptr || d->gone) return false;
  int in = 0;
  int out = 0;
  if (ioctl(d->fd, FIONREAD, &in) != 0 || ioctl(d->fd, TIOCOUTQ, &out) != 0) {
    MarkGoneOn(d, errno);
    return false;
  }
  status->Errors = 0;
  status->HoldFlags = 0;
  status->InQueue = in > 0 ? static_cast<uint32_t>(in) : 0;
  status->OutQueue = out > 0 ? static_cast<uint32_t>(out) : 0;
  return true;
}

bool DevicePurge(Handle dev) {
  if (net::IsNetworkDevice(dev)) return net::NetPurge(dev);
  Device *d = Find(dev);
  return d != nullptr && !d->gone && tcflush(d->fd, TCIOFLUSH) == 0;
}

ModemResult DeviceModemStatus(Handle dev, uint32_t *bits) {
  if (net::IsNetworkDevice(dev)) return net::NetModemStatus(dev, bits);
  Device *d = Find(dev);
  if (d == nullptr || bits == nullptr || d->gone) return kModemFailed;
  *bits = 0;
  int lines = 0;
  if (!GetModemLines(d->fd, &lines)) {
    if (errno == ENOTTY || errno == EINVAL) return kModemNotSupported;
    MarkGoneOn(d, errno);
    return kModemFailed;
  }
  if (lines & TIOCM_CTS) *bits |= kCtsOn;
  if (lines & TIOCM_DSR) *bits |= kDsrOn;
  if (lines & TIOCM_RI) *bits |= kRingOn;
  if (lines & TIOCM_CD) *bits |= kRlsdOn;
  return kModemOk;
}

bool DeviceWaitInput(Handle dev, uint32_t ms) {
  if (net::IsNetworkDevice(dev)) return net::NetWaitInput(dev, ms);
  Device *d = Find(dev);
  if (d == nullptr) return false;
  if (d->gone) return true;  // the next read reports it
  pollfd pfd = {d->fd, POLLIN, 0};
  int timeout = ms > 0x7FFFFFFFu ? -1 : static_cast<int>(ms);
  int ready = poll(&pfd, 1, timeout);
  return ready >= 0 || errno == EINTR;
}

namespace posix {

void LockDevicesForFork() {
  pthread_mutex_lock(&devices_lock);
}

void UnlockDevicesInParent() {
  pthread_mutex_unlock(&devices_lock);
}

// The child's copies of the descriptors are closed; the open file
// descriptions, and with them the locks, stay with the parent alone.
void ForgetDevicesInChild() {
  for (Device &d : devices) {
    if (d.used && d.fd >= 0) close(d.fd);
    d.used = false;
    d.fd = -1;
  }
  pthread_mutex_init(&devices_lock, nullptr);
  net::NetForgetInChild();
}

}  // namespace posix

void DeviceClose(Handle dev) {
  if (net::IsNetworkDevice(dev)) return net::NetClose(dev);
  Device *d = Find(dev);
  if (d == nullptr) return;
  close(d->fd);  // drops the flock too
  pthread_mutex_lock(&devices_lock);
  d->used = false;
  d->fd = -1;
  pthread_mutex_unlock(&devices_lock);
}

}  // namespace plat
