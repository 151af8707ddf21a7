// A port is this process's alone while it holds it, and no longer: a process
// that is killed leaves the port free for the next opener (no exclusive mode
// left behind on the tty), and the child of a fork() holds none of its
// parent's ports, so the parent can close and reopen them while the child
// lives.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "hardening/pty_terminal.h"
#include "quiblink/quiblink.h"
#include "support/process.h"

extern char **environ;

namespace {

using hard::PtyTerminal;

class PortRelease : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(panel_.ok());
    setenv("QUIBLINK_COM3", panel_.path(), 1);
  }
  void TearDown() override { unsetenv("QUIBLINK_COM3"); }

  // 1 when the tty is in exclusive mode, 0 when not, -1 when it cannot say.
  int ExclusiveMode() {
    const int fd = open(panel_.path(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    int on = -1;
    if (ioctl(fd, TIOCGEXCL, &on) != 0) on = -1;
    close(fd);
    return on;
  }

  static bool ReadOnce(int16_t handle) {
    uint8_t buffer[4];
    return QUIB_Read(static_cast<uint16_t>(handle), 0, 0, buffer, 4) == RC_OK;
  }

  PtyTerminal panel_{PtyTerminal::kClassic};
};

// Reads one line from fd within ms milliseconds.
std::string ReadLine(int fd, int ms) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd pfd = {fd, POLLIN, 0};
    if (poll(&pfd, 1, 50) <= 0) continue;
    char c = 0;
    if (read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return line;
}

TEST_F(PortRelease, AKilledHolderLeavesThePortFreeAndNotExclusive) {
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  char *argv[] = {const_cast<char *>(PORT_HOLDER_PATH), nullptr};
  pid_t holder = 0;
  ASSERT_EQ(posix_spawn(&holder, PORT_HOLDER_PATH, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  const std::string said = ReadLine(out[0], 5000);
  close(out[0]);
  if (said != "held") {
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    FAIL() << "the holder did not open the port: '" << said << "'";
  }

  // While it holds the port, this process is refused, whoever it runs as.
  EXPECT_EQ(QUIB_Open(2, 0), RC_PORT_OPEN_FAILED);

  kill(holder, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  ASSERT_TRUE(WIFSIGNALED(status));

  EXPECT_EQ(ExclusiveMode(), 0) << "the tty was left in exclusive mode";
  const int16_t handle = QUIB_Open(2, 0);
  ASSERT_GE(handle, 0) << "the killed holder's port cannot be opened";
  EXPECT_TRUE(ReadOnce(handle));
  EXPECT_EQ(ExclusiveMode(), 0) << "an open port puts the tty in exclusive mode";
  EXPECT_EQ(QUIB_Close(static_cast<uint16_t>(handle)), RC_OK);
}

// What the child of a fork() sees: its copies of the parent's channels are
// not open (calls -3 at once, close -1), and the port is the parent's, so its
// own open is refused while the parent holds it. What the parent sees: the
// child holds nothing, so after its close the port opens again at once.
TEST_F(PortRelease, AForkedChildHoldsNoneOfItsParentsPorts) {
  const int16_t handle = QUIB_Open(2, 0);
  ASSERT_GE(handle, 0);
  ASSERT_TRUE(ReadOnce(handle));

  int report[2], release[2];
  ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(10);  // a call that hangs ends the child, and the test fails
    char result = 0;
    uint8_t buffer[4];
    uint16_t status = 0;
    uint32_t type = 0;
    if (QUIB_Read(static_cast<uint16_t>(handle), 0, 0, buffer, 4) != RC_NOT_OPEN) result |= 1;
    if (XQUIB_GetKEWType(static_cast<uint16_t>(handle), &type, &status) != RC_NOT_OPEN) result |= 2;
    if (QUIB_Close(static_cast<uint16_t>(handle)) != RC_PORT_OPEN_FAILED) result |= 4;
    if (QUIB_Open(2, 0) != RC_PORT_OPEN_FAILED) result |= 8;
    if (process::ThreadCount() != 1) result |= 16;
    if (write(report[1], &result, 1) != 1) _exit(3);
    char go = 0;
    if (read(release[0], &go, 1) != 1) _exit(4);  // lives on until the parent is done
    _exit(0);
  }
  close(report[1]);
  close(release[0]);
  char result = -1;
  pollfd pfd = {report[0], POLLIN, 0};
  ASSERT_GT(poll(&pfd, 1, 10000), 0) << "the child did not report";
  ASSERT_EQ(read(report[0], &result, 1), 1);
  EXPECT_EQ(result & 1, 0) << "QUIB_Read on an inherited handle did not return -3";
  EXPECT_EQ(result & 2, 0) << "XQUIB_GetKEWType on an inherited handle did not return -3";
  EXPECT_EQ(result & 4, 0) << "QUIB_Close of an inherited handle did not return -1";
  EXPECT_EQ(result & 8, 0) << "the child could open the port its parent holds";
  EXPECT_EQ(result & 16, 0) << "the child runs threads of its parent";

  // The parent's channel still works, and after its close the port is free
  // although the child lives.
  EXPECT_TRUE(ReadOnce(handle));
  EXPECT_EQ(QUIB_Close(static_cast<uint16_t>(handle)), RC_OK);
  const int16_t again = QUIB_Open(2, 0);
  EXPECT_GE(again, 0) << "the child of a fork still holds the port";
  if (again >= 0) {
    EXPECT_TRUE(ReadOnce(again));
    EXPECT_EQ(QUIB_Close(static_cast<uint16_t>(again)), RC_OK);
  }

  const char go = 1;
  EXPECT_EQ(write(release[1], &go, 1), 1);
  close(release[1]);
  close(report[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the child ended with " << (WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status));
}

}  // namespace
