// The library allocates no heap memory once it is loaded. This program
// replaces malloc and its relatives (operator new ends in them too) and counts
// every allocation any thread makes while a call of the shared library runs,
// its port workers included. The terminals on the other side of the
// pseudo-terminals allocate nothing once started.
//
// Opening the first channel of a port starts a thread, and the system's
// thread creation may allocate (thread control block, thread-local storage);
// pthread_create is wrapped so that those allocations are told apart. The
// library's own count must be zero for every call.
#include <dlfcn.h>
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "hardening/pty_terminal.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
void *__libc_memalign(size_t alignment, size_t size);
void *__libc_valloc(size_t size);
void *__libc_pvalloc(size_t size);
}

namespace {

std::atomic<bool> g_armed{false};
std::atomic<long> g_counted{0};   // allocations outside thread creation
std::atomic<long> g_creation{0};  // allocations inside pthread_create
thread_local bool t_creating = false;
// Callers of the first counted allocations, for the failure message.
constexpr int kCallers = 8;
void *g_callers[kCallers];

void Count(void *caller) {
  if (!g_armed.load(std::memory_order_relaxed)) return;
  if (t_creating) {
    ++g_creation;
    return;
  }
  const long n = g_counted++;
  if (n < kCallers) g_callers[n] = caller;
}

using CreateFn = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
CreateFn RealCreate() {
  static CreateFn real = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
  return real;
}

}  // namespace

extern "C" {

void *malloc(size_t size) {
  Count(__builtin_return_address(0));
  return __libc_malloc(size);
}
void *calloc(size_t count, size_t size) {
  Count(__builtin_return_address(0));
  return __libc_calloc(count, size);
}
void *realloc(void *block, size_t size) {
  Count(__builtin_return_address(0));
  return __libc_realloc(block, size);
}
void free(void *block) {
  __libc_free(block);
}
void *memalign(size_t alignment, size_t size) {
  Count(__builtin_return_address(0));
  return __libc_memalign(alignment, size);
}
void *aligned_alloc(size_t alignment, size_t size) {
  Count(__builtin_return_address(0));
  return __libc_memalign(alignment, size);
}
int posix_memalign(void **out, size_t alignment, size_t size) {
  Count(__builtin_return_address(0));
  void *block = __libc_memalign(alignment, size);
  if (block == nullptr) return 12;  // ENOMEM
  *out = block;
  return 0;
}
void *valloc(size_t size) {
  Count(__builtin_return_address(0));
  return __libc_valloc(size);
}
void *pvalloc(size_t size) {
  Count(__builtin_return_address(0));
  return __libc_pvalloc(size);
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*body)(void *),
                   void *arg) {
  t_creating = true;
  const int rc = RealCreate()(thread, attr, body, arg);
  t_creating = false;
  return rc;
}

}  // extern "C"

namespace {

using hard::PtyTerminal;

std::string Callers(long counted) {
  std::string out;
  for (long i = 0; i < counted && i < kCallers; ++i) {
    Dl_info info{};
    char line[256];
    if (dladdr(g_callers[i], &info) != 0 && info.dli_fname != nullptr) {
      snprintf(line, sizeof line, "\n  from %s (%s)", info.dli_fname,
               info.dli_sname != nullptr ? info.dli_sname : "?");
    } else {
      snprintf(line, sizeof line, "\n  from %p", g_callers[i]);
    }
    out += line;
  }
  return out;
}

struct Counts {
  long counted;
  long creation;
};

// Runs one call with the counter armed.
Counts Measure(const std::function<void()> &call) {
  g_counted = 0;
  g_creation = 0;
  g_armed = true;
  call();
  g_armed = false;
  return {g_counted.load(), g_creation.load()};
}

// Allocation-free trace handler: the trace paths run while counting.
std::atomic<long> g_trace_texts{0};
void CountTrace(const char *, void *) {
  ++g_trace_texts;
}

// A progress callback that allocates nothing either.
void CountProgress(uint32_t, uint32_t, void *user) {
  ++*static_cast<long *>(user);
}

class NoAllocation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(RealCreate(), nullptr);
    ASSERT_TRUE(classic_.ok() && graphic_.ok());
    setenv("QUIBLINK_COM3", classic_.path(), 1);
    setenv("QUIBLINK_COM4", graphic_.path(), 1);
    QUIB_SetTraceHandler(CountTrace, nullptr);
  }
  void TearDown() override {
    QUIB_SetTraceHandler(nullptr, nullptr);
    unsetenv("QUIBLINK_COM3");
    unsetenv("QUIBLINK_COM4");
  }

  // The call returns `want` and nothing in the process allocated meanwhile.
  void Expect(const char *what, int16_t want, const std::function<int16_t()> &call) {
    int16_t rc = 0;
    const Counts c = Measure([&] { rc = call(); });
    EXPECT_EQ(rc, want) << what;
    EXPECT_EQ(c.counted + c.creation, 0) << what << " allocated" << Callers(c.counted);
  }

  PtyTerminal classic_{PtyTerminal::kClassic};
  PtyTerminal graphic_{PtyTerminal::kGraphic};
};

