#include <gtest/gtest.h>

#include <new>

#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "assets/texture.h"
#include "test_files.h"

// An asset whose loader fails in whatever way the test asks.
struct ProbeAsset {};

namespace {
enum class Outcome { object, null, text, badAlloc, integer } outcome;
int loads = 0;
} // namespace

template <> ProbeAsset* ResourceCache<ProbeAsset>::load(std::string) {
  ++loads;
  switch (outcome) {
  case Outcome::null:
    return nullptr;
  case Outcome::text:
    throw std::string("Disk on fire");
  case Outcome::badAlloc:
    throw std::bad_alloc();
  case Outcome::integer:
    throw 42;
  default:
    return new ProbeAsset;
  }
}

namespace {

TEST(ResourceCacheTest, LoadsEachExactNameOnce) {
  ResourceCache<ProbeAsset> cache;
  outcome = Outcome::object;
  loads = 0;
  ProbeAsset* first = cache.get("data/tex.png");
  EXPECT_EQ(cache.get("data/tex.png"), first);
  EXPECT_NE(cache.get("DATA/tex.png"), first);
  EXPECT_EQ(loads, 2);
}

TEST(ResourceCacheTest, FailuresNameTheFileAndLeaveNoEntry) {
  ResourceCache<ProbeAsset> cache;
  const std::pair<Outcome, const char*> cases[] = {
      {Outcome::null, "Failed to load a.png\nNULL-object returned"},
      {Outcome::text, "Failed to load a.png\nDisk on fire"},
      {Outcome::badAlloc, "Failed to load a.png\nUnknown error"},
      {Outcome::integer, "Failed to load a.png\nUnknown error"}};
  loads = 0;
  for (const auto& [how, text] : cases) {
    outcome = how;
    EXPECT_EQ(failureOf([&] { cache.get("a.png"); }), text);
  }
  EXPECT_FALSE(cache.contains("a.png"));
  EXPECT_EQ(loads, 4); // each fetch after a failure tries again
}

TEST(ResourceCacheTest, MeshAndTextureCachesLoadThroughTheirLoaders) {
  TempDir dir;
  ResourceCache<Mesh> meshes;
  ResourceCache<Texture> textures;
  const std::string absent = dir.file("absent");
  EXPECT_EQ(failureOf([&] { meshes.get(absent); }),
            "Failed to load " + absent + "\nFile not found");
  EXPECT_EQ(failureOf([&] { textures.get(absent); }),
            "Failed to load " + absent + "\nFile not found");
  const std::string junk = dir.write("junk", {'M', 'E', 'S', 'X', '0'});
  EXPECT_EQ(failureOf([&] { meshes.get(junk); }), "Failed to load " + junk + "\nCorrupt file");
  EXPECT_EQ(failureOf([&] { textures.get(junk); }),
            "Failed to load " + junk + "\nNot a PNG Texture");
  EXPECT_EQ(meshes.size() + textures.size(), 0u);
}

} // namespace
