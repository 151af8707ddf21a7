// A graphic terminal scripted on the fake line of COM1: each request frame the
// library writes is answered with the next reply of the script (none once the
// script is used up).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "support/wire/graphic.h"
#include "support/fake/fake_line.h"
#include "quiblink/quiblink.h"
#include "support/library_fixture.h"

// What out-parameters hold before a call, so that a test sees which ones the
// call wrote.
constexpr uint16_t kStatusSentinel = 0xBEEF;
constexpr int32_t kValueSentinel = 0x5A5A5A5A;
constexpr uint8_t kByteSentinel = 0xEE;

class GraphicTerminalTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    handle_ = XQUIB_Open(0, 38400, 0);
    ASSERT_GE(handle_, 0);
    fake::ClearDebug();
  }

 public:
  fake::Line &Line() { return fake::LineOfPort(0); }

  void Answer(std::vector<wire::Bytes> replies) {
    auto script = std::make_shared<std::vector<wire::Bytes>>(std::move(replies));
    auto next = std::make_shared<std::atomic<size_t>>(0);
    Line().OnFrame([script, next](fake::Line &line, const fake::Bytes &) {
      const size_t i = (*next)++;
      if (i < script->size()) line.Send((*script)[i]);
    });
  }
  // The same reply to every request.
  void AnswerAlways(wire::Bytes reply) {
    Line().OnFrame([reply](fake::Line &line, const fake::Bytes &) { line.Send(reply); });
  }

  std::vector<wire::Bytes> Frames() { return Line().Frames(); }

  static bool FirstTextIs(const std::string &text) {
    const auto texts = fake::DebugTexts();
    return !texts.empty() && texts.front() == text;
  }

  uint16_t handle_ = 0;
};
