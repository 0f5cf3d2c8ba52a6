#include "assets/resource_cache.h"

#include "assets/mesh_loader.h"
#include "assets/texture.h"

#include <utility>

template <> Mesh* ResourceCache<Mesh>::load(std::string name) {
  return loadMesh(std::move(name)).release();
}

template <> Texture* ResourceCache<Texture>::load(std::string name) {
  return loadTexture(std::move(name)).release();
}

// Both caches live in this one file so their order is fixed: the mesh cache
// is constructed first and so destroyed last, after the texture cache.
ResourceCache<Mesh> meshCache;
ResourceCache<Texture> textureCache;
