#include "audio/dsound/monitor_choice.h"

#include <algorithm>

namespace {

// The driver whose LineLevel inputs are sinks' monitors.
const std::wstring kPulseDriver = L"winepulse.drv";
// EndpointFormFactor's LineLevel.
constexpr std::uint32_t kLineLevel = 2;

const AudioEndpoint* findById(const std::vector<AudioEndpoint>& endpoints, const std::wstring& id) {
  const auto found = std::find_if(endpoints.begin(), endpoints.end(),
                                  [&](const AudioEndpoint& endpoint) { return endpoint.id == id; });
  return found == endpoints.end() ? nullptr : &*found;
}

// The inputs that are sinks' monitors: how many, one of them, and of those
// named for `output`, how many and one of them.
struct Monitors {
  int count = 0;
  const AudioEndpoint* last = nullptr;
  int namedCount = 0;
  const AudioEndpoint* named = nullptr;
};

Monitors monitorsAmong(const std::vector<AudioEndpoint>& inputs, const AudioEndpoint& output) {
  const std::wstring ownName = L"Monitor of " + output.name;
  Monitors monitors;
  for (const AudioEndpoint& input : inputs) {
    if (input.formFactor != kLineLevel)
      continue;
    ++monitors.count;
    monitors.last = &input;
    if (input.name == ownName) {
      ++monitors.namedCount;
      monitors.named = &input;
    }
  }
  return monitors;
}

} // namespace

const AudioEndpoint* chooseOutputMonitor(const AudioEndpoints& endpoints, const char*& doubt) {
  doubt = "the audio layer is not Wine's PulseAudio driver";
  if (endpoints.driver != kPulseDriver)
    return nullptr;
  doubt = "no default output";
  const AudioEndpoint* output = findById(endpoints.outputs, endpoints.defaultOutput);
  if (!output)
    return nullptr;
  const Monitors monitors = monitorsAmong(endpoints.inputs, *output);
  doubt = "no monitor of an output";
  if (monitors.count == 0)
    return nullptr;
  // The default output is one sink, and its name leads to one monitor.
  const auto outputsNamedAlike =
      std::count_if(endpoints.outputs.begin(), endpoints.outputs.end(),
                    [&](const AudioEndpoint& other) { return other.name == output->name; });
  if (outputsNamedAlike == 1 && monitors.namedCount == 1)
    return monitors.named;
  // One sink (beside the endpoint that follows the server's default sink):
  // every output plays into it.
  if (monitors.count == 1 && endpoints.outputs.size() <= 2)
    return monitors.last;
  doubt = "several outputs, and none tells which monitor is the default output's";
  return nullptr;
}
