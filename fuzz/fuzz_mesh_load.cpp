// Feeds arbitrary bytes to the MESH0 loader through a file, then runs the
// per-frame effects on whatever loads: nothing may read out of bounds.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "assets/mesh_loader.h"
#include "scene/mesh_effects.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchFile scratch;
  const std::string& path = scratch.hold(data, size);

  std::unique_ptr<Mesh> mesh;
  try {
    mesh = loadMesh(path);
  } catch (const std::string&) {
    return 0;
  }
  Matrix4 camera;
  camera.identity().lookAt({3, 1, 0}, {0, 0, 0}, 0.5f);
  applyRadialColor(*mesh, 0.5f, 10.0f);
  updateEnvTexCoords(*mesh, camera);
  mesh->buildDrawArrays();
  return 0;
}
