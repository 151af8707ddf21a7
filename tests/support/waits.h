// Every wait of a test has a deadline of its own, a few seconds of real time:
// a library call that never returns, or an effect that never comes, fails its
// test in seconds with what it waited for, instead of holding the suite until
// ctest's time-out. (Waits inside the library, on the fake platform, have
// theirs in the fake: fake::SetWaitLimit.)
#pragma once

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

namespace waits {

using Ms = std::chrono::milliseconds;
constexpr Ms kLimit{5000};

// Fails the test naming what it waited for, then ends the process: a call
// that does not return holds its thread and whatever that thread locks, so the
// test could neither finish nor clean up.
[[noreturn]] inline void GiveUp(const std::string &what, Ms waited) {
  ADD_FAILURE() << "waited " << waited.count() << " ms for " << what << "; the test ends here";
  fflush(stdout);
  fflush(stderr);
  std::_Exit(1);
}

// Polls done() until it holds; false, with the test failed naming what, when
// it does not within limit.
inline bool WaitFor(const std::function<bool()> &done, const std::string &what, Ms limit = kLimit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) {
      ADD_FAILURE() << "waited " << limit.count() << " ms for " << what;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// A call on a thread of its own, whose result the test takes with a deadline;
// the destructor waits for it with the same deadline, so that no thread of the
// test outlives what it uses.
template <class T>
class Call {
 public:
  template <class F>
  Call(std::string what, F call) : what_(std::move(what)) {
    std::packaged_task<T()> task(std::move(call));
    result_ = task.get_future();
    std::thread(std::move(task)).detach();
  }
  Call(Call &&) = default;
  ~Call() {
    if (result_.valid()) Await(kLimit);
  }

  // The call has returned within ms (0: has returned already).
  bool ReturnsWithin(Ms ms) { return result_.wait_for(ms) == std::future_status::ready; }

  T Get(Ms limit = kLimit) {
    Await(limit);
    return result_.get();
  }

 private:
  void Await(Ms limit) {
    if (!ReturnsWithin(limit)) GiveUp(what_ + " to return", limit);
  }

  std::string what_;
  std::future<T> result_;
};

template <class F>
Call<std::invoke_result_t<F>> Async(std::string what, F call) {
  return Call<std::invoke_result_t<F>>(std::move(what), std::move(call));
}

}  // namespace waits
