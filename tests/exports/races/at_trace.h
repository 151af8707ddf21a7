// Forces a race at an exact moment: when the calling thread writes a chosen
// trace text, another thread runs a step of its own, and the calling thread
// stays at that text until the step has returned or has reached the wait
// where it must stay (`parked`). Which of the two came first is kept, so a
// test can tell a step that went through from one that had to wait.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "core/trace_handler.h"
#include "core/state.h"
#include "support/fake/fake_line.h"

class AtTrace {
 public:
  // parked gets the count of semaphore waits under way just before the step
  // starts. A step that neither returns nor parks within limit_ms lets the
  // traced thread go on (the test then fails on returned_first or parked).
  AtTrace(std::string text, std::function<void()> step, std::function<bool(int)> parked,
          int occurrence = 1, int limit_ms = 5000)
      : text_(std::move(text)),
        step_(std::move(step)),
        parked_(std::move(parked)),
        left_(occurrence),
        limit_ms_(limit_ms),
        traced_(std::this_thread::get_id()) {
    quib::SetTraceHandler(Handler, this);
  }
  ~AtTrace() {
    quib::SetTraceHandler(nullptr, nullptr);
    if (other_.joinable()) other_.join();
  }
  bool fired() const { return fired_; }
  // The step returned while the traced thread was held at the text.
  bool returned_first() const { return returned_first_; }
  // The step was seen waiting while the traced thread was held.
  bool was_parked() const { return was_parked_; }
  bool returned() const { return done_; }

  // Waits on semaphores that are blocked now.
  static std::function<bool(int)> NewSemaphoreWait() {
    return [](int before) { return fake::SemaphoreWaits() > before; };
  }
  static std::function<bool(int)> Never() {
    return [](int) { return false; };
  }

 private:
  static void Handler(const char *text, void *user) {
    auto *self = static_cast<AtTrace *>(user);
    if (std::this_thread::get_id() != self->traced_ || self->fired_ || self->text_ != text ||
        --self->left_ > 0) {
      return;
    }
    self->fired_ = true;
    const int before = fake::SemaphoreWaits();
    self->other_ = std::thread([self] {
      self->step_();
      self->done_ = true;
    });
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(self->limit_ms_);
    for (;;) {
      if (self->done_) {
        self->returned_first_ = true;
        return;
      }
      if (self->parked_(before)) {
        self->was_parked_ = true;
        return;
      }
      if (std::chrono::steady_clock::now() > until) return;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }

  std::string text_;
  std::function<void()> step_;
  std::function<bool(int)> parked_;
  int left_;
  int limit_ms_;
  std::thread::id traced_;
  std::thread other_;
  std::atomic<bool> fired_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> returned_first_{false};
  std::atomic<bool> was_parked_{false};
};
