// A library freshly attached to a process whose serial lines and clock are the
// fake backend's: every test starts with all slots free and all ports closed.
#pragma once

#include <gtest/gtest.h>

#include "core/state.h"
#include "support/fake/fake_line.h"

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
    fake::ClearDebug();
  }
  void TearDown() override { plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach); }
};

// The same, for a test that runs once per row of a table.
template <class Row>
class LibraryRowTest : public LibraryTest, public ::testing::WithParamInterface<Row> {};
