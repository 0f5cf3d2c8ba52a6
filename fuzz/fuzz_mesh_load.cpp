// Feeds arbitrary bytes to the MESH0 loader through a file, then runs the
// per-frame effects on whatever loads: nothing may read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "scene/math.h"

namespace {

// One scratch file per process, rewritten for every input.
const std::string& scratchPath() {
  static const std::string path = [] {
    char pattern[] = "/tmp/fuzz_mesh_load-XXXXXX";
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

  std::unique_ptr<Mesh> mesh;
  try {
    mesh.reset(ResourceCache<Mesh>::load(scratchPath()));
  } catch (const std::string&) {
    return 0;
  }
  Matrix4 camera;
  camera.identity().lookAt({3, 1, 0}, {0, 0, 0}, 0.5f);
  mesh->applyRadialColor(0.5f, 10.0f);
  mesh->updateEnvTexCoords(camera);
  mesh->buildDrawArrays();
  return 0;
}
