// Forces a race at an exact moment: when the calling thread writes a chosen
// trace text, another thread runs a step of its own, and the calling thread
// stays at that text until the step has returned or the step's thread has
// reached the point where it must stay (`parked`). Which of the two came first
// is kept, so a test can tell a step that went through from one that had to
// wait.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/trace_handler.h"
#include "support/fake/fake_line.h"
#include "support/waits.h"

class AtTrace {
 public:
  // Where the step's thread must stay: it is asked with that thread's id. A
  // step that neither returns nor parks within the limit lets the traced
  // thread go on (the test then fails on returned_first or was_parked).
  using Parked = std::function<bool(std::thread::id step)>;

  AtTrace(std::string text, std::function<void()> step, Parked parked, int occurrence = 1)
      : text_(std::move(text)),
        step_(std::move(step)),
        parked_(std::move(parked)),
        left_(occurrence),
        traced_(std::this_thread::get_id()) {
    quib::SetTraceHandler(Handler, this);
  }
  ~AtTrace() {
    quib::SetTraceHandler(nullptr, nullptr);
    if (other_) other_->Get();
  }
  bool fired() const { return fired_; }
  // The step returned while the traced thread was held at the text.
  bool returned_first() const { return returned_first_; }
  // The step's thread was seen where it must stay while the traced thread was held.
  bool was_parked() const { return was_parked_; }

  // The step's thread is blocked on this semaphore (a lock of the library).
  static Parked BlockedOn(plat::Handle semaphore) {
    return [semaphore](std::thread::id step) { return fake::IsBlockedOn(step, semaphore); };
  }
  // The step's thread is blocked on any semaphore.
  static Parked Blocked() {
    return [](std::thread::id step) { return fake::IsBlockedOn(step); };
  }
  static Parked Never() {
    return [](std::thread::id) { return false; };
  }

 private:
  static void Handler(const char *text, void *user) {
    auto *self = static_cast<AtTrace *>(user);
    if (std::this_thread::get_id() != self->traced_ || self->fired_ || self->text_ != text ||
        --self->left_ > 0) {
      return;
    }
    self->fired_ = true;
    self->other_ =
        std::make_unique<waits::Call<void>>("the step at \"" + self->text_ + "\"", [self] {
          self->step_thread_ = std::this_thread::get_id();
          self->step_();
          self->done_ = true;
        });
    const auto until = std::chrono::steady_clock::now() + waits::kLimit;
    for (;;) {
      if (self->done_) {
        self->returned_first_ = true;
        return;
      }
      const std::thread::id step = self->step_thread_;
      if (step != std::thread::id() && self->parked_(step)) {
        self->was_parked_ = true;
        return;
      }
      if (std::chrono::steady_clock::now() > until) return;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }

  std::string text_;
  std::function<void()> step_;
  Parked parked_;
  int left_;
  std::thread::id traced_;
  std::unique_ptr<waits::Call<void>> other_;
  std::atomic<std::thread::id> step_thread_{};
  std::atomic<bool> fired_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> returned_first_{false};
  std::atomic<bool> was_parked_{false};
};
