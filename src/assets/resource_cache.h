#pragma once

#include "fixed_texts.h"

#include <map>
#include <memory>
#include <string>

class Mesh;
class Texture;

// Assets loaded once per name and kept until the process ends. Names are
// compared as plain byte strings, so any difference makes another entry.
// Every loader failure comes out as one std::string naming the file.
template <typename Asset> class ResourceCache {
public:
  ResourceCache() = default;
  ResourceCache(const ResourceCache&) = delete;
  ResourceCache& operator=(const ResourceCache&) = delete;

  // Destroys the assets in name order before the map frees its nodes.
  ~ResourceCache() {
    for (auto& entry : entries) {
      entry.second.reset();
    }
  }

  // The cached asset, loading it on first request. Never null; throws
  // "Failed to load <name>\n<reason>" and stores nothing when loading fails.
  Asset* get(std::string name) {
    if (auto found = entries.find(name); found != entries.end()) {
      return found->second.get();
    }
    std::unique_ptr<Asset> asset;
    try {
      asset.reset(load(name));
      if (!asset) {
        throw std::string(kNullObjectText);
      }
    } catch (const std::string& reason) {
      throw kFailedToLoadText + name + "\n" + reason;
    } catch (...) {
      throw kFailedToLoadText + name + "\n" + kUnknownErrorText;
    }
    Asset* result = asset.get();
    entries.emplace(std::move(name), std::move(asset));
    return result;
  }

  // Reads the named file into a new asset, or throws a std::string saying
  // why not. Defined once per asset type, handing over to that type's loader
  // (loadMesh, loadTexture); it ignores the cache's state.
  static Asset* load(std::string name);

  bool contains(const std::string& name) const { return entries.count(name) != 0; }
  size_t size() const { return entries.size(); }

private:
  std::map<std::string, std::unique_ptr<Asset>> entries;
};

template <> Mesh* ResourceCache<Mesh>::load(std::string name);
template <> Texture* ResourceCache<Texture>::load(std::string name);

// The process-wide caches, constructed mesh cache first, so the texture cache
// (whose destruction deletes GL textures) is destroyed first.
extern ResourceCache<Mesh> meshCache;
extern ResourceCache<Texture> textureCache;
