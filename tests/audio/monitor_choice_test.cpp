// Which input the listener records under Wine, over endpoints as Wine 8's
// PulseAudio driver described them on PulseAudio and on PipeWire: a sink's
// monitor is known by its form factor, never by a name that a microphone (a
// null source here) can carry too; when the default output's own monitor
// cannot be told, nothing is recorded.
#include "audio/dsound/monitor_choice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr std::uint32_t kSpeakers = 1;
constexpr std::uint32_t kLineLevel = 2;
constexpr std::uint32_t kMicrophone = 4;

// The endpoints that follow the server's default sink and source.
const AudioEndpoint kServerOutput{L"{0.0.0.00000000}.{FD47D9CC-4218-4135-9CE2-0C195C87405B}",
                                  L"PulseAudio", kSpeakers};
const AudioEndpoint kServerInput{L"{0.0.1.00000000}.{25DA76D0-033C-4235-9002-19F48894AC6F}",
                                 L"PulseAudio", kMicrophone};

AudioEndpoint output(const wchar_t* id, const wchar_t* name) {
  return {std::wstring(L"{0.0.0.00000000}.{") + id + L"}", name, kSpeakers};
}

AudioEndpoint input(const wchar_t* id, const wchar_t* name, std::uint32_t formFactor) {
  return {std::wstring(L"{0.0.1.00000000}.{") + id + L"}", name, formFactor};
}

// PulseAudio with one null sink, as the tests run it, and Wine's default
// output following the server's default sink.
AudioEndpoints oneNullSink() {
  AudioEndpoints endpoints;
  endpoints.driver = L"winepulse.drv";
  endpoints.defaultOutput = kServerOutput.id;
  endpoints.outputs = {kServerOutput, output(L"0C1B7A33", L"Null Output")};
  endpoints.inputs = {kServerInput, input(L"BB7171E2", L"Monitor of Null Output", kLineLevel)};
  return endpoints;
}

std::wstring chosen(const AudioEndpoints& endpoints) {
  const char* doubt = "";
  const AudioEndpoint* monitor = chooseOutputMonitor(endpoints, doubt);
  return monitor ? monitor->name
                 : std::wstring(L"none: ") + std::wstring(doubt, doubt + std::strlen(doubt));
}

TEST(MonitorChoice, MicrophonesNamedLikeMonitorsAreNotRecorded) {
  // A microphone named for Wine's default output.
  AudioEndpoints endpoints = oneNullSink();
  endpoints.inputs.push_back(input(L"A8E4BA16", L"Monitor of PulseAudio", kMicrophone));
  EXPECT_EQ(chosen(endpoints), L"Monitor of Null Output");
  // One named exactly as the sink's monitor is.
  endpoints.inputs.push_back(input(L"5FD59A93", L"Monitor of Null Output", kMicrophone));
  EXPECT_EQ(chosen(endpoints), L"Monitor of Null Output");
  // A server with no sink: only the microphones remain.
  endpoints.outputs = {kServerOutput};
  endpoints.inputs.erase(endpoints.inputs.begin() + 1);
  EXPECT_EQ(chosen(endpoints), L"none: no monitor of an output");
}

TEST(MonitorChoice, TheOnlySinksMonitorWhateverItIsCalled) {
  // PulseAudio's tunnel to another server describes its monitor otherwise.
  AudioEndpoints endpoints = oneNullSink();
  endpoints.outputs[1] = output(L"AD6BFE27", L"Null Output on root@vm");
  endpoints.inputs = {kServerInput,
                      input(L"1B707724", L"Monitor Source of Null Output on root@vm", kLineLevel),
                      input(L"5CCF5CFB", L"Monitor of PulseAudio", kMicrophone)};
  EXPECT_EQ(chosen(endpoints), L"Monitor Source of Null Output on root@vm");
  // The same with the sink chosen as Wine's default output.
  endpoints.defaultOutput = endpoints.outputs[1].id;
  EXPECT_EQ(chosen(endpoints), L"Monitor Source of Null Output on root@vm");
}

// PipeWire's PulseAudio server with two null sinks.
AudioEndpoints twoPipeWireSinks() {
  AudioEndpoints endpoints;
  endpoints.driver = L"winepulse.drv";
  endpoints.defaultOutput = kServerOutput.id;
  endpoints.outputs = {output(L"0C1B7A33", L"null Audio/Sink sink"), kServerOutput,
                       output(L"5F03973F", L"other Audio/Sink sink")};
  endpoints.inputs = {kServerInput,
                      input(L"BB7171E2", L"Monitor of null Audio/Sink sink", kLineLevel),
                      input(L"280A6575", L"Monitor of other Audio/Sink sink", kLineLevel)};
  return endpoints;
}

TEST(MonitorChoice, SeveralSinksNeedTheDefaultOutputsOwnMonitor) {
  AudioEndpoints endpoints = twoPipeWireSinks();
  // Which sink the server's default is, Wine does not tell.
  EXPECT_EQ(chosen(endpoints),
            L"none: several outputs, and none tells which monitor is the default output's");
  // A sink chosen as Wine's default output.
  endpoints.defaultOutput = endpoints.outputs[2].id;
  EXPECT_EQ(chosen(endpoints), L"Monitor of other Audio/Sink sink");
  // Two sinks described alike: either monitor could be the default output's.
  endpoints.outputs[0].name = endpoints.outputs[2].name;
  endpoints.inputs[1].name = endpoints.inputs[2].name;
  EXPECT_EQ(chosen(endpoints),
            L"none: several outputs, and none tells which monitor is the default output's");
}

TEST(MonitorChoice, ASinkDescribedAsTheServersDefaultIsNotTakenForIt) {
  AudioEndpoints endpoints = twoPipeWireSinks();
  endpoints.outputs[0].name = L"PulseAudio";
  endpoints.inputs[1].name = L"Monitor of PulseAudio";
  EXPECT_EQ(chosen(endpoints),
            L"none: several outputs, and none tells which monitor is the default output's");
}

TEST(MonitorChoice, OnlyWinesPulseAudioDriverMarksMonitorsSo) {
  AudioEndpoints endpoints = oneNullSink();
  endpoints.driver = L"winealsa.drv";
  EXPECT_EQ(chosen(endpoints), L"none: the audio layer is not Wine's PulseAudio driver");
  endpoints.driver.clear(); // Windows itself: no "Wine info device"
  EXPECT_EQ(chosen(endpoints), L"none: the audio layer is not Wine's PulseAudio driver");
  endpoints = oneNullSink();
  endpoints.defaultOutput.clear();
  EXPECT_EQ(chosen(endpoints), L"none: no default output");
}

} // namespace
