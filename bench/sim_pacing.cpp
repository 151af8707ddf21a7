// The simulator's own pacing, measured without the library: a raw request on
// the pseudo-terminal and the time until the last reply byte is in, against
// the time both frames need on the line. What the simulator adds here, it
// adds to every figure of the library too.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "platform/platform.h"
#include "scenarios.h"

namespace quibbench {

namespace {

using Clock = std::chrono::steady_clock;

// Sends request and waits (up to a second) for reply_length bytes; returns
// the milliseconds from the write to the last byte, or -1. It sleeps through
// most of the exchange: waking for every byte the simulator writes would
// take the processor time the simulator needs to be on time.
double Exchange(int fd, const std::vector<uint8_t> &request, size_t reply_length, double ideal_ms) {
  const Clock::time_point start = Clock::now();
  if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return -1;
  if (ideal_ms > 2) usleep(static_cast<useconds_t>((ideal_ms - 2) * 1000));
  size_t got = 0;
  uint8_t buffer[2048];
  while (got < reply_length) {
    pollfd pfd = {fd, POLLIN, 0};
    if (poll(&pfd, 1, 1000) <= 0) return -1;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) got += static_cast<size_t>(n);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Row Measure(int fd, const Line &line, const std::string &name, const std::vector<uint8_t> &request,
            size_t reply_length, int count) {
  Row row;
  row.mode = "-";
  row.name = name;
  row.baud = line.baud;
  row.unit = "ms";
  row.lower_is_better = true;
  row.bound = LineMs(line, static_cast<uint32_t>(request.size())) +
              LineMs(line, static_cast<uint32_t>(reply_length));
  row.floor = row.bound;
  double sum = 0, worst = 0;
  for (int i = 0; i < count; ++i) {
    usleep(5000);  // the library's quiet time
    double ms = Exchange(fd, request, reply_length, row.bound);
    if (ms < 0) {
      row.ok = false;
      return row;
    }
    sum += ms;
    worst = std::max(worst, ms);
  }
  row.figure = sum / count;
  char text[96];
  snprintf(text, sizeof text, "simulator adds %.2f ms on average, %.2f ms at most",
           row.figure - row.bound, worst - row.bound);
  row.note = text;
  return row;
}

}  // namespace

std::vector<Row> SimulatorPacing(Terminal &terminal, int count) {
  std::vector<Row> rows;
  int fd = open(terminal.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return rows;
  termios tio;
  if (tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
  }
  const Line line = {terminal.baud(), 11};
  // Terminal type (9 bytes out, 10 back) and the first block of read-only
  // area 240 (9 out, 1035 back); flag 0 starts the read afresh each time.
  const std::vector<uint8_t> query = {0xFE, 0x06, 0x00, 0x52, 0x01, 0x00, 0x00, 0x00, 0x59};
  const std::vector<uint8_t> block = {0xFE, 0x06, 0x00, 0x21, 0xF0, 0x00, 0x00, 0x00, 0x17};
  rows.push_back(Measure(fd, line, "sim: short exchange", query, 10, count));
  rows.push_back(Measure(fd, line, "sim: 1035-byte reply", block, 1035, count / 4 + 1));
  close(fd);
  return rows;
}

Row SleepAccuracy(int count) {
  Row row;
  row.mode = "-";
  row.name = "host: 10 ms sleep";
  row.unit = "ms";
  row.lower_is_better = true;
  row.bound = 10;
  row.floor = 10;
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    const Clock::time_point start = Clock::now();
    plat::SleepMs(10);
    samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(samples.begin(), samples.end());
  double sum = 0;
  for (double s : samples) sum += s;
  row.figure = sum / count;
  char text[96];
  snprintf(text, sizeof text, "late by %.2f ms on average, %.2f ms at p99", row.figure - 10,
           samples[static_cast<size_t>(0.99 * (count - 1))] - 10);
  row.note = text;
  return row;
}

}  // namespace quibbench