// The counter itself: an allocation on another thread, as a port worker's
// would be, is counted, and so is one through operator new.
TEST(AllocationCounter, SeesEveryThreadAndOperatorNew) {
  std::atomic<int> step{0};
  std::thread other([&] {
    while (step.load() == 0) std::this_thread::yield();
    void *volatile block = malloc(16);  // volatile: the pair may not be optimised away
    free(block);
    step = 2;
  });
  const Counts c = Measure([&] {
    step = 1;
    while (step.load() != 2) std::this_thread::yield();
    int *volatile number = new int(1);
    delete number;
  });
  other.join();
  EXPECT_EQ(c.counted, 2);
}

TEST_F(NoAllocation, EveryCallOnOpenPortsAllocatesNothing) {
  const int16_t hc = QUIB_Open(2, 0);
  const int16_t hg = XQUIB_Open(3, 38400, 0);
  ASSERT_GE(hc, 0);
  ASSERT_GE(hg, 0);

  static uint8_t buffer[8192];
  static uint8_t data[3000];
  static uint8_t name[240];
  int32_t total = 0, v1 = 0, v2 = 0, v3 = 0;
  uint32_t u1 = 0, u2 = 0;
  uint16_t status = 0, name_length = 0;
  long progress = 0;

  Expect("QUIB_Version", 211, [] { return QUIB_Version(); });
  Expect("second channel on an open port", int16_t(hg + 1), [] { return QUIB_Open(2, 0); });
  Expect("close of a channel that is not the port's last", 0,
         [&] { return QUIB_Close(uint16_t(hg + 1)); });

  Expect("QUIB_Read of three chunks", 0, [&] { return QUIB_Read(hc, 0, 0x100, buffer, 130); });
  Expect("QUIB_Write of three chunks", 0, [&] { return QUIB_Write(hc, 0, 0x200, 70, data); });
  Expect("QUIB_Read, bad argument", -2, [&] { return QUIB_Read(hc, 0, 0, buffer, 0); });
  Expect("QUIB_Write, channel not open", -3, [&] { return QUIB_Write(30, 0, 0, 2, data); });
  classic_.SetMode(PtyTerminal::kNak);
  Expect("QUIB_Read answered with NAK three times", -19,
         [&] { return QUIB_Read(hc, 0, 0, buffer, 4); });
  classic_.SetMode(PtyTerminal::kBadChecksum);
  Expect("QUIB_Read with bad checksums", -17, [&] { return QUIB_Read(hc, 0, 0, buffer, 4); });
  classic_.SetMode(PtyTerminal::kBadStart);
  Expect("QUIB_Write refused at the first byte", -20,
         [&] { return QUIB_Write(hc, 0, 0, 4, data); });
  classic_.SetMode(PtyTerminal::kHealthy);

  Expect("XQUIB_Offline", 0, [&] { return XQUIB_Offline(hg, &status); });
  Expect("XQUIB_SWReset", 0, [&] { return XQUIB_SWReset(hg, &status); });
  Expect("XQUIB_Reset", 0, [&] { return XQUIB_Reset(hg, &status); });
  Expect("XQUIB_Break", 0, [&] { return XQUIB_Break(hg, &status); });
  Expect("XQUIB_DelUserData", 0, [&] { return XQUIB_DelUserData(hg, &status); });
  Expect("XQUIB_BrateChange", 0, [&] { return XQUIB_BrateChange(hg, 0x81, &status); });
  Expect("XQUIB_GetMemData", 0, [&] { return XQUIB_GetMemData(hg, &v1, &v2, &v3, &status); });
  Expect("XQUIB_GetOsInfo", 0, [&] { return XQUIB_GetOsInfo(hg, &u1, &u2, &status); });
  Expect("XQUIB_GetProjInfo", 0,
         [&] { return XQUIB_GetProjInfo(hg, &u1, &u2, name, &name_length, &status); });
  Expect("XQUIB_GetKEWType", 0, [&] { return XQUIB_GetKEWType(hg, &u1, &status); });
  Expect("XQUIB_CheckPassword", 0, [&] { return XQUIB_CheckPassword(hg, data, 8, &status); });
  Expect("XQUIB_ReadAll", 0, [&] { return XQUIB_ReadAll(hg, buffer, &total, &status); });
  Expect("XQUIB_Read1G", 0, [&] { return XQUIB_Read1G(hg, 7, buffer, &total, &status); });
  Expect("XQUIB_Read", 0, [&] { return XQUIB_Read(hg, 3, buffer, &total, &status); });
  Expect("XQUIB_ReadAllEx", 0, [&] {
    return XQUIB_ReadAllEx(hg, buffer, sizeof buffer, &total, &status, CountProgress, &progress);
  });
  Expect("XQUIB_ReadEx, buffer too small", RC_BUFFER_TOO_SMALL,
         [&] { return XQUIB_ReadEx(hg, 4, buffer, 8, &total, &status, CountProgress, &progress); });
  Expect("XQUIB_Write of three chunks", 0,
         [&] { return XQUIB_Write(hg, 3, 0, sizeof data, data, &status); });
  Expect("XQUIB_WriteEx", 0,
         [&] { return XQUIB_WriteEx(hg, 1, 5, 1500, data, &status, CountProgress, &progress); });
  Expect("XQUIB_OSInstl", 0, [&] { return XQUIB_OSInstl(hg, 0x61, 0x80, 2000, data, &status); });
  Expect("XQUIB_OSInstlEx", 0, [&] {
    return XQUIB_OSInstlEx(hg, 0x62, 0, 100, data, &status, CountProgress, &progress);
  });
  graphic_.SetMode(PtyTerminal::kNak);
  Expect("XQUIB_Reset refused by the terminal", RC_TERMINAL_ERROR,
         [&] { return XQUIB_Reset(hg, &status); });
  graphic_.SetMode(PtyTerminal::kBadChecksum);
  Expect("XQUIB_GetKEWType with bad checksums", RC_CHECKSUM,
         [&] { return XQUIB_GetKEWType(hg, &u1, &status); });
  graphic_.SetMode(PtyTerminal::kSilent);
  Expect("XQUIB_Start", 0, [&] { return XQUIB_Start(hg); });
  graphic_.SetMode(PtyTerminal::kHealthy);
  Expect("XQUIB_BrateChange, bad code", -2, [&] { return XQUIB_BrateChange(hg, 0x80, &status); });
  Expect("XQUIB_Read1G, handle above 31", -2,
         [&] { return XQUIB_Read1G(40, 1, buffer, &total, &status); });

  EXPECT_GT(g_trace_texts.load(), 0) << "the trace ran during the calls";
  EXPECT_GT(progress, 0) << "the progress callbacks ran during the calls";
  EXPECT_EQ(QUIB_Close(uint16_t(hc)), 0);
  EXPECT_EQ(QUIB_Close(uint16_t(hg)), 0);
}

// The first open of a port and its last close: whatever the system's thread
// creation takes, the library itself allocates nothing.
TEST_F(NoAllocation, OpeningAndClosingPortsAllocatesOnlyInThreadCreation) {
  for (int round = 0; round < 3; ++round) {
    int16_t h = -1;
    const Counts open = Measure([&] { h = XQUIB_Open(3, 19200, 0); });
    ASSERT_GE(h, 0);
    EXPECT_EQ(open.counted, 0) << "first open allocated" << Callers(open.counted);
    const Counts close = Measure([&] { EXPECT_EQ(QUIB_Close(uint16_t(h)), 0); });
    EXPECT_EQ(close.counted + close.creation, 0)
        << "last close allocated" << Callers(close.counted);
    if (round == 0) printf("thread creation allocated %ld times\n", open.creation);
  }
}

}  // namespace
