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

#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "mesh/mesh_writer.h"
#include "scene/math.h"

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
  constexpr int32_t columns = 250, rows = 200;
  MeshData data;
  for (int32_t j = 0; j <= rows; ++j) {
    for (int32_t i = 0; i <= columns; ++i) {
      const float x = float(i) / columns * 4 - 2, z = float(j) / rows * 4 - 2;
      data.positions.push_back({x, 0.3f * std::sin(3 * x) * std::cos(2 * z), z});
      data.texCoords.push_back({float(i) / columns, float(j) / rows});
    }
  }
  data.normals.assign(data.positions.size(), Vec3{0, 0, 0});
  auto vertex = [&](int32_t i, int32_t j) { return j * (columns + 1) + i; };
  for (int32_t j = 0; j < rows; ++j) {
    for (int32_t i = 0; i < columns; ++i) {
      const int32_t a = vertex(i, j), b = vertex(i + 1, j), c = vertex(i + 1, j + 1),
                    d = vertex(i, j + 1);
      data.faces.push_back(Face{{a, d, c}, {a, d, c}, {a, d, c}, {}});
      data.faces.push_back(Face{{a, c, b}, {a, c, b}, {a, c, b}, {}});
    }
  }
  return data;
}

std::string writeBenchMesh() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "viriz-bench-sheet.mesh").string();
  if (!writeMeshFile(path.c_str(), wavySheet())) {
    std::abort();
  }
  return path;
}

void BM_FrameEffects(benchmark::State& state) {
  const std::string path = writeBenchMesh();
  Mesh mesh = *std::unique_ptr<Mesh>(ResourceCache<Mesh>::load(path));
  std::filesystem::remove(path);

  float t = 0;
  Matrix4 camera;
  camera.identity().lookAt({3, 300 * std::sin(0.2f * t), 0}, {0, 0, 0}, 0.2f * t);
  mesh.applyRadialColor(0.5f, 10.0f); // the first frame computes the radial values
  mesh.updateEnvTexCoords(camera);

  const long allocationsBefore = allocationCount.load();
  for (auto _ : state) {
    t += 0.01f;
    camera.identity().lookAt({3, 300 * std::sin(0.2f * t), 0}, {0, 0, 0}, 0.2f * t);
    mesh.applyRadialColor((std::sin(t) + 1) * 0.5f, 10.0f);
    mesh.updateEnvTexCoords(camera);
    benchmark::DoNotOptimize(mesh.drawTexCoords.data());
    benchmark::DoNotOptimize(mesh.drawColors.data());
  }
  state.counters["allocations_per_frame"] = benchmark::Counter(
      double(allocationCount.load() - allocationsBefore), benchmark::Counter::kAvgIterations);
  state.counters["corners"] = double(mesh.drawPositions.size());
}
BENCHMARK(BM_FrameEffects)->Unit(benchmark::kMillisecond);

void BM_MeshLoad(benchmark::State& state) {
  const std::string path = writeBenchMesh();
  for (auto _ : state) {
    std::unique_ptr<Mesh> mesh(ResourceCache<Mesh>::load(path));
    benchmark::DoNotOptimize(mesh->drawPositions.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(path)));
  std::filesystem::remove(path);
}
BENCHMARK(BM_MeshLoad)->Unit(benchmark::kMillisecond);

// The same file read into a new buffer and nothing else, to compare the
// loader with.
void BM_MeshFileReadOnly(benchmark::State& state) {
  const std::string path = writeBenchMesh();
  const size_t size = std::filesystem::file_size(path);
  for (auto _ : state) {
    std::vector<char> buffer(size);
    FILE* file = std::fopen(path.c_str(), "rb");
    benchmark::DoNotOptimize(std::fread(buffer.data(), 1, size, file));
    std::fclose(file);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
  std::filesystem::remove(path);
}
BENCHMARK(BM_MeshFileReadOnly)->Unit(benchmark::kMillisecond);

} // namespace
