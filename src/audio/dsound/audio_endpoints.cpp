#include "audio/dsound/audio_endpoints.h"

#include <mmdeviceapi.h>

namespace {

// The system's property keys, stated here so that no GUID library needs
// linking: PKEY_Device_FriendlyName, PKEY_AudioEndpoint_FormFactor, and
// DEVPKEY_Device_Driver, which Wine's "info device" gives as its driver's
// name.
constexpr PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
constexpr PROPERTYKEY kFormFactor = {
    {0x1da5d803, 0xd492, 0x4edd, {0x8c, 0x23, 0xe0, 0xc0, 0xff, 0xee, 0x7f, 0x0e}}, 0};
constexpr PROPERTYKEY kDriver = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 11};

// Reads one property of `device` and hands its value to `take`.
template <typename Take>
void withProperty(const ComLibrary& com, IMMDevice* device, const PROPERTYKEY& key, Take take) {
  IPropertyStore* properties = nullptr;
  if (FAILED(device->OpenPropertyStore(STGM_READ, &properties)))
    return;
  PROPVARIANT variant;
  PropVariantInit(&variant);
  if (SUCCEEDED(properties->GetValue(key, &variant)))
    take(variant);
  com.clearVariant(&variant);
  properties->Release();
}

// A text property; empty when there is none.
std::wstring textProperty(const ComLibrary& com, IMMDevice* device, const PROPERTYKEY& key) {
  std::wstring text;
  withProperty(com, device, key, [&](const PROPVARIANT& value) {
    if (value.vt == VT_LPWSTR && value.pwszVal)
      text = value.pwszVal;
  });
  return text;
}

// A number property; 0 when there is none.
std::uint32_t numberProperty(const ComLibrary& com, IMMDevice* device, const PROPERTYKEY& key) {
  std::uint32_t number = 0;
  withProperty(com, device, key, [&](const PROPVARIANT& value) {
    if (value.vt == VT_UI4)
      number = value.ulVal;
  });
  return number;
}

std::wstring idOf(const ComLibrary& com, IMMDevice* device) {
  std::wstring id;
  LPWSTR text = nullptr;
  if (SUCCEEDED(device->GetId(&text)) && text)
    id = text;
  com.freeTaskMemory(text);
  return id;
}

AudioEndpoint describe(const ComLibrary& com, IMMDevice* device) {
  AudioEndpoint endpoint;
  endpoint.id = idOf(com, device);
  endpoint.name = textProperty(com, device, kFriendlyName);
  endpoint.formFactor = numberProperty(com, device, kFormFactor);
  return endpoint;
}

// The active endpoints one way: those the server has now, not those that a
// Wine prefix remembers from earlier runs.
std::vector<AudioEndpoint> activeEndpoints(const ComLibrary& com, IMMDeviceEnumerator* devices,
                                           EDataFlow flow) {
  std::vector<AudioEndpoint> endpoints;
  IMMDeviceCollection* collection = nullptr;
  if (FAILED(devices->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, &collection)))
    return endpoints;
  UINT count = 0;
  if (SUCCEEDED(collection->GetCount(&count)))
    for (UINT i = 0; i < count; ++i) {
      IMMDevice* device = nullptr;
      if (FAILED(collection->Item(i, &device)))
        continue;
      endpoints.push_back(describe(com, device));
      device->Release();
    }
  collection->Release();
  return endpoints;
}

} // namespace

AudioEndpoints readAudioEndpoints(const ComLibrary& com, IMMDeviceEnumerator* devices) {
  AudioEndpoints endpoints;
  IMMDevice* device = nullptr;
  if (SUCCEEDED(devices->GetDevice(L"Wine info device", &device))) {
    endpoints.driver = textProperty(com, device, kDriver);
    device->Release();
  }
  // DirectSound's default device is the multimedia role's.
  if (SUCCEEDED(devices->GetDefaultAudioEndpoint(eRender, eMultimedia, &device))) {
    endpoints.defaultOutput = idOf(com, device);
    device->Release();
  }
  endpoints.outputs = activeEndpoints(com, devices, eRender);
  endpoints.inputs = activeEndpoints(com, devices, eCapture);
  return endpoints;
}
