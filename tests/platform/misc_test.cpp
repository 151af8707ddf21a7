// Time, identity and diagnostic output.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

// What fn writes to stderr when run in a child process.
std::string StderrOfChild(const std::function<void()> &fn) {
  int fds[2];
  if (pipe(fds) != 0) return "<no pipe>";
  pid_t child = fork();
  if (child == 0) {
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    fn();
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buffer[256];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  waitpid(child, nullptr, 0);
  return out;
}

TEST(FormatText, FormatsLikeWsprintf) {
  struct Row {
    const char *expected;
    std::function<int(char *, size_t)> format;
  };
  const Row rows[] = {
      {"OpenThreadHandle = 1234\n",
       [](char *b, size_t n) { return plat::FormatText(b, n, "OpenThreadHandle = %d\n", 1234); }},
      {"-33", [](char *b, size_t n) { return plat::FormatText(b, n, "%d", -33); }},
      {"4294967295", [](char *b, size_t n) { return plat::FormatText(b, n, "%u", 0xFFFFFFFFu); }},
      {"psp->ReceivedLength=1a\n",
       [](char *b, size_t n) { return plat::FormatText(b, n, "psp->ReceivedLength=%x\n", 26u); }},
      {"Handle = 1000ABCD\n",
       [](char *b, size_t n) { return plat::FormatText(b, n, "Handle = %08X\n", 0x1000ABCDu); }},
      {"GetHandle=000004D2\n",
       [](char *b, size_t n) { return plat::FormatText(b, n, "GetHandle=%08X\n", 1234u); }},
      {"<1F>", [](char *b, size_t n) { return plat::FormatText(b, n, "<%02X>", 0x1Fu); }},
      {"<00>", [](char *b, size_t n) { return plat::FormatText(b, n, "<%02X>", 0u); }},
      {"A", [](char *b, size_t n) { return plat::FormatText(b, n, "%c", 'A'); }},
      {"\xFE", [](char *b, size_t n) { return plat::FormatText(b, n, "%c", 0xFE); }},
      {"COM open OK!",
       [](char *b, size_t n) { return plat::FormatText(b, n, "%s", "COM open OK!"); }},
      {"  7|7  |007",
       [](char *b, size_t n) { return plat::FormatText(b, n, "%3d|%-3d|%03d", 7, 7, 7); }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.expected);
    char buffer[64];
    memset(buffer, 'Z', sizeof buffer);
    int n = row.format(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, row.expected);
    EXPECT_EQ(n, static_cast<int>(strlen(row.expected)));
  }
}

TEST(FormatText, TruncatesAndTerminates) {
  char buffer[8];
  memset(buffer, 'Z', sizeof buffer);
  int n = plat::FormatText(buffer, 5, "%s", "Frame of Same Handle");
  EXPECT_STREQ(buffer, "Fram");
  EXPECT_EQ(n, 4);
  EXPECT_EQ(buffer[5], 'Z');  // nothing beyond the given size
  EXPECT_EQ(plat::FormatText(buffer, 0, "%d", 1), 0);
  EXPECT_EQ(buffer[0], 'F');
}

TEST(Time, TickFollowsSleep) {
  uint32_t before = plat::TickCount();
  plat::SleepMs(50);
  uint32_t slept = plat::TickCount() - before;
  EXPECT_GE(slept, 50u);
  EXPECT_LT(slept, 5000u);
  before = plat::TickCount();
  plat::SleepMs(0);
  EXPECT_LT(plat::TickCount() - before, 1000u);
}

TEST(Identity, ProcessAndThreadValues) {
  EXPECT_EQ(plat::CurrentProcessId(), static_cast<uint32_t>(getpid()));
  uint32_t mine = plat::CurrentThread();
  EXPECT_EQ(plat::CurrentThread(), mine);  // stable
  uint32_t other = 0;
  std::thread([&] { other = plat::CurrentThread(); }).join();
  EXPECT_NE(other, mine);
  EXPECT_NE(other, 0u);
}

TEST(Diagnostics, MessageBoxIsOneLineOnStderr) {
  std::string out = StderrOfChild([] {
    plat::ShowMessageBox("CreateSemaphore Failed", "QUIBLINK.DLL");
    plat::ShowMessageBox("Error opening COM port hComm", "");
    plat::ShowMessageBox("Handle = 40", "QUIBLINK.DLL");
  });
  EXPECT_EQ(out,
            "QUIBLINK.DLL: CreateSemaphore Failed\n"
            "Error opening COM port hComm\n"
            "QUIBLINK.DLL: Handle = 40\n");
}

TEST(Diagnostics, DebugOutputOnlyWhenAskedFor) {
  std::string on = StderrOfChild([] {
    setenv("QUIBLINK_TRACE", "1", 1);
    plat::DebugOutput("READ command\n");
    plat::DebugOutput("[");
    plat::DebugOutput("]\n");
  });
  EXPECT_EQ(on, "READ command\n[]\n");
  std::string off = StderrOfChild([] {
    unsetenv("QUIBLINK_TRACE");
    plat::DebugOutput("READ command\n");
  });
  EXPECT_EQ(off, "");
}

}  // namespace
