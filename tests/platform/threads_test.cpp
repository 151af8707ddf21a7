// Threads and semaphores with Win32 semantics.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

using plat::Handle;

uint32_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - since)
                                   .count());
}

struct Gate {
  Handle go = plat::SemaphoreCreate(nullptr, 0, 1);
  Handle finished = plat::SemaphoreCreate(nullptr, 0, 1);
  uint32_t seen_thread = 0;
  uint32_t result = 0;
  ~Gate() {
    plat::SemaphoreClose(go);
    plat::SemaphoreClose(finished);
  }
};

// Waits for the go signal, notes its thread, signals finished and returns.
uint32_t GatedBody(void *arg) {
  Gate *gate = static_cast<Gate *>(arg);
  plat::SemaphoreWait(gate->go, plat::kInfinite);
  gate->seen_thread = plat::CurrentThread();
  uint32_t result = gate->result;
  plat::SemaphoreRelease(gate->finished);  // the gate may be gone after this
  return result;
}

TEST(Threads, ExitCodeStaysStillActiveUntilTheBodyReturns) {
  Gate gate;
  gate.result = 42;
  uint32_t id = 0;
  Handle thread = plat::ThreadCreate(GatedBody, &gate, &id);
  ASSERT_NE(thread, 0);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, plat::CurrentThread());

  uint32_t code = 0;
  ASSERT_TRUE(plat::ThreadExitCode(thread, &code));
  EXPECT_EQ(code, plat::kStillActive);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(plat::ThreadWait(thread, 80), plat::kWaitTimeout);
  EXPECT_GE(ElapsedMs(start), 75u);
  ASSERT_TRUE(plat::ThreadExitCode(thread, &code));
  EXPECT_EQ(code, plat::kStillActive);

  ASSERT_TRUE(plat::SemaphoreRelease(gate.go));
  EXPECT_EQ(plat::ThreadWait(thread, 10000), plat::kWaitSignaled);
  ASSERT_TRUE(plat::ThreadExitCode(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(gate.seen_thread, id);  // the id given at creation is the thread's own
  EXPECT_EQ(plat::ThreadWait(thread, 0), plat::kWaitSignaled);
  plat::ThreadClose(thread);
}

TEST(Threads, InfiniteWaitReturnsWhenTheBodyEnds) {
  Gate gate;
  gate.result = 7;
  Handle thread = plat::ThreadCreate(GatedBody, &gate, nullptr);
  ASSERT_NE(thread, 0);
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    plat::SemaphoreRelease(gate.go);
  });
  EXPECT_EQ(plat::ThreadWait(thread, plat::kInfinite), plat::kWaitSignaled);
  releaser.join();
  uint32_t code = 0;
  EXPECT_TRUE(plat::ThreadExitCode(thread, &code));
  EXPECT_EQ(code, 7u);
  plat::ThreadClose(thread);
}

TEST(Threads, ExitCodeCanBeReadLongAfterTheBodyEnded) {
  Gate gate;
  gate.result = 0;
  Handle thread = plat::ThreadCreate(GatedBody, &gate, nullptr);
  ASSERT_NE(thread, 0);
  plat::SemaphoreRelease(gate.go);
  ASSERT_EQ(plat::SemaphoreWait(gate.finished, 10000), plat::kWaitSignaled);
  // Poll as a close does, until the code is no longer STILL_ACTIVE.
  uint32_t code = plat::kStillActive;
  auto start = std::chrono::steady_clock::now();
  while (plat::ThreadExitCode(thread, &code) && code == plat::kStillActive &&
         ElapsedMs(start) < 10000) {
    plat::SleepMs(1);
  }
  EXPECT_EQ(code, 0u);
  plat::SleepMs(20);
  EXPECT_TRUE(plat::ThreadExitCode(thread, &code));
  EXPECT_EQ(code, 0u);
  plat::ThreadClose(thread);
  EXPECT_FALSE(plat::ThreadExitCode(thread, &code));  // the handle is gone
}

