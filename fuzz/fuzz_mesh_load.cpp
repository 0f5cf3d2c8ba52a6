// Feeds arbitrary bytes to the MESH0 loader through a file, then runs the
// per-frame effects on whatever loads: nothing may read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "scene/math.h"

namespace {

// The loader takes a path, so each input goes through a scratch file. It is
// unlinked at once and named by its descriptor: nothing is left behind
// however the run ends.
class ScratchFile {
public:
  ScratchFile() {
    char pattern[] = "/tmp/fuzz_mesh_load-XXXXXX";
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

  std::unique_ptr<Mesh> mesh;
  try {
    mesh.reset(ResourceCache<Mesh>::load(path));
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
