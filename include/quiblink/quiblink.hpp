// QUIBLINK for C++: a thin, header-only layer over the C exports.
//
// A Channel owns one channel handle and closes it when it goes out of scope. Buffers are spans;
// the sized read forms are always used, so a read never writes past the span it was given.
// Every failure is thrown as quiblink::Error, which carries the result code, its name, a
// sentence for the user and, where the terminal answered, its status byte. The C exports stay
// exception-free; nothing thrown here crosses back into the library.
#ifndef QUIBLINK_QUIBLINK_HPP
#define QUIBLINK_QUIBLINK_HPP

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quiblink.h"
#include "quiblink_errors.h"
#include "quiblink_ext.h"
#include "quiblink_results.h"
#include "quiblink/quiblink_version.h"

namespace quiblink {

// Symbolic name of a result code ("RC_NO_RESPONSE"), or "RC_UNKNOWN".
inline const char *result_name(int code) {
#define QUIB_HPP_NAME(name, value, meaning) \
  if (code == (value)) return #name;
  QUIB_RESULTS(QUIB_HPP_NAME)
  QUIB_EXT_RESULTS(QUIB_HPP_NAME)
#undef QUIB_HPP_NAME
  return "RC_UNKNOWN";
}

// What a result code means to the person at the terminal. Codes that mean something else when
// an open returns them (-1, -32, -33) name that meaning in brackets; open_result_message gives
// it alone.
inline const char *result_message(int code) {
#define QUIB_HPP_MEANING(name, value, meaning) \
  if (code == (value)) return meaning;
  QUIB_RESULTS(QUIB_HPP_MEANING)
  QUIB_EXT_RESULTS(QUIB_HPP_MEANING)
#undef QUIB_HPP_MEANING
  return "unknown result code";
}

// The meaning of a code returned by QUIB_Open or XQUIB_Open.
inline const char *open_result_message(int code) {
#define QUIB_HPP_OPEN_MEANING(name, meaning) \
  if (code == (name)) return meaning;
  QUIB_OPEN_RESULTS(QUIB_HPP_OPEN_MEANING)
#undef QUIB_HPP_OPEN_MEANING
  return result_message(code);
}

// A failed call: the result code, the export that returned it, when the terminal answered with
// a non-zero status byte, that byte, and for a port that cannot be opened, the system's reason
// ("/dev/ttyUSB0: Permission denied (errno 13; ...)").
class Error : public std::exception {
 public:
  Error(int code, std::string operation, std::optional<uint8_t> status = std::nullopt,
        std::string reason = {})
      : code_(code), operation_(std::move(operation)), status_(status), reason_(std::move(reason)) {
    what_ = operation_ + ": " + std::to_string(code_) + " " + name() + ": " + message();
    if (!reason_.empty()) what_ += ": " + reason_;
    if (status_) what_ += " (terminal status " + std::to_string(*status_) + ")";
  }

  int code() const { return code_; }
  const char *name() const { return result_name(code_); }
  const std::string &operation() const { return operation_; }
  bool during_open() const { return operation_ == "QUIB_Open" || operation_ == "XQUIB_Open"; }
  const char *message() const {
    return during_open() ? open_result_message(code_) : result_message(code_);
  }
  std::optional<uint8_t> terminal_status() const { return status_; }
  // The system's reason for a failed open, naming the device; empty for other failures.
  const std::string &reason() const { return reason_; }
  const char *what() const noexcept override { return what_.c_str(); }

