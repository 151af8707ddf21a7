// Fake backend: in-memory serial lines whose far end a test scripts.
#include <stdio.h>

#include <deque>
#include <map>
#include <memory>

#include "support/fake/fake_internal.h"

namespace fake {

struct Line::State {
  std::string name;
  Line *owner = nullptr;
  bool open = false;
  int open_calls = 0;
  int purge_calls = 0;
  plat::LineSettings settings{};
  plat::Timeouts timeouts{};
  uint32_t in_size = 0;
  uint32_t out_size = 0;
  Responder responder;
  struct Pending {
    uint32_t tick;
    uint8_t byte;
  };
  std::deque<Pending> input;
  std::vector<Bytes> frames;
  std::vector<uint32_t> frame_ticks;
  plat::ModemResult modem_result = plat::kModemOk;
  uint32_t modem_bits = plat::kCtsOn | plat::kDsrOn;
  uint32_t hold_flags = 0;
  bool drain = true;
  bool stuck = false;
  bool write_waits = false;
  bool write_stalls = false;
  uint32_t out_start = 0;  // tick of the last write
  uint32_t out_length = 0;
  int fail_open = 0, fail_setup = 0, fail_write = 0, fail_read = 0, fail_status = 0;
  int fail_get_line = 0, fail_set_line = 0, fail_timeouts = 0;
  int stalled_writes = 0;
};

namespace {

std::map<std::string, std::unique_ptr<Line>> g_lines;

const char *const kPortNames[10] = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                    "COM6", "COM7", "COM8", "COM9", "\\\\.\\COM10"};

// Consumes one failure of a switch: -1 fails for ever, n > 0 the next n times.
bool Fails(int &counter) {
  if (counter == 0) return false;
  if (counter > 0) --counter;
  return true;
}

uint32_t BitsPerChar(const plat::LineSettings &s) {
  return 1u + s.ByteSize + (s.Parity != 0 ? 1u : 0u) + (s.StopBits == 0 ? 1u : 2u);
}

uint32_t LineMillis(const Line::State &s, uint32_t count) {
  if (s.settings.BaudRate == 0) return 0;
  return count * BitsPerChar(s.settings) * 1000u / s.settings.BaudRate;
}

// Bytes of the last write still in the output queue at tick now.
uint32_t OutQueue(const Line::State &s, uint32_t now) {
  if (s.stuck) return s.out_length;
  if (!s.drain || s.out_length == 0 || s.settings.BaudRate == 0) return 0;
  int32_t elapsed = static_cast<int32_t>(now - s.out_start);
  if (elapsed < 0) elapsed = 0;
  uint64_t sent = uint64_t(elapsed) * s.settings.BaudRate / (1000u * BitsPerChar(s.settings));
  return sent >= s.out_length ? 0 : s.out_length - static_cast<uint32_t>(sent);
}

size_t Arrived(const Line::State &s, uint32_t now) {
  size_t n = 0;
  for (const auto &p : s.input) {
    if (static_cast<int32_t>(now - p.tick) < 0) break;
    ++n;
  }
  return n;
}

Line::State *StateOf(plat::Handle dev) {
  return reinterpret_cast<Line::State *>(dev);
}

// A field of a line's state, read or set under the fake's lock.
template <class T>
T ReadUnderLock(const Line::State *state, T Line::State::*field) {
  std::lock_guard<std::mutex> lock(Lock());
  return state->*field;
}
template <class T>
void WriteUnderLock(Line::State *state, T Line::State::*field, T value) {
  std::lock_guard<std::mutex> lock(Lock());
  state->*field = value;
}

}  // namespace

void ResetLines() {
  std::map<std::string, std::unique_ptr<Line>> old;
  {
    std::lock_guard<std::mutex> lock(Lock());
    old.swap(g_lines);
  }
}

Line &LineNamed(const std::string &name) {
  std::lock_guard<std::mutex> lock(Lock());
  auto &slot = g_lines[name];
  if (!slot) {
    slot = std::make_unique<Line>();
    slot->state_ = new Line::State();
    slot->state_->name = name;
    slot->state_->owner = slot.get();
    // A device as the system hands it over: 9600 8N1, DTR on.
    slot->state_->settings.BaudRate = 9600;
    slot->state_->settings.ByteSize = 8;
    slot->state_->settings.DtrControl = 1;
  }
  return *slot;
}

Line::~Line() {
  delete state_;
}

Line &LineOfPort(int port) {
  return LineNamed(kPortNames[port]);
}

void Line::OnFrame(Responder responder) {
  std::lock_guard<std::mutex> lock(Lock());
  state_->responder = std::move(responder);
}

void Line::Send(const Bytes &bytes, uint32_t delay_ms) {
  std::lock_guard<std::mutex> lock(Lock());
  uint32_t at = Now() + delay_ms;
  // Keep the queue in arrival order even when sends overlap.
  if (!state_->input.empty() && static_cast<int32_t>(state_->input.back().tick - at) > 0) {
    at = state_->input.back().tick;
  }
  for (uint8_t b : bytes) state_->input.push_back({at, b});
}

