// viriz-pack's list and test commands on arbitrary archive bytes, the test
// without and with a password. What they print must never carry a byte a
// terminal acts on: every control byte but the line ends is escaped.
#include "pack/list_and_test_commands.h"
#include "scratch_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Runs one command with its output and errors captured; aborts when they
// hold a control byte other than a line end.
template <class Command> void runPrintable(Command command) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  if (out == nullptr)
    std::abort();
  command(out);
  std::fclose(out);
  for (size_t i = 0; i < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\n') || c == 0x7F)
      std::abort();
  }
  std::free(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static ScratchFile scratch;
  const std::string& archive = scratch.hold(bytes, size);
  runPrintable([&](std::FILE* out) { pack::listArchive(archive, out, out); });
  runPrintable([&](std::FILE* out) { pack::testArchive(archive, nullptr, out, out); });
  runPrintable([&](std::FILE* out) { pack::testArchive(archive, "password", out, out); });
  return 0;
}
