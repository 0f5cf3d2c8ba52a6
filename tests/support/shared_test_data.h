#pragma once

#include <gtest/gtest.h>

#include <filesystem>

// The real archives made by other archivers live in the shared test data
// folder beside the repository (VIRIZ_TESTDATA, set by the build). A clone on
// its own has no such folder: the tests that read it are skipped there, with
// the reason, rather than failing.
inline const std::filesystem::path kSharedTestData = VIRIZ_TESTDATA;

#define SKIP_WITHOUT_SHARED_TEST_DATA()                                                            \
  if (!std::filesystem::is_directory(kSharedTestData))                                             \
  GTEST_SKIP() << "no shared test data at " << kSharedTestData.string()                            \
               << " (a clone without ../shared beside it)"
