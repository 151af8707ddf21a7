#include "sim/line_pacer.h"

#include <algorithm>

namespace quiblink::sim {

Nanos LineTiming::CharTime(size_t count) const {
  if (!paced || baud <= 0) return Nanos(0);
  return Nanos(static_cast<int64_t>(count) * bits_per_char * 1'000'000'000LL / baud);
}

void LinePacer::Enqueue(Bytes bytes, TimePoint earliest, Nanos gap, LineTiming timing,
                        std::string log) {
  items_.push_back(Item{std::move(bytes), earliest, gap, timing, std::move(log)});
  if (items_.size() == 1) Activate();
}

void LinePacer::Activate() {
  if (items_.empty()) return;
  Item &head = items_.front();
  head.start = std::max(head.earliest, line_free_ + head.gap);
}

TimePoint LinePacer::DueTime(const Item &item, size_t index) const {
  return item.start + item.timing.CharTime(index + 1);
}

Bytes LinePacer::TakeDue(TimePoint now, std::vector<std::string> *started) {
  Bytes out;
  while (!items_.empty()) {
    Item &head = items_.front();
    while (head.sent < head.bytes.size() && DueTime(head, head.sent) <= now) {
      if (head.sent == 0 && started && !head.log.empty()) started->push_back(head.log);
      out.push_back(head.bytes[head.sent++]);
    }
    if (head.sent < head.bytes.size()) break;
    if (head.bytes.empty() && head.start > now) break;
    line_free_ = DueTime(head, head.bytes.empty() ? 0 : head.bytes.size() - 1);
    if (head.bytes.empty()) line_free_ = head.start;
    items_.pop_front();
    Activate();
  }
  return out;
}

std::optional<TimePoint> LinePacer::NextDue() const {
  if (items_.empty()) return std::nullopt;
  const Item &head = items_.front();
  if (head.bytes.empty()) return head.start;
  return DueTime(head, head.sent);
}

}  // namespace quiblink::sim
