// Checks of the DirectSound backend's diagnostic log that need no sound
// device: the count of bytes written worked out from the refills' lock
// offsets, and the log's line format. Exit 0 when every check holds.
#include "audio/dsound/playback_log.h"

#include "audio/sound_buffer.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int failures = 0;

void expect(bool condition, const char* what) {
  if (!condition) {
    std::printf("FAILED: %s\n", what);
    ++failures;
  }
}

// A whole-buffer fill that leaves the decoder's last partial packet unwritten,
// then refills that wrap round the end of the buffer.
void countsRefillsAcrossTheWrap() {
  WrittenCount count(kSoundBufferBytes);
  count.filledWhole();
  expect(count.lockedAt(172304) == 172304, "first refill starts where the fill stopped");
  expect(count.lockedAt(13504) == 176400 + 13504, "a refill that wrapped counts what it wrote");
  expect(count.lockedAt(31144) == 176400 + 31144, "the next refill adds its own bytes");
}

// A fill that wrote the whole buffer leaves the next lock where it began: a
// whole second has been written, not nothing.
void countsAWholeBufferFill() {
  WrittenCount count(kSoundBufferBytes);
  count.filledWhole();
  expect(count.lockedAt(0) == kSoundBufferBytes, "a full fill counts the whole buffer");
  expect(count.lockedAt(0) == kSoundBufferBytes, "a lock again at the same place adds nothing");
}

// A failed lock is tried again at the same offset, and a refill too small to
// decode into writes nothing: neither may count bytes.
void repeatedOffsetsAddNothing() {
  WrittenCount count(kSoundBufferBytes);
  count.filledWhole();
  count.lockedAt(100000);
  expect(count.lockedAt(100000) == 100000, "a retried lock adds nothing");
  expect(count.lockedAt(120000) == 120000, "the next real refill counts from there");
  count.filledWhole();
  expect(count.lockedAt(50000) == 50000, "a new playback starts the count again");
}

// Each line starts with the counter time in seconds and ends with a newline;
// no file is written to when the log is not open.
void writesTimedLines(const char* path) {
  PlaybackLog closed;
  closed.line("never written %d", 1);
  expect(!closed.isOpen(), "a log is closed until opened");

  PlaybackLog log;
  expect(log.open(path), "the log opens");
  const double before = log.seconds(PlaybackLog::now());
  log.line("lock at %u bytes %u", 4u, 8u);
  log.line("released");
  log.close();
  log.line("after closing");
  std::FILE* file = std::fopen(path, "r");
  expect(file != nullptr, "the log file exists");
  if (!file)
    return;
  double first = 0.0;
  double second = 0.0;
  char text[64] = {};
  expect(std::fscanf(file, "%lf lock at 4 bytes 8\n", &first) == 1, "first line as written");
  expect(std::fscanf(file, "%lf %63s\n", &second, text) == 2, "second line as written");
  expect(std::string(text) == "released", "second line's text");
  expect(std::fgetc(file) == EOF, "nothing after closing");
  std::fclose(file);
  // The log prints microseconds, rounded: a line may read up to half of one
  // before the moment taken here.
  const double printedResolution = 1e-6;
  expect(first >= before - printedResolution && second >= first,
         "line times come from the counter, in order");
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: playback_log_test <scratch file>\n");
    return 64;
  }
  countsRefillsAcrossTheWrap();
  countsAWholeBufferFill();
  repeatedOffsetsAddNothing();
  writesTimedLines(argv[1]);
  std::printf("%d failures\n", failures);
  return failures == 0 ? 0 : 1;
}
