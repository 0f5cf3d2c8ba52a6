#pragma once

#include <windows.h>

#include <propidl.h>

// ole32, loaded at run time so that the program keeps importing only what it
// did, with COM initialised on the calling thread for as long as it is held.
class ComLibrary {
public:
  ComLibrary() = default;
  ~ComLibrary() { unload(); }
  ComLibrary(const ComLibrary&) = delete;
  ComLibrary& operator=(const ComLibrary&) = delete;

  // Must be called on the thread that then uses the objects it creates.
  bool load();
  void unload();

  HRESULT createInstance(REFCLSID type, REFIID interfaceId, void** object) const;
  void freeTaskMemory(void* memory) const;
  void clearVariant(PROPVARIANT* value) const;

private:
  HMODULE ole32 = nullptr;
  bool initialised = false;
  void* uninitialise = nullptr;
  void* coCreateInstance = nullptr;
  void* taskMemFree = nullptr;
  void* propVariantClear = nullptr;
};

template <typename Interface> void releaseInterface(Interface*& object) {
  if (object) {
    object->Release();
    object = nullptr;
  }
}