 private:
  int code_;
  std::string operation_;
  std::optional<uint8_t> status_;
  std::string reason_;
  std::string what_;
};

// Called after each block: bytes done and, for writes, the total (for reads 0, or the size the
// caller expects).
using Progress = std::function<void(uint32_t done, uint32_t total)>;

struct MemData {
  int32_t value1 = 0, value2 = 0, value3 = 0;
};

// first: the value of the entry flagged 0x00; second: the one flagged 0x80.
struct OsInfo {
  uint32_t first = 0, second = 0;
};

struct ProjectInfo {
  uint32_t value1 = 0, value2 = 0;
  std::string name;
};

// What read_all_groups brought: the bytes stored and where each group lies in them, in the
// order the terminal sent the groups.
struct GroupedRead {
  size_t total = 0;
  std::vector<QUIB_GroupEntry> groups;
};

inline int version() {
  return QUIB_Version();
}

namespace detail {

// The library writes the status out-parameter only once it has read a reply's status byte, so a
// value above 255 left in it means the terminal's status is not known.
constexpr uint16_t kNoStatus = 0xFFFF;

inline std::optional<uint8_t> known_status(uint16_t status) {
  if (status == kNoStatus) return std::nullopt;
  return static_cast<uint8_t>(status);
}

// status is read only after the export has returned, so it is passed by address.
inline void check(int16_t rc, const char *operation, const uint16_t *status = nullptr) {
  if (rc < 0) throw Error(rc, operation, status ? known_status(*status) : std::nullopt);
}

// Carries a std::function through the C callback and keeps what it throws until the library
// has returned. What it throws also ends the transfer: it is cancelled before its next
// exchange, and the exception, not RC_CANCELLED, reaches the caller.
struct ProgressRelay {
  const Progress *progress;
  uint16_t handle;
  std::exception_ptr failure;

  static void QUIB_CALL call(uint32_t done, uint32_t total, void *user) {
    auto *self = static_cast<ProgressRelay *>(user);
    if (self->failure) return;
    try {
      (*self->progress)(done, total);
    } catch (...) {
      self->failure = std::current_exception();
      QUIB_CancelTransfer(self->handle);
    }
  }
  QUIB_Progress function() const { return *progress ? &ProgressRelay::call : nullptr; }
  void rethrow() const {
    if (failure) std::rethrow_exception(failure);
  }
};

// An open's failure, with the system's reason when the device could not be opened.
inline void check_open(int16_t rc, const char *operation) {
  if (rc >= 0) return;
  std::string reason;
  if (rc == RC_PORT_OPEN_FAILED) {
    char text[320] = {};
    QUIB_LastOpenError(text, sizeof text);
    reason = text;
  }
  throw Error(rc, operation, std::nullopt, std::move(reason));
}

inline uint16_t narrow16(size_t size, const char *operation) {
  if (size == 0 || size > 0xFFFF) throw Error(RC_BAD_ARGUMENT, operation);
  return static_cast<uint16_t>(size);
}

inline uint32_t narrow32(size_t size, const char *operation) {
  if (size > 0xFFFFFFFFu) throw Error(RC_BAD_ARGUMENT, operation);
  return static_cast<uint32_t>(size);
}

}  // namespace detail

// Routes the library's trace text to a function for as long as the object lives. One at a
// time: the library has a single handler.
class TraceSink {
 public:
  explicit TraceSink(std::function<void(std::string_view)> sink) : sink_(std::move(sink)) {
    QUIB_SetTraceHandler(&TraceSink::call, this);
  }
  ~TraceSink() { QUIB_SetTraceHandler(nullptr, nullptr); }
  TraceSink(const TraceSink &) = delete;
  TraceSink &operator=(const TraceSink &) = delete;

 private:
  static void QUIB_CALL call(const char *text, void *user) {
    try {
      static_cast<TraceSink *>(user)->sink_(text);
    } catch (...) {
      // A failing sink loses trace text, never the call in progress.
    }
  }
  std::function<void(std::string_view)> sink_;
};

class Channel {
 public:
  // port: 0..9 for COM1..COM10.
  static Channel open_graphic(uint16_t port, uint16_t baud, uint16_t model = 0) {
    int16_t rc = XQUIB_Open(port, baud, model);
    detail::check_open(rc, "XQUIB_Open");
    return Channel(static_cast<uint16_t>(rc));
  }
  static Channel open_classic(uint16_t port, uint16_t model) {
    int16_t rc = QUIB_Open(port, model);
    detail::check_open(rc, "QUIB_Open");
    return Channel(static_cast<uint16_t>(rc));
  }

