#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

// Base of test suites that attach loop devices or make mount namespaces.
class NeedsRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
  }
};
