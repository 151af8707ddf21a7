// A serial line in raw mode: a new pseudo-terminal pair (the simulator, the monitor's PC side) or
// a given device.
#pragma once

#include <memory>
#include <string>

#include "wire/common.h"

namespace quiblink::wire {

class SerialLine {
 public:
  ~SerialLine();
  SerialLine(const SerialLine &) = delete;
  SerialLine &operator=(const SerialLine &) = delete;

  // Creates a pseudo-terminal pair in raw mode. The slave side stays open here too, so the
  // line neither hangs up nor echoes while the PC program has it closed.
  static std::unique_ptr<SerialLine> OpenPty(std::string *error);
  // Opens a real serial device in raw mode: baud, 7 data bits (classic) or 8 (graphic), even
  // parity, one stop bit.
  static std::unique_ptr<SerialLine> OpenDevice(const std::string &path, int baud, Family family,
                                                std::string *error);

  // Sets the line of a device: baud, 7 data bits (classic) or 8 (graphic), even parity, one
  // stop bit, raw.
  bool Program(int baud, Family family, std::string *error);

  // Bytes written here that the other end has not read yet: for a pseudo-terminal, what waits
  // in its slave side; for a device, 0 once the output has left (it waits for that).
  size_t Unread() const;

  int fd() const { return fd_; }  // non-blocking
  const std::string &path() const { return path_; }
  bool is_pty() const { return slave_fd_ >= 0; }

 private:
  SerialLine() = default;
  int fd_ = -1;
  int slave_fd_ = -1;
  std::string path_;
};

}  // namespace quiblink::wire
