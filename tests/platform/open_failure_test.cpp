// The system's reason for a device that cannot be opened, as the POSIX
// backend records it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "support/pty.h"

namespace {

std::string LastText(int32_t *error) {
  char text[320] = {};
  *error = plat::LastOpenFailure(text, sizeof text);
  return text;
}

TEST(OpenFailure, EachReasonNamesTheDeviceTheSystemTextAndAHint) {
  char dir_template[] = "/tmp/quib-open-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  std::string dir = dir_template;
  std::string plain = dir + "/plain-file";
  close(open(plain.c_str(), O_CREAT | O_WRONLY, 0600));
  Pty held;
  plat::Handle holder = plat::DeviceOpen(held.path());
  ASSERT_NE(holder, plat::kInvalid);

  struct Case {
    std::string name;  // what the library opens
    std::string expected;
    int32_t error;
  };
  setenv("QUIBLINK_COM4", (dir + "/missing").c_str(), 1);
  const Case cases[] = {
      {dir + "/missing", dir + "/missing: No such file or directory (errno 2)", 2},
      {"COM4", dir + "/missing: No such file or directory (errno 2)", 2},
      {held.path(),
       std::string(held.path()) +
           ": Resource temporarily unavailable (errno 11; another program holds the port)",
       11},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(plat::DeviceOpen(c.name.c_str()), plat::kInvalid) << c.name;
    int32_t error = 0;
    EXPECT_EQ(LastText(&error), c.expected) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }

  // A port without its variable falls back to /dev/ttyS*; where that device is missing too,
  // the hint names the variable.
  unsetenv("QUIBLINK_COM9");
  if (access("/dev/ttyS8", F_OK) != 0) {
    EXPECT_EQ(plat::DeviceOpen("COM9"), plat::kInvalid);
    int32_t error = 0;
    EXPECT_EQ(LastText(&error),
              "/dev/ttyS8: No such file or directory (errno 2; set QUIBLINK_COM9 to the serial "
              "device)");
  }

  // A file that is no terminal opens, and fails when its buffers are sized.
  plat::Handle file = plat::DeviceOpen(plain.c_str());
  ASSERT_NE(file, plat::kInvalid);
  EXPECT_FALSE(plat::DeviceSetupBuffers(file, 2048, 2048));
  plat::DeviceClose(file);
  int32_t error = 0;
  EXPECT_EQ(LastText(&error),
            plain + ": Inappropriate ioctl for device (errno 25; not a serial device)");
  EXPECT_EQ(error, 25);

  plat::DeviceClose(holder);
  unsetenv("QUIBLINK_COM4");
  unlink(plain.c_str());
  rmdir(dir.c_str());
}

TEST(OpenFailure, PermissionDeniedSuggestsTheDevicesGroup) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens any file";
  char path[] = "/tmp/quib-denied-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  chmod(path, 0);
  EXPECT_EQ(plat::DeviceOpen(path), plat::kInvalid);
  int32_t error = 0;
  std::string text = LastText(&error);
  EXPECT_EQ(error, 13);
  EXPECT_EQ(
      text.rfind(std::string(path) + ": Permission denied (errno 13; add the user to group ", 0),
      0u)
      << text;
  unlink(path);
}

}  // namespace