void Line::SendDrip(const Bytes &bytes, uint32_t first_ms, uint32_t interval_ms) {
  std::lock_guard<std::mutex> lock(Lock());
  uint32_t at = Now() + first_ms;
  for (uint8_t b : bytes) {
    state_->input.push_back({at, b});
    at += interval_ms;
  }
}

size_t Line::PendingInput() {
  std::lock_guard<std::mutex> lock(Lock());
  return state_->input.size();
}

// What a test reads of a line, and the conditions and failures it sets: one
// field each, under the fake's lock.
// clang-format off
#define FAKE_GETTER(type, name, field) type Line::name() { return ReadUnderLock(state_, &State::field); }
FAKE_GETTER(std::vector<Bytes>, Frames, frames)
FAKE_GETTER(std::vector<uint32_t>, FrameTicks, frame_ticks)
FAKE_GETTER(bool, IsOpen, open)
FAKE_GETTER(int, OpenCalls, open_calls)
FAKE_GETTER(int, PurgeCalls, purge_calls)
FAKE_GETTER(plat::LineSettings, Settings, settings)
FAKE_GETTER(plat::Timeouts, TimeoutsSet, timeouts)
FAKE_GETTER(uint32_t, InBufferSize, in_size)
FAKE_GETTER(uint32_t, OutBufferSize, out_size)
FAKE_GETTER(int, StalledWrites, stalled_writes)
#undef FAKE_GETTER
#define FAKE_SETTER(name, type, field) void Line::name(type value) { WriteUnderLock(state_, &State::field, value); }
FAKE_SETTER(SetHoldFlags, uint32_t, hold_flags)
FAKE_SETTER(SetDrainAtLineRate, bool, drain)
FAKE_SETTER(SetOutputStuck, bool, stuck)
FAKE_SETTER(SetWriteWaitsForLine, bool, write_waits)
FAKE_SETTER(SetWriteStalls, bool, write_stalls)
FAKE_SETTER(FailGetLine, int, fail_get_line)
FAKE_SETTER(FailSetLine, int, fail_set_line)
FAKE_SETTER(FailSetTimeouts, int, fail_timeouts)
FAKE_SETTER(FailOpen, int, fail_open)
FAKE_SETTER(FailSetup, int, fail_setup)
FAKE_SETTER(FailWrite, int, fail_write)
FAKE_SETTER(FailRead, int, fail_read)
FAKE_SETTER(FailLineStatus, int, fail_status)
#undef FAKE_SETTER
// clang-format on

void Line::SetModem(plat::ModemResult result, uint32_t bits) {
  std::lock_guard<std::mutex> lock(Lock());
  state_->modem_result = result;
  state_->modem_bits = bits;
}

}  // namespace fake

