#include "app/guarded.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Every kind of failure the program meets reaches the report as its text,
// once; a step that returns reports nothing. A plain character string is
// what the key track throws.
TEST(GuardedTest, ReportsTheTextOfEveryKindOfThrowOnce) {
  std::vector<std::string> reports;
  const auto report = [&reports](const char* text) { reports.emplace_back(text); };

  EXPECT_TRUE(guarded([] {}, report));
  EXPECT_TRUE(reports.empty());

  EXPECT_FALSE(guarded([] { throw "not enough keys"; }, report));
  EXPECT_FALSE(guarded([] { throw std::string("Failed to load data/tex.png"); }, report));
  EXPECT_FALSE(guarded([] { throw std::runtime_error("out of range"); }, report));
  EXPECT_FALSE(guarded([] { throw 7; }, report));
  EXPECT_EQ(reports, (std::vector<std::string>{"not enough keys", "Failed to load data/tex.png",
                                               "out of range", "Unknown internal error"}));
}

} // namespace
