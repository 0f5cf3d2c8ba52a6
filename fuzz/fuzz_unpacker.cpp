// The decompressor alone on arbitrary packed bytes. The last four bytes choose
// the run: byte 0 bit 0 splits the stream into two entries of one solid
// stream, bit 1 forces audio mode in the first table set, bit 2 discards the
// output; bytes 1-3 give the unpacked size of each entry. An input that starts
// like an archive is decoded from its first entry's data with that entry's size,
// so real archives serve as seeds. The output starts as new heap memory, never
// written, and its delivered bytes go into a CRC, as the reader's do: under
// valgrind's memcheck (scripts/run-memcheck.sh) any of them left unwritten is
// reported.
#include "archive/archive_format.h"
#include "archive/crc32.h"
#include "archive/unpacker.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Slice {
  const uint8_t* bytes;
  size_t size;
  static size_t read(void* context, uint8_t* buffer, size_t count) {
    auto* self = static_cast<Slice*>(context);
    count = std::min(count, self->size);
    if (count > 0)
      memcpy(buffer, self->bytes, count);
    self->bytes += count;
    self->size -= count;
    return count;
  }
};

struct Run {
  std::vector<uint8_t> stream;
  uint32_t unpackedSize = 0;
  bool solid = false;
  bool discard = false;
};

bool fromArchive(const uint8_t* bytes, size_t size, Run& run) {
  const size_t first = kMarkerSize + kArchiveHeaderSize;
  if (size < first + kFileHeaderSize || memcmp(bytes, kMarker, kMarkerSize) != 0)
    return false;
  const FileHeader h = parseFileHeader(bytes + first);
  const size_t dataStart = first + h.headerSize;
  if (dataStart > size)
    return false;
  const size_t packed = std::min<size_t>(h.packedSize, size - dataStart);
  run.stream.assign(bytes + dataStart, bytes + dataStart + packed);
  run.unpackedSize = h.unpackedSize;
  return true;
}

void fromControlBytes(const uint8_t* bytes, size_t size, Run& run) {
  if (size < 4)
    return;
  const uint8_t* control = bytes + size - 4;
  run.stream.assign(bytes, bytes + size - 4);
  run.solid = control[0] & 1;
  run.discard = control[0] & 4;
  run.unpackedSize = uint32_t(control[1]) | uint32_t(control[2]) << 8 | uint32_t(control[3]) << 16;
  if ((control[0] & 2) && !run.stream.empty())
    run.stream[0] |= 0x80;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static Unpacker unpacker;
  static std::vector<uint8_t> window(kUnpackWindowSize);

  Run run;
  if (!fromArchive(bytes, size, run))
    fromControlBytes(bytes, size, run);
  // The reader refuses sizes beyond what the packed bytes could produce; four
  // windows' worth wraps the decoder's window twice.
  constexpr uint64_t kMaxUnpacked = 2 * kUnpackWindowSize;
  run.unpackedSize =
      uint32_t(std::min({uint64_t(run.unpackedSize), run.stream.size() * 2080, kMaxUnpacked}));

  unpacker.reset();
  const size_t half = run.solid ? run.stream.size() / 2 : run.stream.size();
  const Slice parts[2] = {{run.stream.data(), half},
                          {run.stream.data() + half, run.stream.size() - half}};
  for (int part = 0; part < (run.solid ? 2 : 1); ++part) {
    Slice source = parts[part];
    const std::unique_ptr<uint8_t[]> output(new uint8_t[std::max<size_t>(run.unpackedSize, 1)]);
    UnpackOutput out{run.discard ? nullptr : output.get(), run.unpackedSize, 0};
    unpacker.unpackEntry(window.data(), part > 0, run.unpackedSize,
                         PackedSource{Slice::read, &source}, out);
    if (out.delivered > out.capacity)
      __builtin_trap();
    volatile uint32_t crc = crc32Update(0, output.get(), out.delivered);
    (void)crc;
  }
  return 0;
}
