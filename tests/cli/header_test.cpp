// The C++ header over the exports, against the simulator: what an Error carries, what a
// throwing or cancelling progress callback does, sized reads, and the channel's lifetime.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "quiblink/quiblink.hpp"
#include "sim/sim_process.h"

namespace quiblink::test {
namespace {

class Header : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = sim::SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "graphic", "--no-pacing"});
    setenv("QUIBLINK_COM5", sim_->path().c_str(), 1);
  }
  Channel Open() { return Channel::open_graphic(4, 38400); }

  std::unique_ptr<sim::SimProcess> sim_;
};

TEST_F(Header, ErrorCarriesTheStatusOnlyWhenTheTerminalAnswered) {
  Channel channel = Open();
  struct Case {
    const char *fault;
    int code;
    std::optional<uint8_t> status;
  };
  const Case cases[] = {
      {"status=9", RC_TERMINAL_ERROR, 9},
      {"wrong-echo", RC_BAD_ECHO, std::nullopt},
      {"wrong-seq", RC_SEQUENCE, std::nullopt},
  };
  for (const auto &c : cases) {
    sim_->Arm(c.fault);
    try {
      channel.offline();
      ADD_FAILURE() << c.fault << ": no error";
    } catch (const Error &error) {
      EXPECT_EQ(error.code(), c.code) << c.fault;
      EXPECT_EQ(error.terminal_status(), c.status) << c.fault;
      EXPECT_EQ(error.operation(), "XQUIB_Offline");
    }
  }
  channel.offline();  // the channel stays usable
}

TEST_F(Header, OpenFailuresSpeakOfThePort) {
  setenv("QUIBLINK_COM6", "/dev/quiblink-no-such-device", 1);
  try {
    Channel::open_graphic(5, 38400);
    FAIL() << "opened a missing device";
  } catch (const Error &error) {
    EXPECT_EQ(error.code(), RC_PORT_OPEN_FAILED);
    EXPECT_TRUE(error.during_open());
    EXPECT_STREQ(error.message(), open_result_message(RC_PORT_OPEN_FAILED));
    EXPECT_EQ(error.reason(), "/dev/quiblink-no-such-device: No such file or directory (errno 2)");
    EXPECT_NE(std::string(error.what()).find(error.reason()), std::string::npos);
  }
}

TEST_F(Header, ThrowingProgressEndsTheTransferAndReachesTheCaller) {
  Channel channel = Open();
  const std::string before = sim_->Command("area 3");
  std::vector<uint8_t> data(2500, 0x5A);
  int calls = 0;
  EXPECT_THROW(channel.write_area(3, 0, data,
                                  [&](uint32_t, uint32_t) {
                                    ++calls;
                                    throw std::runtime_error("stop drawing");
                                  }),
               std::runtime_error);
  // The library is never unwound: the throw cancels the transfer before its next chunk, so the
  // terminal never gets the last one and keeps its area as it was.
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(sim_->Command("area 3"), before);
  channel.offline();
}

TEST_F(Header, CancelFromTheProgressFunctionEndsTheTransferWithItsOwnError) {
  Channel channel = Open();
  std::vector<uint8_t> data(2500, 0x5A);
  try {
    channel.write_area(3, 0, data, [&](uint32_t, uint32_t) { channel.cancel(); });
    FAIL() << "the cancelled write went through";
  } catch (const Error &error) {
    EXPECT_EQ(error.code(), RC_CANCELLED);
    EXPECT_EQ(error.operation(), "XQUIB_Write");
  }
  // With no transfer under way a cancel stops nothing, and is not kept for the next one.
  channel.cancel();
  channel.write_area(3, 0, data);
  EXPECT_EQ(sim_->Command("area 3").size(), 2 * data.size());
}

TEST_F(Header, SizedReadStopsAtTheEndOfTheSpan) {
  Channel channel = Open();
  std::vector<uint8_t> data(3000, 0x11);
  channel.write_area(1, 2, data);
  std::vector<uint8_t> buffer(2000 + 16, 0xEE);
  try {
    channel.read_all(std::span(buffer).first(2000));
    FAIL() << "a 3000-byte group fitted into 2000 bytes";
  } catch (const Error &error) {
    EXPECT_EQ(error.code(), RC_BUFFER_TOO_SMALL);
  }
  for (size_t i = 2000; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << i;

  std::vector<uint8_t> exact(3000);
  EXPECT_EQ(channel.read_group(2, exact), 3000u);
  EXPECT_EQ(exact, data);
}

TEST_F(Header, ChannelClosesWhenItGoesAwayAndMovesOwnership) {
  uint16_t handle = 0;
  {
    Channel first = Open();
    handle = first.handle();
    Channel second = std::move(first);
    EXPECT_FALSE(first.is_open());
    EXPECT_EQ(second.handle(), handle);
    second.offline();
  }
  // Closing a free slot answers -1: the destructor closed it once, the moved-from object not
  // at all.
  EXPECT_EQ(QUIB_Close(handle), RC_PORT_OPEN_FAILED);
  Channel again = Open();
  EXPECT_EQ(again.handle(), handle);
  again.close();
  EXPECT_FALSE(again.is_open());
  EXPECT_EQ(QUIB_Close(handle), RC_PORT_OPEN_FAILED);
}

}  // namespace
}  // namespace quiblink::test
