#include "song.h"

#include "effects.h"
#include "instruments.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace assets_gen {

int64_t beatToSample(double beat) {
  return secondsToSamples(beat * kBeatSeconds);
}

namespace {

constexpr int kStepsPerBeat = 4;
constexpr int kBeatsPerBar = 4;
constexpr int kStepsPerBar = kStepsPerBeat * kBeatsPerBar;
constexpr double kStepSeconds = kBeatSeconds / kStepsPerBeat;

struct Chord {
  float bassRoot;             // MIDI note of the bass, low register
  std::array<float, 3> tones; // pad voicing around middle C
};

// A minor, F, C, G: the loop the whole piece is built on, voiced so that
// each chord moves as little as possible from the one before.
constexpr std::array<Chord, 4> kProgression = {{
    {33, {57, 60, 64}},
    {29, {57, 60, 65}},
    {36, {55, 60, 64}},
    {31, {55, 59, 62}},
}};

// One stretch of the arrangement. Patterns hold one bar of sixteenth notes:
// drums use 'x' (hit) and 'X' (accent), hats add 'o' (open hat), the bass
// uses 'r' (root), 'o' (octave up) and '-' (hold the previous note); '.'
// is silence. An empty pattern leaves the instrument out.
struct Section {
  int firstBeat;
  int endBeat;
  int beatsPerChord;
  std::string_view kick;
  std::string_view snare;
  std::string_view hats;
  std::string_view bass;
  float padCutoffHz;
  float hatLevel;
};

constexpr std::array<Section, 6> kSections = {{
    // Intro: pads and plucks alone, then soft ticks and a held bass.
    {0, 16, 8, "", "", "", "", 600.0f, 0.0f},
    {16, kGrooveBeat, 8, "", "", "....x.......x...", "r---------------", 900.0f, 0.5f},
    // First groove: half-time drums, a syncopated bass.
    {kGrooveBeat, kDriveBeat, 8, "X.....x...x.....", "....x.......x...", "x.x.x.x.x.x.x.x.",
     "r..rr.o.r..ro.o.", 1400.0f, 0.8f},
    // Second part: four to the floor, sixteenth hats and bass, chords twice as fast.
    {kDriveBeat, kFinaleBeat, 4, "X...X...X...X..x", "....X.......X.X.", "XxoxXxoxXxoxXxox",
     "rrorrrorrrorroro", 2400.0f, 1.0f},
    // Finale: broad half-time beat under the flashing credits.
    {kFinaleBeat, kEndingBeat, 8, "X.........x.....", "........X.......", "", "r.......r.....o.",
     1800.0f, 0.0f},
    // Ending: one last chord rings out.
    {kEndingBeat, kSongBeats, 8, "X...............", "", "", "", 1200.0f, 0.0f},
}};

// The sections follow one another in whole bars, and every pattern is
// exactly one bar long, so the players below never index past a pattern.
constexpr bool sectionsAreWholeBars() {
  int expectedStart = 0;
  for (const Section& section : kSections) {
    if (section.firstBeat != expectedStart || (section.endBeat - section.firstBeat) % kBeatsPerBar)
      return false;
    for (std::string_view pattern : {section.kick, section.snare, section.hats, section.bass})
      if (!pattern.empty() && pattern.size() != kStepsPerBar)
        return false;
    expectedStart = section.endBeat;
  }
  return expectedStart == kSongBeats;
}
static_assert(sectionsAreWholeBars());

struct MelodyNote {
  float beat;   // from the start of the phrase
  float length; // in beats
  float note;   // MIDI
};

// The lead tune, one phrase over the four chords at eight beats each.
constexpr auto kMelody = std::to_array<MelodyNote>({
    {0, 1.5f, 76}, {1.5f, 0.5f, 74}, {2, 1, 72},        {3, 1, 69},        {4, 1, 72},  {5, 1, 74},
    {6, 2, 76},    {8, 1.5f, 77},    {9.5f, 0.5f, 76},  {10, 1, 72},       {11, 1, 69}, {12, 2, 72},
    {14, 2, 69},   {16, 1.5f, 79},   {17.5f, 0.5f, 76}, {18, 1, 72},       {19, 1, 76}, {20, 1, 79},
    {21, 1, 81},   {22, 2, 79},      {24, 1.5f, 74},    {25.5f, 0.5f, 71}, {26, 1, 67}, {27, 1, 71},
    {28, 1, 74},   {29, 1, 76},      {30, 1, 74},       {31, 1, 72},
});
constexpr float kMelodyPhraseBeats = 32.0f;

// Chord-tone order of the eighth-note riff in the second part; 3 is the
// root an octave up.
constexpr std::array<int, 8> kRiffOrder = {0, 2, 1, 2, 3, 2, 1, 2};
// Chord-tone order of the pluck arpeggio.
constexpr std::array<int, 8> kArpeggioOrder = {0, 1, 2, 3, 2, 1, 2, 1};

const Chord& chordAt(double beat, int beatsPerChord) {
  size_t index = static_cast<size_t>(beat / beatsPerChord) % kProgression.size();
  return kProgression[index];
}

float chordTone(const Chord& chord, int order) {
  return order < 3 ? chord.tones[order] : chord.tones[0] + 12.0f;
}

// The mix is built on separate buses so that each gets its own effects.
struct Buses {
  explicit Buses(int64_t frames) : drums(frames), bass(frames), music(frames), lead(frames) {}
  StereoBuffer drums, bass, music, lead;
};

float stepVelocity(char symbol) {
  return symbol == 'X' ? 1.0f : 0.7f;
}

void playDrums(const Section& section, Buses& buses, Noise& noise) {
  const std::vector<float> kickVoice = kick();
  for (int beat = section.firstBeat; beat < section.endBeat; beat += kBeatsPerBar) {
    for (int step = 0; step < kStepsPerBar; ++step) {
      int64_t at = beatToSample(beat + step / static_cast<double>(kStepsPerBeat));
      auto symbolAt = [step](std::string_view pattern) {
        return pattern.empty() ? '.' : pattern[static_cast<size_t>(step)];
      };
      if (char k = symbolAt(section.kick); k != '.')
        buses.drums.addMono(at, kickVoice, 0.85f * stepVelocity(k), 0.0f);
      if (char s = symbolAt(section.snare); s != '.')
        buses.drums.addMono(at, snare(noise), 0.5f * stepVelocity(s), 0.05f);
      char h = symbolAt(section.hats);
      // Off-beat sixteenths are played softer, which gives the hats a pulse.
      float hatLevel = section.hatLevel * (step % 2 == 0 ? 0.2f : 0.13f);
      if (h == 'x' || h == 'X')
        buses.drums.addMono(at, closedHat(noise), hatLevel * stepVelocity(h), 0.35f);
      else if (h == 'o')
        buses.drums.addMono(at, openHat(noise), hatLevel * 0.9f, -0.3f);
    }
  }
}

void playBass(const Section& section, Buses& buses) {
  const std::string_view pattern = section.bass;
  if (pattern.empty())
    return;
  for (int beat = section.firstBeat; beat < section.endBeat; beat += kBeatsPerBar) {
    for (size_t step = 0; step < pattern.size(); ++step) {
      if (pattern[step] != 'r' && pattern[step] != 'o')
        continue;
      size_t held = 1;
      while (step + held < pattern.size() && pattern[step + held] == '-')
        ++held;
      double onset = beat + static_cast<double>(step) / kStepsPerBeat;
      float note = chordAt(onset, section.beatsPerChord).bassRoot;
      if (pattern[step] == 'o')
        note += 12.0f;
      float seconds = static_cast<float>(held * kStepSeconds * 0.85);
      buses.bass.addMono(beatToSample(onset), bassNote(note, seconds), 0.42f, 0.0f);
    }
  }
}

void playPads(const Section& section, Buses& buses, float level) {
  constexpr std::array<float, 3> kPans = {-0.55f, 0.1f, 0.6f};
  for (int beat = section.firstBeat; beat < section.endBeat; beat += section.beatsPerChord) {
    const Chord& chord = chordAt(beat, section.beatsPerChord);
    int chordBeats = std::min(section.beatsPerChord, section.endBeat - beat);
    float seconds = static_cast<float>(chordBeats * kBeatSeconds) - 0.05f;
    for (size_t i = 0; i < chord.tones.size(); ++i)
      buses.music.addMono(beatToSample(beat), padNote(chord.tones[i], seconds, section.padCutoffHz),
                          level, kPans[i]);
  }
}

// Eighth-note arpeggio two octaves up, brightening through the section.
void playPlucks(int firstBeat, int endBeat, int beatsPerChord, Buses& buses) {
  for (int eighth = firstBeat * 2; eighth < endBeat * 2; ++eighth) {
    double beat = eighth / 2.0;
    const Chord& chord = chordAt(beat, beatsPerChord);
    float note = chordTone(chord, kArpeggioOrder[static_cast<size_t>(eighth) % 8]) + 12.0f;
    float brightness = 0.3f + 0.7f * static_cast<float>((beat - firstBeat) / (endBeat - firstBeat));
    float pan = eighth % 2 == 0 ? -0.4f : 0.4f;
    buses.music.addMono(beatToSample(beat), pluckNote(note, brightness), 0.11f, pan);
  }
}

void playMelody(int firstBeat, int endBeat, float transpose, Buses& buses) {
  for (double phrase = firstBeat; phrase < endBeat; phrase += kMelodyPhraseBeats) {
    for (const MelodyNote& note : kMelody) {
      float seconds = static_cast<float>(note.length * kBeatSeconds * 0.9);
      buses.lead.addMono(beatToSample(phrase + note.beat), leadNote(note.note + transpose, seconds),
                         0.2f, 0.0f);
    }
  }
}

// The fast riff of the second part: chord tones in eighth notes.
void playRiff(const Section& section, Buses& buses) {
  for (int eighth = section.firstBeat * 2; eighth < section.endBeat * 2; ++eighth) {
    double beat = eighth / 2.0;
    const Chord& chord = chordAt(beat, section.beatsPerChord);
    float note = chordTone(chord, kRiffOrder[static_cast<size_t>(eighth) % 8]) + 12.0f;
    float seconds = static_cast<float>(kBeatSeconds * 0.4);
    buses.lead.addMono(beatToSample(beat), leadNote(note, seconds), 0.17f, 0.0f);
  }
}

// Chord stabs on every sixteenth of the second half of each bar: exactly
// the half bars in which the credits flash, four times per beat.
void playStabs(const Section& section, Buses& buses) {
  for (int beat = section.firstBeat; beat < section.endBeat; beat += kBeatsPerBar) {
    for (int step = kStepsPerBar / 2; step < kStepsPerBar; ++step) {
      double onset = beat + static_cast<double>(step) / kStepsPerBeat;
      const Chord& chord = chordAt(onset, section.beatsPerChord);
      std::vector<float> notes(chord.tones.begin(), chord.tones.end());
      for (float& note : notes)
        note += 12.0f;
      float accent = step % kStepsPerBeat == 0 ? 1.0f : 0.6f;
      buses.music.addMono(beatToSample(onset), chordStab(notes), 0.5f * accent,
                          step % 2 == 0 ? -0.3f : 0.3f);
    }
  }
}

// The final chord: A minor with an added ninth, held and released.
void playFinalChord(Buses& buses) {
  constexpr std::array<float, 6> kNotes = {45, 52, 57, 60, 64, 71};
  float seconds = static_cast<float>((kSongBeats - kEndingBeat - 2) * kBeatSeconds);
  buses.bass.addMono(beatToSample(kEndingBeat), bassNote(33, seconds), 0.42f, 0.0f);
  for (size_t i = 0; i < kNotes.size(); ++i) {
    float pan = -0.6f + 1.2f * static_cast<float>(i) / (kNotes.size() - 1);
    buses.music.addMono(beatToSample(kEndingBeat), padNote(kNotes[i], seconds, 1500.0f), 0.12f,
                        pan);
  }
}

void playTransitions(Buses& buses, Noise& noise) {
  for (int beat : {kGrooveBeat, kDriveBeat, kFinaleBeat, kEndingBeat})
    buses.drums.addMono(beatToSample(beat), crash(noise), 0.28f, -0.2f);
  for (int beat : {kGrooveBeat, kDriveBeat, kFinaleBeat}) {
    constexpr int kRiserBeats = 8;
    float seconds = static_cast<float>(kRiserBeats * kBeatSeconds);
    buses.music.addMono(beatToSample(beat - kRiserBeats), riser(noise, seconds), 0.3f, 0.0f);
  }
}

void arrange(Buses& buses, Noise& noise) {
  for (const Section& section : kSections) {
    playDrums(section, buses, noise);
    playBass(section, buses);
    if (section.firstBeat < kEndingBeat)
      playPads(section, buses, section.firstBeat < kGrooveBeat ? 0.16f : 0.12f);
  }
  const Section& intro = kSections[0];
  const Section& groove = kSections[2];
  const Section& drive = kSections[3];
  const Section& finale = kSections[4];
  playPlucks(intro.firstBeat + 8, kGrooveBeat, intro.beatsPerChord, buses);
  playPlucks(groove.firstBeat, groove.endBeat, groove.beatsPerChord, buses);
  playMelody(64, kDriveBeat, 0.0f, buses);
  playRiff(drive, buses);
  playPlucks(drive.firstBeat, drive.endBeat, drive.beatsPerChord, buses);
  playStabs(finale, buses);
  playMelody(kFinaleBeat, kEndingBeat, 0.0f, buses);
  playFinalChord(buses);
  playTransitions(buses, noise);
}

// A high-pass at about 20 Hz removes any offset, gentle saturation tames
// the peaks, then one gain puts the loudest sample at -1 dBFS.
void master(StereoBuffer& mix) {
  constexpr float kDcPole = 0.9972f;
  float peak = 0.0f;
  for (std::vector<float>* channel : {&mix.left, &mix.right}) {
    float previousIn = 0.0f, previousOut = 0.0f;
    for (float& sample : *channel) {
      float blocked = sample - previousIn + kDcPole * previousOut;
      previousIn = sample;
      previousOut = blocked;
      sample = std::tanh(blocked);
      peak = std::max(peak, std::abs(sample));
    }
  }
  if (peak <= 0.0f)
    return;
  float gain = 0.891f / peak;
  for (std::vector<float>* channel : {&mix.left, &mix.right})
    for (float& sample : *channel)
      sample *= gain;
}

} // namespace

StereoBuffer renderSong() {
  int64_t frames = beatToSample(kSongBeats) + secondsToSamples(kTailSeconds);
  Buses buses(frames);
  Noise noise(0x6b656c76u);
  arrange(buses, noise);

  StereoBuffer mix(frames);
  mix.addStereo(buses.drums, 1.0f);
  mix.addStereo(buses.bass, 1.0f);
  mix.addStereo(buses.music, 1.0f);
  mix.addStereo(buses.lead, 1.0f);

  StereoBuffer echoes = pingPongDelay(buses.lead, static_cast<float>(kBeatSeconds * 0.75), 0.4f);
  mix.addStereo(echoes, 0.35f);
  StereoBuffer send(frames);
  send.addStereo(buses.music, 1.0f);
  send.addStereo(buses.lead, 1.0f);
  send.addStereo(echoes, 0.5f);
  send.addStereo(buses.drums, 0.15f);
  mix.addStereo(reverb(send, 0.84f, 0.35f), 0.35f);

  master(mix);
  return mix;
}

} // namespace assets_gen