namespace plat {

namespace {

// The calling thread's last open failure.
struct OpenFailure {
  bool noted;
  int32_t error;
  char text[320];
};
thread_local OpenFailure t_failure;

void NoteFakeOpenFailure(const char *device, const char *reason, int32_t error) {
  t_failure.noted = true;
  t_failure.error = error;
  snprintf(t_failure.text, sizeof t_failure.text, "%s: %s (error %d)", device, reason,
           static_cast<int>(error));
}

}  // namespace

void NoteOpenFailure(const char *device, const char *reason) {
  t_failure.noted = true;
  t_failure.error = 0;
  snprintf(t_failure.text, sizeof t_failure.text, "%s: %s", device, reason);
}

int32_t LastOpenFailure(char *text, size_t size) {
  const char *source = t_failure.noted ? t_failure.text : "no failed open on this thread";
  if (text != nullptr && size != 0) snprintf(text, size, "%s", source);
  return t_failure.noted ? t_failure.error : 0;
}

using fake::Lock;
using fake::StateOf;

Handle DeviceOpen(const char *name) {
  fake::Line &line = fake::LineNamed(name);
  std::lock_guard<std::mutex> lock(Lock());
  fake::Line::State *s = line.state_;
  if (fake::Fails(s->fail_open) || s->open) {
    // The fake's own error number: ERROR_ACCESS_DENIED, as a held port gives.
    NoteFakeOpenFailure(name, s->open ? "the port is held by another open" : "open refused", 5);
    return kInvalid;
  }
  s->open = true;
  ++s->open_calls;
  s->input.clear();
  s->out_length = 0;
  return reinterpret_cast<Handle>(s);
}

bool DeviceSetupBuffers(Handle dev, uint32_t in_size, uint32_t out_size) {
  std::lock_guard<std::mutex> lock(Lock());
  fake::Line::State *s = StateOf(dev);
  if (fake::Fails(s->fail_setup)) {
    NoteFakeOpenFailure(s->name.c_str(), "buffer sizes refused", 87);
    return false;
  }
  s->in_size = in_size;
  s->out_size = out_size;
  return true;
}

bool DeviceGetLine(Handle dev, LineSettings *settings) {
  std::lock_guard<std::mutex> lock(Lock());
  if (fake::Fails(StateOf(dev)->fail_get_line)) return false;
  *settings = StateOf(dev)->settings;
  return true;
}

bool DeviceSetLine(Handle dev, const LineSettings *settings) {
  std::lock_guard<std::mutex> lock(Lock());
  if (fake::Fails(StateOf(dev)->fail_set_line)) return false;
  StateOf(dev)->settings = *settings;
  return true;
}

bool DeviceSetTimeouts(Handle dev, const Timeouts *timeouts) {
  std::lock_guard<std::mutex> lock(Lock());
  if (fake::Fails(StateOf(dev)->fail_timeouts)) return false;
  StateOf(dev)->timeouts = *timeouts;
  return true;
}

bool DeviceRead(Handle dev, void *buffer, uint32_t want, uint32_t *got) {
  std::lock_guard<std::mutex> lock(Lock());
  fake::Line::State *s = StateOf(dev);
  *got = 0;
  if (fake::Fails(s->fail_read)) return false;
  size_t n = fake::Arrived(*s, fake::Now());
  if (n > want) n = want;
  auto *out = static_cast<uint8_t *>(buffer);
  for (size_t i = 0; i < n; ++i) {
    out[i] = s->input.front().byte;
    s->input.pop_front();
  }
  *got = static_cast<uint32_t>(n);
  return true;
}

bool DeviceWrite(Handle dev, const void *buffer, uint32_t length, uint32_t *written) {
  fake::Line::Responder responder;
  fake::Line *owner = nullptr;
  fake::Bytes frame(static_cast<const uint8_t *>(buffer),
                    static_cast<const uint8_t *>(buffer) + length);
  uint32_t wait = 0;
  {
    std::lock_guard<std::mutex> lock(Lock());
    fake::Line::State *s = StateOf(dev);
    *written = 0;
    if (fake::Fails(s->fail_write)) return false;
    if (s->write_stalls) {
      // Nothing leaves: the write returns short, with success, once its
      // total time-out has run out, as a synchronous write does.
      wait = s->timeouts.WriteTotalConstant + s->timeouts.WriteTotalMultiplier * length;
      ++s->stalled_writes;
    } else {
      uint32_t now = fake::Now();
      s->frames.push_back(frame);
      s->frame_ticks.push_back(now);
      s->out_start = now;
      s->out_length = length;
      *written = length;
      responder = s->responder;
      owner = s->owner;
      if (s->write_waits) wait = fake::LineMillis(*s, length);
    }
  }
  if (wait > 0) fake::AdvanceTo(fake::Now() + wait);
  if (responder) responder(*owner, frame);
  return true;
}

bool DeviceLineStatus(Handle dev, LineStatus *status) {
  std::lock_guard<std::mutex> lock(Lock());
  fake::Line::State *s = StateOf(dev);
  if (fake::Fails(s->fail_status)) return false;
  uint32_t now = fake::Now();
  status->Errors = 0;
  status->HoldFlags = s->hold_flags;
  status->InQueue = static_cast<uint32_t>(fake::Arrived(*s, now));
  status->OutQueue = fake::OutQueue(*s, now);
  return true;
}

bool DevicePurge(Handle dev) {
  std::lock_guard<std::mutex> lock(Lock());
  fake::Line::State *s = StateOf(dev);
  ++s->purge_calls;
  size_t n = fake::Arrived(*s, fake::Now());
  s->input.erase(s->input.begin(), s->input.begin() + static_cast<long>(n));
  s->out_length = 0;
  return true;
}

ModemResult DeviceModemStatus(Handle dev, uint32_t *bits) {
  std::lock_guard<std::mutex> lock(Lock());
  fake::Line::State *s = StateOf(dev);
  *bits = s->modem_result == kModemOk ? s->modem_bits : 0;
  return s->modem_result;
}

bool DeviceWaitInput(Handle dev, uint32_t ms) {
  uint32_t now = fake::Now();
  uint32_t until = now + ms;
  {
    std::lock_guard<std::mutex> lock(Lock());
    fake::Line::State *s = StateOf(dev);
    if (fake::Arrived(*s, now) > 0) return true;
    if (!s->input.empty() && static_cast<int32_t>(s->input.front().tick - until) < 0) {
      until = s->input.front().tick;
    }
  }
  fake::AdvanceTo(until);
  return true;
}

void DeviceClose(Handle dev) {
  std::lock_guard<std::mutex> lock(Lock());
  fake::Line::State *s = StateOf(dev);
  s->open = false;
  s->input.clear();
  s->out_length = 0;
}

}  // namespace plat
