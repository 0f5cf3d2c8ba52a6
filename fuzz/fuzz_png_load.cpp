// Feeds arbitrary bytes to the PNG texture loader through a file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "assets/texture.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchFile scratch;
  const std::string& path = scratch.hold(data, size);

  try {
    std::unique_ptr<Texture> texture = loadTexture(path);
    // Every pixel must have been written: reading them all lets the
    // sanitizers see any that lie outside the buffer.
    uint32_t sum = 0;
    const size_t count = size_t(texture->width) * size_t(texture->height);
    for (size_t i = 0; i < count; ++i) {
      sum += texture->pixels[i];
    }
    volatile uint32_t sink = sum;
    (void)sink;
  } catch (const std::string&) {
  }
  return 0;
}
