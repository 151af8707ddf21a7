#include "wire/serial_line.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quiblink::wire {

namespace {
std::string Failed(const char *what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// Linux gives the slave sides of pseudo-terminals the majors 136 to 143.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned major_number = major(st.st_rdev);
  return major_number >= 136 && major_number <= 143;
}

// The settings that programming a line is about: the speeds, the raw modes and, on a device
// with a line, the character frame (a pseudo-terminal has none and keeps its own frame bits).
bool SameLine(const termios &a, const termios &b, bool frame) {
  constexpr tcflag_t kFrame = CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS | CREAD;
  return (!frame || (a.c_cflag & kFrame) == (b.c_cflag & kFrame)) && a.c_iflag == b.c_iflag &&
         a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

// Applies tio. A pseudo-terminal that already has the settings answers tcsetattr with EINVAL:
// the settings read back decide, not that call's result.
bool Apply(int fd, const termios &tio) {
  const int set_error = tcsetattr(fd, TCSANOW, &tio) == 0 ? 0 : errno;
  termios back{};
  if (tcgetattr(fd, &back) != 0) return false;
  if (SameLine(back, tio, !IsPseudoTerminal(fd))) return true;
  errno = set_error != 0 ? set_error : EINVAL;
  return false;
}

bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  return Apply(fd, tio);
}

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return 0;
  }
}
}  // namespace

SerialLine::~SerialLine() {
  if (fd_ >= 0) close(fd_);
  if (slave_fd_ >= 0) close(slave_fd_);
}

std::unique_ptr<SerialLine> SerialLine::OpenPty(std::string *error) {
  std::unique_ptr<SerialLine> line(new SerialLine);
  line->fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (line->fd_ < 0) return *error = Failed("posix_openpt"), nullptr;
  if (grantpt(line->fd_) != 0 || unlockpt(line->fd_) != 0) {
    return *error = Failed("grantpt/unlockpt"), nullptr;
  }
  char name[128];
  if (ptsname_r(line->fd_, name, sizeof name) != 0) return *error = Failed("ptsname"), nullptr;
  line->path_ = name;
  line->slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (line->slave_fd_ < 0) return *error = Failed("open pty slave"), nullptr;
  if (!MakeRaw(line->slave_fd_) || !MakeRaw(line->fd_)) return *error = Failed("raw mode"), nullptr;
  return line;
}

std::unique_ptr<SerialLine> SerialLine::OpenDevice(const std::string &path, int baud, Family family,
                                                   std::string *error) {
  if (SpeedOf(baud) == 0) return *error = "unsupported baud rate " + std::to_string(baud), nullptr;
  std::unique_ptr<SerialLine> line(new SerialLine);
  line->path_ = path;
  line->fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (line->fd_ < 0) return *error = Failed(path.c_str()), nullptr;
  if (!line->Program(baud, family, error)) return nullptr;
  tcflush(line->fd_, TCIOFLUSH);
  return line;
}

size_t SerialLine::Unread() const {
  if (slave_fd_ < 0) {
    tcdrain(fd_);
    return 0;
  }
  int count = 0;
  if (ioctl(slave_fd_, FIONREAD, &count) != 0 || count < 0) return 0;
  return static_cast<size_t>(count);
}

bool SerialLine::Program(int baud, Family family, std::string *error) {
  speed_t speed = SpeedOf(baud);
  if (speed == 0) return *error = "unsupported baud rate " + std::to_string(baud), false;
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return *error = Failed("tcgetattr"), false;
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | CSTOPB | PARODD | CRTSCTS);
  tio.c_cflag |= (family == Family::kClassic ? CS7 : CS8) | PARENB | CLOCAL | CREAD;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (!Apply(fd_, tio)) return *error = Failed("tcsetattr"), false;
  return true;
}

}  // namespace quiblink::wire
