#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Which capture endpoint records what the default output plays, decided from
// what Wine's audio layer says of its endpoints, never from a name alone: a
// name is a description that any device can carry.
//
// What Wine's PulseAudio driver (winepulse.drv, also on PipeWire's
// PulseAudio server) says: it offers one render endpoint per sink and one
// capture endpoint per source, each named with the server's description, and
// one endpoint each way, named "PulseAudio", that follows the server's
// default sink or source. A source that is the monitor of a sink
// (pa_source_info.monitor_of_sink) gets the form factor LineLevel; every
// other source, and the "PulseAudio" capture endpoint, gets Microphone. So
// under that driver a LineLevel capture endpoint is a sink's monitor. Which
// sink it belongs to shows only in its name ("Monitor of " and the sink's
// description, unless the server describes it otherwise); since every sink
// has exactly one monitor, a server with one monitor has one sink, and every
// output plays into it.

// One active endpoint as the audio layer describes it.
struct AudioEndpoint {
  std::wstring id;              // IMMDevice::GetId
  std::wstring name;            // PKEY_Device_FriendlyName
  std::uint32_t formFactor = 0; // PKEY_AudioEndpoint_FormFactor (EndpointFormFactor)
};

struct AudioEndpoints {
  std::wstring driver;        // the audio layer's driver under Wine (the "Wine info device")
  std::wstring defaultOutput; // id of the output that DirectSound plays into by default
  std::vector<AudioEndpoint> outputs;
  std::vector<AudioEndpoint> inputs;
};

// The input that records what the default output plays: a sink's monitor,
// that of the default output when it is one sink named so that nothing else
// could be meant, or else the only monitor there is. Null when that cannot be
// told; `doubt` then says why.
const AudioEndpoint* chooseOutputMonitor(const AudioEndpoints& endpoints, const char*& doubt);
