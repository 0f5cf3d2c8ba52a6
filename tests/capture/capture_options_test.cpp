#include "capture_options.h"
#include "number_argument.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Arguments = std::vector<const char*>;

// What reading these arguments (after the program's name) finds wrong.
std::string problemWith(Arguments args, CaptureOptions& options) {
  args.insert(args.begin(), "viriz-capture");
  return readCaptureOptions(int(args.size()), args.data(), options);
}

std::string problemWith(const Arguments& args) {
  CaptureOptions options;
  return problemWith(args, options);
}

TEST(NumberArgument, OnlyWholeFiniteNumbersInTheRange) {
  double value = 7.0;
  for (const char* text : {"inf", "-inf", "nan", "NaN", "1e999", "-0.5", "10.5", "", "5s", "x"})
    EXPECT_FALSE(parseNumber(text, 0.0, 10.0, value)) << text;
  EXPECT_EQ(value, 7.0);
  for (const char* text : {"0", "2.5", "1e1"})
    EXPECT_TRUE(parseNumber(text, 0.0, 10.0, value)) << text;
  EXPECT_EQ(value, 10.0);
}

// Anything that is not a finite number in its range is refused, and the
// message names the option: the sequence's music would otherwise pass what a
// WAV file can hold (4 GiB at 25,000 s).
TEST(CaptureOptions, RefusesWhatCannotBeWritten) {
  const std::pair<const char*, Arguments> refused[] = {
      {"--at", {"--at", "inf", "--out", "d"}},
      {"--at", {"--at", "1", "nan", "--out", "d"}},
      {"--at", {"--at", "-1", "--out", "d"}},
      {"--at", {"--at", "3600.5", "--out", "d"}},
      {"--at", {"--at", "--out", "d"}},
      {"--to", {"--fps", "5", "--from", "0", "--to", "inf", "--out", "d"}},
      {"--to", {"--fps", "5", "--from", "0", "--to", "25000", "--out", "d"}},
      {"--from", {"--fps", "5", "--from", "nan", "--to", "1", "--out", "d"}},
      {"--from", {"--fps", "5", "--from", "-2", "--to", "1", "--out", "d"}},
      {"--fps", {"--fps", "nan", "--from", "0", "--to", "1", "--out", "d"}},
      {"--fps", {"--fps", "241", "--from", "0", "--to", "1", "--out", "d"}},
      {"--fps", {"--fps", "0", "--from", "0", "--to", "1", "--out", "d"}},
      {"--to", {"--fps", "5", "--from", "4", "--to", "2", "--out", "d"}},
      {"--out", {"--at", "1", "--out"}},
      {"--out", {"--at", "1"}},
      {"--at or --fps", {"--at", "1", "--fps", "2", "--from", "0", "--to", "1", "--out", "d"}},
      {"--at or --fps", {"--out", "d"}},
      {"'--fast'", {"--fast"}},
  };
  for (const auto& [option, args] : refused)
    EXPECT_NE(problemWith(args).find(option), std::string::npos) << args[0] << " " << args[1];
}

TEST(CaptureOptions, TakesTheWholeRange) {
  CaptureOptions options;
  EXPECT_EQ(problemWith({"--at", "0", "3600", "9.5", "--out", "d"}, options), "");
  EXPECT_EQ(options.times, (std::vector<double>{0.0, 3600.0, 9.5}));

  options = CaptureOptions();
  EXPECT_EQ(problemWith({"--fps", "240", "--from", "0", "--to", "3600", "--out", "d", "--video",
                         "v.mp4", "--data", "data", "--reduced-flashing"},
                        options),
            "");
  EXPECT_EQ(options.fps, 240.0);
  EXPECT_EQ(options.to, 3600.0);
  EXPECT_EQ(options.outDir, "d");
  EXPECT_EQ(options.video, "v.mp4");
  EXPECT_EQ(options.dataDir, "data");
  EXPECT_TRUE(options.reducedFlashing);
}

} // namespace