TEST(Threads, SlotsComeBackWhetherClosedBeforeOrAfterTheEnd) {
  // Far more threads than the table holds, each closed in one of both orders.
  for (int i = 0; i < 200; ++i) {
    SCOPED_TRACE(i);
    Gate gate;
    Handle thread = plat::ThreadCreate(GatedBody, &gate, nullptr);
    ASSERT_NE(thread, 0);
    if (i % 2 == 0) {
      plat::ThreadClose(thread);  // the body goes on without its handle
      plat::SemaphoreRelease(gate.go);
      ASSERT_EQ(plat::SemaphoreWait(gate.finished, 10000), plat::kWaitSignaled);
    } else {
      plat::SemaphoreRelease(gate.go);
      ASSERT_EQ(plat::ThreadWait(thread, 10000), plat::kWaitSignaled);
      plat::ThreadClose(thread);
    }
  }
  // A detached body frees its slot a moment after it signalled; let the last
  // ones finish before the table is needed again.
  plat::SleepMs(50);
}

TEST(Threads, CallsOnHandlesNotOpenFail) {
  const Handle handles[] = {0, 1, plat::kInvalid, 0x7100, 0x711F};
  for (Handle h : handles) {
    SCOPED_TRACE(h);
    uint32_t code = 0;
    EXPECT_FALSE(plat::ThreadExitCode(h, &code));
    EXPECT_EQ(plat::ThreadWait(h, 0), plat::kWaitFailed);
    plat::ThreadClose(h);
  }
  EXPECT_EQ(plat::ThreadCreate(nullptr, nullptr, nullptr), 0);
}

TEST(Semaphores, CreateRefusesBadCounts) {
  struct Row {
    int32_t initial;
    int32_t maximum;
  };
  const Row rows[] = {{-1, 1}, {2, 1}, {0, 0}, {0, -5}};
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << row.initial << "/" << row.maximum);
    EXPECT_EQ(plat::SemaphoreCreate(nullptr, row.initial, row.maximum), 0);
    EXPECT_EQ(plat::SemaphoreCreate("RxSema9", row.initial, row.maximum), 0);
  }
}

TEST(Semaphores, ReleaseBeyondTheMaximumFails) {
  Handle sem = plat::SemaphoreCreate(nullptr, 0, 2);
  ASSERT_NE(sem, 0);
  EXPECT_TRUE(plat::SemaphoreRelease(sem));
  EXPECT_TRUE(plat::SemaphoreRelease(sem));
  EXPECT_FALSE(plat::SemaphoreRelease(sem));
  EXPECT_EQ(plat::SemaphoreWait(sem, 0), plat::kWaitSignaled);
  EXPECT_EQ(plat::SemaphoreWait(sem, 0), plat::kWaitSignaled);
  EXPECT_EQ(plat::SemaphoreWait(sem, 0), plat::kWaitTimeout);
  plat::SemaphoreClose(sem);
}

TEST(Semaphores, InitialCountIsAvailable) {
  Handle sem = plat::SemaphoreCreate(nullptr, 1, 1);
  ASSERT_NE(sem, 0);
  EXPECT_FALSE(plat::SemaphoreRelease(sem));  // already at its maximum
  EXPECT_EQ(plat::SemaphoreWait(sem, 0), plat::kWaitSignaled);
  EXPECT_EQ(plat::SemaphoreWait(sem, 0), plat::kWaitTimeout);
  plat::SemaphoreClose(sem);
}

