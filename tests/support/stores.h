#pragma once

// The fixture of every test that fills the block's process-wide stores.

#include <gtest/gtest.h>

// Empties the stores before and after each case, so that a case sees only
// what it put there and leaves nothing to the next one. A fixture that
// overrides SetUp or TearDown calls these first.
class StoresTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};
