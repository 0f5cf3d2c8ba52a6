#pragma once

#include "audio/dsound/com_library.h"
#include "audio/dsound/monitor_choice.h"

struct IMMDeviceEnumerator;

// What the audio layer says of its active endpoints (see monitor_choice.h).
AudioEndpoints readAudioEndpoints(const ComLibrary& com, IMMDeviceEnumerator* devices);
