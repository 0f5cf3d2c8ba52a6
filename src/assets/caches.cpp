#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "assets/texture.h"

// Both caches live in this one file so their order is fixed: the mesh cache
// is constructed first and so destroyed last, after the texture cache.
ResourceCache<Mesh> meshCache;
ResourceCache<Texture> textureCache;
