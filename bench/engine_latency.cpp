// The transaction engine's own cost. A peer process on the master side of a
// pseudo-terminal answers each request at once (or after the pause the
// request asks for); the library opens the slave side as COM1.
//
// Reported:
//  - per exchange, the time beyond what the line rules force: the call starts
//    after the quiet time has passed and the reply is in before the worker's
//    first read, so the only forced wait is the frame's transmit time;
//  - the CPU the process uses while a worker waits 10 s for a reply;
//  - the CPU of an open, idle port.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "core/state.h"
#include "engine/engine.h"
#include "quiblink/quiblink.h"

namespace {

using Clock = std::chrono::steady_clock;

// Requests: 'Q', total length, pause before the reply in 100 ms steps, data.
// Replies: AA, n, n bytes, their XOR.
void Serve(int master) {
  std::vector<uint8_t> pending;
  for (;;) {
    pollfd pfd = {master, POLLIN, 0};
    if (poll(&pfd, 1, -1) <= 0) continue;
    uint8_t chunk[512];
    ssize_t n = read(master, chunk, sizeof chunk);
    if (n <= 0) {
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) _exit(0);
      continue;
    }
    pending.insert(pending.end(), chunk, chunk + n);
    while (pending.size() >= 3 && pending.size() >= pending[1]) {
      std::vector<uint8_t> request(pending.begin(), pending.begin() + pending[1]);
      pending.erase(pending.begin(), pending.begin() + pending[1]);
      if (request[2] != 0) usleep(request[2] * 100000u);
      std::vector<uint8_t> reply = {0xAA, static_cast<uint8_t>(request.size() - 3)};
      uint8_t check = 0;
      for (size_t i = 3; i < request.size(); ++i) {
        reply.push_back(request[i]);
        check ^= request[i];
      }
      reply.push_back(check);
      size_t done = 0;
      while (done < reply.size()) {
        ssize_t w = write(master, reply.data() + done, reply.size() - done);
        if (w > 0) done += static_cast<size_t>(w);
      }
    }
  }
}

int16_t ProbeStart(int16_t, uint16_t, const uint8_t *rx, uint16_t *) {
  return rx[0] == 0xAA ? 0 : RC_BAD_START;
}

int16_t Decode(int16_t, uint16_t length, const uint8_t *rx, uint8_t *payload,
               uint16_t *payload_length) {
  *payload_length = 0;
  if (length < 3 || rx[1] != length - 3) return RC_BAD_LENGTH;
  for (int i = 2; i < length - 1; ++i) payload[i - 2] = rx[i];
  *payload_length = static_cast<uint16_t>(length - 3);
  return 0;
}

int16_t Exchange(int16_t handle, uint8_t pause_steps, uint8_t data_bytes) {
  uint8_t frame[64] = {'Q', static_cast<uint8_t>(3 + data_bytes), pause_steps};
  for (int i = 0; i < data_bytes; ++i) frame[3 + i] = static_cast<uint8_t>(i);
  uint8_t out[quib::kBufferSize];
  quib::RequestDescriptor request{static_cast<uint16_t>(3 + data_bytes),
                                  static_cast<uint16_t>(3 + data_bytes),
                                  quib::ReplyTimeoutSeconds,
                                  Decode,
                                  ProbeStart,
                                  out};
  return quib::TransactionCall(static_cast<uint16_t>(handle), request, frame);
}

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void Latency(int16_t handle, uint32_t tx_ms, uint8_t data_bytes, int rounds) {
  std::vector<double> overhead;
  for (int i = 0; i < rounds; ++i) {
    // Past the quiet time of the last exchange: no forced wait before the write.
    std::this_thread::sleep_for(std::chrono::milliseconds(8));
    auto start = Clock::now();
    if (Exchange(handle, 0, data_bytes) != RC_OK) {
      fprintf(stderr, "exchange %d failed\n", i);
      exit(1);
    }
    overhead.push_back(Seconds(Clock::now() - start) * 1000.0 - tx_ms);
  }
  std::sort(overhead.begin(), overhead.end());
  auto at = [&](double q) { return overhead[static_cast<size_t>(q * (overhead.size() - 1))]; };
  printf(
      "  %2u data bytes, transmit time %u ms: beyond it median %.3f ms, p90 %.3f ms, "
      "p99 %.3f ms, max %.3f ms (%d exchanges)\n",
      data_bytes, tx_ms, at(0.5), at(0.9), at(0.99), overhead.back(), rounds);
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 300;
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  char name[128] = {};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, name, sizeof name) != 0) {
    perror("pseudo-terminal");
    return 1;
  }
  termios tio;
  tcgetattr(master, &tio);
  cfmakeraw(&tio);
  tcsetattr(master, TCSANOW, &tio);
  pid_t peer = fork();
  if (peer == 0) Serve(master);
  setenv("QUIBLINK_COM1", name, 1);

  int16_t handle = QUIB_Open(0, 0);  // 9600 baud, 7E1: 10 bits a character
  if (handle < 0) {
    fprintf(stderr, "open: %d\n", handle);
    return 1;
  }
  printf("Exchange cost beyond the line rules (pseudo-terminal, peer answers at once):\n");
  // 5 bytes at 9600 baud: 5 ms; 40 bytes: 41 ms.
  Latency(handle, quib::TransmitTime(0, 5), 2, rounds);
  Latency(handle, quib::TransmitTime(0, 40), 37, rounds / 4);

  printf("CPU while a worker waits 9.9 s for a reply:\n");
  double cpu = CpuSeconds();
  auto start = Clock::now();
  int16_t status = Exchange(handle, 99, 2);
  double wall = Seconds(Clock::now() - start);
  cpu = CpuSeconds() - cpu;
  printf("  status %d, %.2f s, CPU %.1f ms = %.3f %% of a core\n", status, wall, cpu * 1000,
         100 * cpu / wall);

  printf("CPU of an idle open port over 5 s:\n");
  cpu = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(5));
  cpu = CpuSeconds() - cpu;
  printf("  CPU %.3f ms\n", cpu * 1000);

  QUIB_Close(handle);
  kill(peer, SIGTERM);
  waitpid(peer, nullptr, 0);
  return 0;
}
