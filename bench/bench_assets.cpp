// Per-frame mesh effects and mesh loading on a 100,000-triangle mesh.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "assets/mesh_loader.h"
#include "mesh/mesh_writer.h"
#include "scene/mesh_effects.h"
#include "temp_dir.h"

// Every allocation through operator new is counted, so a benchmark can show
// that its steady state allocates nothing.
namespace {
std::atomic<long> allocationCount{0};
}

// Kept out of line: inlined into callers, the malloc/free pairing behind the
// operators would be reported as mismatched.
[[gnu::noinline]] void* operator new(size_t size) {
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) {
    return p;
  }
  throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](size_t size) {
  return operator new(size);
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}

namespace {

// A wavy sheet of 250 x 200 quads, two triangles each: 100,000 triangles,
// 300,000 corners, one smoothed normal slot per vertex.
MeshData wavySheet() {
  constexpr int32_t kColumns = 250, kRows = 200;
  MeshData data;
  for (int32_t j = 0; j <= kRows; ++j) {
    for (int32_t i = 0; i <= kColumns; ++i) {
      const float x = float(i) / kColumns * 4 - 2, z = float(j) / kRows * 4 - 2;
      data.positions.push_back({x, 0.3f * std::sin(3 * x) * std::cos(2 * z), z});
      data.texCoords.push_back({float(i) / kColumns, float(j) / kRows});
    }
  }
  data.normals.assign(data.positions.size(), Vec3{0, 0, 0});
  auto vertex = [&](int32_t i, int32_t j) { return j * (kColumns + 1) + i; };
  for (int32_t j = 0; j < kRows; ++j) {
    for (int32_t i = 0; i < kColumns; ++i) {
      const int32_t a = vertex(i, j), b = vertex(i + 1, j), c = vertex(i + 1, j + 1),
                    d = vertex(i, j + 1);
      data.faces.push_back(Face{{a, d, c}, {a, d, c}, {a, d, c}, {}});
      data.faces.push_back(Face{{a, c, b}, {a, c, b}, {a, c, b}, {}});
    }
  }
  return data;
}

// The sheet as a mesh file in dir.
std::string writeBenchMesh(const TempDir& dir) {
  const std::string path = dir.file("sheet.mesh");
  if (!writeMeshFile(path.c_str(), wavySheet())) {
    std::abort();
  }
  return path;
}

void BM_FrameEffects(benchmark::State& state) {
  const TempDir dir("viriz-bench-");
  const std::string path = writeBenchMesh(dir);
  Mesh mesh = *loadMesh(path);

  float t = 0;
  Matrix4 camera;
  camera.identity().lookAt({3, 300 * std::sin(0.2f * t), 0}, {0, 0, 0}, 0.2f * t);
  applyRadialColor(mesh, 0.5f, 10.0f); // the first frame computes the radial values
  updateEnvTexCoords(mesh, camera);

  const long allocationsBefore = allocationCount.load();
  for (auto _ : state) {
    t += 0.01f;
    camera.identity().lookAt({3, 300 * std::sin(0.2f * t), 0}, {0, 0, 0}, 0.2f * t);
    applyRadialColor(mesh, (std::sin(t) + 1) * 0.5f, 10.0f);
    updateEnvTexCoords(mesh, camera);
    benchmark::DoNotOptimize(mesh.drawTexCoords.data());
    benchmark::DoNotOptimize(mesh.drawColors.data());
  }
  state.counters["allocations_per_frame"] = benchmark::Counter(
      double(allocationCount.load() - allocationsBefore), benchmark::Counter::kAvgIterations);
  state.counters["corners"] = double(mesh.drawPositions.size());
}
BENCHMARK(BM_FrameEffects)->Unit(benchmark::kMillisecond);

// The memory the two effects must touch with the corner arrays the mesh
// draws from, streamed with plain loads and stores and no arithmetic to speak
// of, on the same mesh: per vertex it reads the radial value and writes the
// colour; per corner it reads the normal and the vertex index (which vertex's
// colour the corner takes) and writes the texture coordinate and the colour.
void BM_FrameEffectsFloor(benchmark::State& state) {
  const MeshData data = wavySheet();
  const size_t vertices = data.positions.size(), corners = 3 * data.faces.size();
  std::vector<float> radial(vertices, 0.5f);
  std::vector<Color4> colors(vertices);
  std::vector<int32_t> cornerVertices;
  for (const Face& face : data.faces) {
    cornerVertices.insert(cornerVertices.end(), face.vertexIndex, face.vertexIndex + 3);
  }
  std::vector<Vec3> normals(corners, Vec3{0, 0, 1});
  std::vector<Vec2> texCoords(corners);
  std::vector<Color4> drawColors(corners);

  for (auto _ : state) {
    for (size_t i = 0; i < vertices; ++i) {
      const float r = radial[i];
      colors[i] = Color4{r, r, r, r};
    }
    for (size_t i = 0; i < corners; ++i) {
      texCoords[i] = Vec2{normals[i].x, normals[i].y};
      const float c = float(cornerVertices[i]);
      drawColors[i] = Color4{c, c, c, c};
    }
    benchmark::DoNotOptimize(colors.data());
    benchmark::DoNotOptimize(texCoords.data());
    benchmark::DoNotOptimize(drawColors.data());
    benchmark::ClobberMemory();
  }
  state.counters["corners"] = double(corners);
}
BENCHMARK(BM_FrameEffectsFloor)->Unit(benchmark::kMillisecond);

void BM_MeshLoad(benchmark::State& state) {
  const TempDir dir("viriz-bench-");
  const std::string path = writeBenchMesh(dir);
  for (auto _ : state) {
    std::unique_ptr<Mesh> mesh = loadMesh(path);
    benchmark::DoNotOptimize(mesh->drawPositions.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(path)));
}
BENCHMARK(BM_MeshLoad)->Unit(benchmark::kMillisecond);

// The same file read into a new buffer and nothing else, to compare the
// loader with.
void BM_MeshFileReadOnly(benchmark::State& state) {
  const TempDir dir("viriz-bench-");
  const std::string path = writeBenchMesh(dir);
  const size_t size = std::filesystem::file_size(path);
  for (auto _ : state) {
    std::vector<char> buffer(size);
    FILE* file = std::fopen(path.c_str(), "rb");
    benchmark::DoNotOptimize(std::fread(buffer.data(), 1, size, file));
    std::fclose(file);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}
BENCHMARK(BM_MeshFileReadOnly)->Unit(benchmark::kMillisecond);

} // namespace