  Channel(Channel &&other) noexcept : handle_(std::exchange(other.handle_, std::nullopt)) {}
  Channel &operator=(Channel &&other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, std::nullopt);
    }
    return *this;
  }
  Channel(const Channel &) = delete;
  Channel &operator=(const Channel &) = delete;
  ~Channel() { reset(); }

  bool is_open() const { return handle_.has_value(); }
  uint16_t handle() const { return handle_.value_or(0xFFFF); }

  // Stops the channel's block transfer before its next exchange: the transfer's call throws
  // Error with RC_CANCELLED (or returns normally when its last block had already gone). Any
  // thread may call it, and so may a progress function; it does not wait, and it changes
  // nothing when no block transfer is under way (it is not remembered for the next one).
  void cancel() const { detail::check(QUIB_CancelTransfer(handle()), "QUIB_CancelTransfer"); }

  // Closes now and reports the result; the destructor closes silently.
  void close() {
    if (!handle_) return;
    int16_t rc = QUIB_Close(*handle_);
    if (rc != RC_BAD_ARGUMENT) handle_.reset();  // -2: a transfer is still running; stay open
    detail::check(rc, "QUIB_Close");
  }

  // Classic panels.
  void read(uint16_t area, int32_t address, std::span<uint8_t> out) const {
    uint16_t count = detail::narrow16(out.size(), "QUIB_Read");
    detail::check(QUIB_Read(handle(), area, address, out.data(), count), "QUIB_Read");
  }
  void write(int32_t address, std::span<const uint8_t> data, uint16_t area = 0) const {
    uint16_t count = detail::narrow16(data.size(), "QUIB_Write");
    detail::check(QUIB_Write(handle(), area, address, count, data.data()), "QUIB_Write");
  }

  // Graphic terminals: block reads. Each returns the number of bytes stored in out.
  size_t read_all(std::span<uint8_t> out, const Progress &progress = {}) const {
    return sized_read("XQUIB_ReadAll", out, progress, handle(),
                      [&](auto... rest) { return XQUIB_ReadAllEx(handle(), rest...); });
  }
  // read_all with the group table: at most max_groups groups (one per group number unless the
  // terminal sends a group twice, apart); expected goes to progress as the total.
  GroupedRead read_all_groups(std::span<uint8_t> out, const Progress &progress = {},
                              uint32_t expected = 0, uint32_t max_groups = 0x10000) const {
    GroupedRead read;
    read.groups.resize(max_groups);
    uint32_t count = 0;
    read.total = sized_read("XQUIB_ReadAllGroups", out, progress, handle(), [&](auto... rest) {
      return call_read_all_groups(rest..., read.groups.data(), max_groups, &count, expected);
    });
    read.groups.resize(count);
    return read;
  }
  size_t read_group(uint16_t group, std::span<uint8_t> out, const Progress &progress = {}) const {
    return sized_read("XQUIB_Read1G", out, progress, handle(),
                      [&](auto... rest) { return XQUIB_Read1GEx(handle(), group, rest...); });
  }
  size_t read_area(uint8_t area, std::span<uint8_t> out, const Progress &progress = {}) const {
    return sized_read("XQUIB_Read", out, progress, handle(),
                      [&](auto... rest) { return XQUIB_ReadEx(handle(), area, rest...); });
  }

  // Graphic terminals: block writes. group is used with area 1 only.
  void write_area(uint8_t area, uint16_t group, std::span<const uint8_t> data,
                  const Progress &progress = {}) const {
    uint32_t length = detail::narrow32(data.size(), "XQUIB_Write");
    uint16_t status = detail::kNoStatus;
    if (!progress) {
      detail::check(XQUIB_Write(handle(), area, group, length, data.data(), &status), "XQUIB_Write",
                    &status);
      return;
    }
    detail::ProgressRelay relay{&progress, handle(), nullptr};
    int16_t rc = XQUIB_WriteEx(handle(), area, group, length, data.data(), &status,
                               relay.function(), &relay);
    relay.rethrow();
    detail::check(rc, "XQUIB_Write", &status);
  }
  // subcommand 'a' or 'b'; option 0x00 or 0x80.
  void install_os(uint8_t subcommand, uint8_t option, std::span<const uint8_t> data,
                  const Progress &progress = {}) const {
    uint32_t length = detail::narrow32(data.size(), "XQUIB_OSInstl");
    uint16_t status = detail::kNoStatus;
    if (!progress) {
      detail::check(XQUIB_OSInstl(handle(), subcommand, option, length, data.data(), &status),
                    "XQUIB_OSInstl", &status);
      return;
    }
    detail::ProgressRelay relay{&progress, handle(), nullptr};
    int16_t rc = XQUIB_OSInstlEx(handle(), subcommand, option, length, data.data(), &status,
                                 relay.function(), &relay);
    relay.rethrow();
    detail::check(rc, "XQUIB_OSInstl", &status);
  }

  // Graphic terminals: control commands.
  void start() const { detail::check(XQUIB_Start(handle()), "XQUIB_Start"); }
  void offline() const { control(XQUIB_Offline, "XQUIB_Offline"); }
  void sw_reset() const { control(XQUIB_SWReset, "XQUIB_SWReset"); }
  void reset_terminal() const { control(XQUIB_Reset, "XQUIB_Reset"); }
  void send_break() const { control(XQUIB_Break, "XQUIB_Break"); }
  void delete_user_data() const { control(XQUIB_DelUserData, "XQUIB_DelUserData"); }
  // code: 0x81..0x83. The channel keeps its own line speed.
  void change_baud(uint16_t code) const {
    uint16_t status = detail::kNoStatus;
    detail::check(XQUIB_BrateChange(handle(), code, &status), "XQUIB_BrateChange", &status);
  }
  // At most 255 bytes; the terminal decides, a refusal is an Error with RC_TERMINAL_ERROR.
  void check_password(std::span<const uint8_t> password) const {
    if (password.size() > 0xFF) throw Error(RC_BAD_ARGUMENT, "XQUIB_CheckPassword");
    uint16_t status = detail::kNoStatus;
    detail::check(XQUIB_CheckPassword(handle(), password.data(),
                                      static_cast<uint16_t>(password.size()), &status),
                  "XQUIB_CheckPassword", &status);
  }

  // Graphic terminals: queries.
  MemData mem_data() const {
    MemData out;
    uint16_t status = detail::kNoStatus;
    detail::check(XQUIB_GetMemData(handle(), &out.value1, &out.value2, &out.value3, &status),
                  "XQUIB_GetMemData", &status);
    return out;
  }
  OsInfo os_info() const {
    OsInfo out;
    uint16_t status = detail::kNoStatus;
    detail::check(XQUIB_GetOsInfo(handle(), &out.first, &out.second, &status), "XQUIB_GetOsInfo",
                  &status);
    return out;
  }
  ProjectInfo project_info() const {
    ProjectInfo out;
    uint8_t name[256] = {};
    uint16_t length = 0;
    uint16_t status = detail::kNoStatus;
    detail::check(XQUIB_GetProjInfo(handle(), &out.value1, &out.value2, name, &length, &status),
                  "XQUIB_GetProjInfo", &status);
    out.name.assign(reinterpret_cast<const char *>(name), length < sizeof name ? length : 0);
    return out;
  }
  uint32_t terminal_type() const {
    uint32_t type = 0;
    uint16_t status = detail::kNoStatus;
    detail::check(XQUIB_GetKEWType(handle(), &type, &status), "XQUIB_GetKEWType", &status);
    return type;
  }

 private:
  explicit Channel(uint16_t handle) : handle_(handle) {}

  void reset() noexcept {
    if (handle_) QUIB_Close(*handle_);
    handle_.reset();
  }

  template <class Call>
  static size_t sized_read(const char *operation, std::span<uint8_t> out, const Progress &progress,
                           uint16_t handle, Call call) {
    uint32_t capacity = detail::narrow32(out.size(), operation);
    int32_t total = 0;
    uint16_t status = detail::kNoStatus;
    detail::ProgressRelay relay{&progress, handle, nullptr};
    int16_t rc = call(out.data(), capacity, &total, &status, relay.function(), &relay);
    relay.rethrow();
    detail::check(rc, operation, &status);
    return static_cast<size_t>(total);
  }

  // The argument order of sized_read's calls, put into that of XQUIB_ReadAllGroups.
  int16_t call_read_all_groups(uint8_t *data, uint32_t capacity, int32_t *total, uint16_t *status,
                               QUIB_Progress progress, void *user, QUIB_GroupEntry *groups,
                               uint32_t group_capacity, uint32_t *count, uint32_t expected) const {
    return XQUIB_ReadAllGroups(handle(), data, capacity, total, groups, group_capacity, count,
                               status, expected, progress, user);
  }

  void control(int16_t(QUIB_CALL *export_fn)(uint16_t, uint16_t *), const char *operation) const {
    uint16_t status = detail::kNoStatus;
    detail::check(export_fn(handle(), &status), operation, &status);
  }

  std::optional<uint16_t> handle_;
};

}  // namespace quiblink

#endif  // QUIBLINK_QUIBLINK_HPP
