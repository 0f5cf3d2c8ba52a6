#include "audio/dsound/com_library.h"

namespace {

using CoInitializeExFunction = HRESULT(WINAPI*)(LPVOID, DWORD);
using CoUninitializeFunction = void(WINAPI*)();
using CoCreateInstanceFunction = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
using CoTaskMemFreeFunction = void(WINAPI*)(LPVOID);
using PropVariantClearFunction = HRESULT(WINAPI*)(PROPVARIANT*);

} // namespace

bool ComLibrary::load() {
  unload();
  ole32 = LoadLibraryA("ole32.dll");
  if (!ole32)
    return false;
  auto entry = [this](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(ole32, name));
  };
  auto coInitializeEx = reinterpret_cast<CoInitializeExFunction>(entry("CoInitializeEx"));
  uninitialise = entry("CoUninitialize");
  coCreateInstance = entry("CoCreateInstance");
  taskMemFree = entry("CoTaskMemFree");
  propVariantClear = entry("PropVariantClear");
  if (!coInitializeEx || !uninitialise || !coCreateInstance || !taskMemFree || !propVariantClear)
    return false;
  initialised = SUCCEEDED(coInitializeEx(nullptr, COINIT_MULTITHREADED));
  return true;
}

void ComLibrary::unload() {
  if (initialised)
    reinterpret_cast<CoUninitializeFunction>(uninitialise)();
  initialised = false;
  if (ole32)
    FreeLibrary(ole32);
  // Nothing of the unloaded library stays callable.
  ole32 = nullptr;
  uninitialise = nullptr;
  coCreateInstance = nullptr;
  taskMemFree = nullptr;
  propVariantClear = nullptr;
}

HRESULT ComLibrary::createInstance(REFCLSID type, REFIID interfaceId, void** object) const {
  if (!coCreateInstance)
    return E_FAIL;
  return reinterpret_cast<CoCreateInstanceFunction>(coCreateInstance)(type, nullptr, CLSCTX_ALL,
                                                                      interfaceId, object);
}

void ComLibrary::freeTaskMemory(void* memory) const {
  if (taskMemFree && memory)
    reinterpret_cast<CoTaskMemFreeFunction>(taskMemFree)(memory);
}

void ComLibrary::clearVariant(PROPVARIANT* value) const {
  if (propVariantClear)
    reinterpret_cast<PropVariantClearFunction>(propVariantClear)(value);
}
