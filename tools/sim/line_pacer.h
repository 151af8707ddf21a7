// Paces what the terminal sends as a serial line of the configured speed would: each byte goes
// out when its last bit would have arrived.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sim/wire_names.h"

namespace quiblink::sim {

struct LineTiming {
  int baud = 9600;
  int bits_per_char = 10;  // start + data + parity + stop: 10 for 7E1, 11 for 8E1
  bool paced = true;

  // Time that count characters take on the line (0 when pacing is off).
  Nanos CharTime(size_t count) const;
};

class LinePacer {
 public:
  // Queues bytes to go out no earlier than `earliest` and after `gap` of silence behind the
  // bytes queued before them. `log` is handed back by TakeDue when the first byte goes out.
  void Enqueue(Bytes bytes, TimePoint earliest, Nanos gap, LineTiming timing, std::string log = {});

  // Removes and returns the bytes that are due at `now`; log texts of items that started go to
  // *started.
  Bytes TakeDue(TimePoint now, std::vector<std::string> *started = nullptr);

  // When the next byte falls due; nullopt when nothing is queued.
  std::optional<TimePoint> NextDue() const;
  bool Idle() const { return items_.empty(); }

 private:
  struct Item {
    Bytes bytes;
    TimePoint earliest;
    Nanos gap;
    LineTiming timing;
    std::string log;
    TimePoint start{};
    size_t sent = 0;
  };
  void Activate();
  TimePoint DueTime(const Item &item, size_t index) const;

  std::deque<Item> items_;
  TimePoint line_free_{};  // when the last byte handed out has left the line
};

}  // namespace quiblink::sim
