// Feeds arbitrary bytes to the PNG texture loader through a file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "assets/resource_cache.h"
#include "assets/texture.h"

namespace {

// The loader takes a path, so each input goes through a scratch file. It is
// unlinked at once and named by its descriptor: nothing is left behind
// however the run ends.
class ScratchFile {
public:
  ScratchFile() {
    char pattern[] = "/tmp/fuzz_png_load-XXXXXX";
    descriptor = mkstemp(pattern);
    if (descriptor < 0) {
      std::abort();
    }
    unlink(pattern);
    path = "/proc/self/fd/" + std::to_string(descriptor);
  }

  const std::string& hold(const uint8_t* data, size_t size) {
    if (ftruncate(descriptor, 0) != 0 || pwrite(descriptor, data, size, 0) != ssize_t(size)) {
      std::abort();
    }
    return path;
  }

private:
  int descriptor;
  std::string path;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchFile scratch;
  const std::string& path = scratch.hold(data, size);

  try {
    std::unique_ptr<Texture> texture(ResourceCache<Texture>::load(path));
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
