#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "mesh/mesh_writer.h"
#include "test_files.h"

// An asset whose loader does what the test asks, to reach every failure path.
struct ProbeAsset {
  std::string name;
};

namespace {
enum class ProbeOutcome { object, null, text, badAlloc, integer };
ProbeOutcome probeOutcome = ProbeOutcome::object;
int probeLoads = 0;
} // namespace

template <> ProbeAsset* ResourceCache<ProbeAsset>::load(std::string name) {
  ++probeLoads;
  switch (probeOutcome) {
  case ProbeOutcome::null:
    return nullptr;
  case ProbeOutcome::text:
    throw std::string("Disk on fire");
  case ProbeOutcome::badAlloc:
    throw std::bad_alloc();
  case ProbeOutcome::integer:
    throw 42;
  default:
    return new ProbeAsset{name};
  }
}

namespace {

class ResourceCacheTest : public testing::Test {
protected:
  void SetUp() override {
    probeOutcome = ProbeOutcome::object;
    probeLoads = 0;
  }

  // What get() throws, which must be a std::string.
  static std::string failureOf(ResourceCache<ProbeAsset>& cache, const std::string& name) {
    try {
      cache.get(name);
    } catch (const std::string& error) {
      return error;
    }
    ADD_FAILURE() << "no error for " << name;
    return {};
  }
};

TEST_F(ResourceCacheTest, SameNameGivesSamePointerAndLoadsOnce) {
  ResourceCache<ProbeAsset> cache;
  ProbeAsset* first = cache.get("data/tex.png");
  ProbeAsset* second = cache.get("data/tex.png");
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->name, "data/tex.png");
  EXPECT_EQ(probeLoads, 1);
}

TEST_F(ResourceCacheTest, NamesDifferingOnlyInCaseAreSeparateEntries) {
  ResourceCache<ProbeAsset> cache;
  ProbeAsset* lower = cache.get("data/tex.png");
  ProbeAsset* upper = cache.get("DATA/TEX.PNG");
  EXPECT_NE(lower, upper);
  EXPECT_EQ(probeLoads, 2);
  EXPECT_EQ(cache.size(), 2u);
}

TEST_F(ResourceCacheTest, FailuresNameTheFileAndStoreNothing) {
  ResourceCache<ProbeAsset> cache;
  probeOutcome = ProbeOutcome::null;
  EXPECT_EQ(failureOf(cache, "a.png"), "Failed to load a.png\nNULL-object returned");
  probeOutcome = ProbeOutcome::text;
  EXPECT_EQ(failureOf(cache, "a.png"), "Failed to load a.png\nDisk on fire");
  probeOutcome = ProbeOutcome::badAlloc;
  EXPECT_EQ(failureOf(cache, "a.png"), "Failed to load a.png\nUnknown error");
  probeOutcome = ProbeOutcome::integer;
  EXPECT_EQ(failureOf(cache, "a.png"), "Failed to load a.png\nUnknown error");
  EXPECT_FALSE(cache.contains("a.png"));
  EXPECT_EQ(probeLoads, 4); // every fetch after a failure tries again

  probeOutcome = ProbeOutcome::object;
  EXPECT_NE(cache.get("a.png"), nullptr);
  EXPECT_EQ(probeLoads, 5);
}

TEST(MeshCacheTest, MissingAndCorruptMeshFilesGiveTheLoaderText) {
  TempDir dir;
  ResourceCache<Mesh> cache;
  const std::string missing = dir.path("viriz.mesh");
  try {
    cache.get(missing);
    FAIL();
  } catch (const std::string& error) {
    EXPECT_EQ(error, "Failed to load " + missing + "\nFile not found");
  }

  const std::string wrongMagic = dir.write("wrong.mesh", {'M', 'E', 'S', 'X', '0', 0, 0, 0, 0});
  try {
    cache.get(wrongMagic);
    FAIL();
  } catch (const std::string& error) {
    EXPECT_EQ(error, "Failed to load " + wrongMagic + "\nCorrupt file");
  }
  EXPECT_EQ(cache.size(), 0u);
}

TEST(MeshCacheTest, CachedMeshIsNotReadAgain) {
  TempDir dir;
  MeshData data;
  data.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  data.normals = {{0, 0, 1}};
  data.faces = {Face{{0, 1, 2}, {0, 0, 0}, {0, 0, 0}, {}}};
  const std::string path = dir.write("viriz.mesh", encodeMeshFile(data));

  ResourceCache<Mesh> cache;
  Mesh* mesh = cache.get(path);
  std::filesystem::remove(path);
  EXPECT_EQ(cache.get(path), mesh);
  EXPECT_EQ(mesh->faces.size(), 1u);
}

} // namespace