TEST(Semaphores, WaitTimesOutAfterItsTime) {
  Handle sem = plat::SemaphoreCreate(nullptr, 0, 1);
  ASSERT_NE(sem, 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(plat::SemaphoreWait(sem, 60), plat::kWaitTimeout);
  uint32_t took = ElapsedMs(start);
  EXPECT_GE(took, 58u);
  EXPECT_LT(took, 5000u);
  plat::SemaphoreClose(sem);
}

TEST(Semaphores, ReleaseWakesAWaiterInAnotherThread) {
  Handle sem = plat::SemaphoreCreate(nullptr, 0, 1);
  ASSERT_NE(sem, 0);
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = plat::SemaphoreWait(sem, plat::kInfinite); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(result.load(), -1);
  EXPECT_TRUE(plat::SemaphoreRelease(sem));
  waiter.join();
  EXPECT_EQ(result.load(), plat::kWaitSignaled);
  EXPECT_EQ(plat::SemaphoreWait(sem, 0), plat::kWaitTimeout);  // taken by the waiter
  plat::SemaphoreClose(sem);
}

TEST(Semaphores, SameNameOpensTheSameObject) {
  Handle a = plat::SemaphoreCreate("PortSema0", 0, 1);
  ASSERT_NE(a, 0);
  Handle b = plat::SemaphoreCreate("PortSema0", 1, 1);  // counts of a second create are ignored
  ASSERT_NE(b, 0);
  EXPECT_EQ(plat::SemaphoreWait(b, 0), plat::kWaitTimeout);
  EXPECT_TRUE(plat::SemaphoreRelease(a));
  EXPECT_FALSE(plat::SemaphoreRelease(b));  // the one object is at its maximum
  EXPECT_EQ(plat::SemaphoreWait(b, 0), plat::kWaitSignaled);

  Handle other = plat::SemaphoreCreate("RxSema0", 0, 1);
  ASSERT_NE(other, 0);
  EXPECT_TRUE(plat::SemaphoreRelease(other));
  EXPECT_EQ(plat::SemaphoreWait(a, 0), plat::kWaitTimeout);  // another name, another object

  plat::SemaphoreClose(a);
  EXPECT_TRUE(plat::SemaphoreRelease(b));  // still open through b
  EXPECT_EQ(plat::SemaphoreWait(b, 0), plat::kWaitSignaled);
  plat::SemaphoreClose(b);

  // With every handle closed the name is free: a new object, new counts.
  Handle fresh = plat::SemaphoreCreate("PortSema0", 1, 1);
  ASSERT_NE(fresh, 0);
  EXPECT_EQ(plat::SemaphoreWait(fresh, 0), plat::kWaitSignaled);
  plat::SemaphoreClose(fresh);
  plat::SemaphoreClose(other);
}

TEST(Semaphores, UnnamedOnesAreDistinct) {
  Handle a = plat::SemaphoreCreate(nullptr, 0, 1);
  Handle b = plat::SemaphoreCreate(nullptr, 0, 1);
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  EXPECT_NE(a, b);
  EXPECT_TRUE(plat::SemaphoreRelease(a));
  EXPECT_EQ(plat::SemaphoreWait(b, 0), plat::kWaitTimeout);
  plat::SemaphoreClose(a);
  plat::SemaphoreClose(b);
}

TEST(Semaphores, ClosedHandleFails) {
  Handle sem = plat::SemaphoreCreate("QsemaI", 1, 1);
  ASSERT_NE(sem, 0);
  plat::SemaphoreClose(sem);
  EXPECT_FALSE(plat::SemaphoreRelease(sem));
  EXPECT_EQ(plat::SemaphoreWait(sem, 0), plat::kWaitFailed);
  EXPECT_EQ(plat::SemaphoreWait(0, 0), plat::kWaitFailed);
  plat::SemaphoreClose(sem);  // a second close is harmless
}

TEST(Semaphores, TableIsBoundedAndSlotsComeBack) {
  std::vector<Handle> taken;
  for (int i = 0; i < 1000; ++i) {
    Handle h = plat::SemaphoreCreate(nullptr, 0, 1);
    if (h == 0) break;
    taken.push_back(h);
  }
  EXPECT_GE(taken.size(), 23u);  // two per port and the attach semaphores
  EXPECT_LT(taken.size(), 1000u);
  plat::SemaphoreClose(taken.back());
  taken.pop_back();
  Handle again = plat::SemaphoreCreate("PLCmodel", 1, 1);
  EXPECT_NE(again, 0);
  plat::SemaphoreClose(again);
  for (Handle h : taken) plat::SemaphoreClose(h);
}

TEST(Semaphores, BinarySemaphoreExcludesAcrossThreads) {
  Handle lock = plat::SemaphoreCreate("QsemaI", 1, 1);
  ASSERT_NE(lock, 0);
  long counter = 0;  // guarded by lock only
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  auto work = [&] {
    for (int i = 0; i < 2000; ++i) {
      ASSERT_EQ(plat::SemaphoreWait(lock, plat::kInfinite), plat::kWaitSignaled);
      if (inside.fetch_add(1) != 0) overlap = true;
      ++counter;
      inside.fetch_sub(1);
      ASSERT_TRUE(plat::SemaphoreRelease(lock));
    }
  };
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) workers.emplace_back(work);
  for (std::thread &w : workers) w.join();
  EXPECT_FALSE(overlap.load());
  EXPECT_EQ(counter, 8000);
  plat::SemaphoreClose(lock);
}

}  // namespace
