// Feeds arbitrary bytes to the PNG texture loader through a file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "assets/resource_cache.h"
#include "assets/texture.h"

namespace {

const std::string& scratchPath() {
  static const std::string path = [] {
    char pattern[] = "/tmp/fuzz_png_load-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
      std::abort();
    }
    close(fd);
    std::atexit([] { std::remove(scratchPath().c_str()); });
    return std::string(pattern);
  }();
  return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(scratchPath().c_str(), "wb");
  if (!file) {
    std::abort();
  }
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  try {
    std::unique_ptr<Texture> texture(ResourceCache<Texture>::load(scratchPath()));
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
