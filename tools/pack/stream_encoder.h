// The compressed stream of one entry, or of a run of entries in a solid
// archive. The encoder keeps the same state the decoder will hold at each
// point (tables, recent distances, audio predictors, window contents), so
// every symbol it picks decodes to the bytes it stands for.
#pragma once

#include "archive/audio_predictor.h"
#include "bit_writer.h"
#include "match_coding.h"
#include "match_finder.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace pack {

// How an entry is coded. `Automatic` tries LZ and audio mode with one to four
// channels and keeps the smallest result.
struct EntryCoding {
  enum class Kind { Lz, Audio, Automatic };
  Kind kind = Kind::Lz;
  int channels = 1; // audio mode only, 1..4
};

struct EncoderEffort {
  MatchFinderEffort matchFinder;
  int lazySteps;         // positions looked ahead before committing to a match
  uint32_t blockSymbols; // symbols per candidate block when planning table switches
};

EncoderEffort fastEffort();
EncoderEffort bestEffort();

// Code lengths of one table set as the decoder stores them: LZ mode uses the
// first 374 (literal, distance, length tables), audio mode 257 per channel;
// the rest stay 0.
using CodeLengths = std::array<uint8_t, kMaxTableLengths>;

// One symbol of the stream: its index in the table set's length array and the
// extra bits that follow its code.
struct CodedSymbol {
  uint16_t index;
  uint8_t extraBits;
  uint32_t extraValue;
};

// Everything the decoder carries from one symbol to the next, apart from the
// window contents (which the match finder holds).
struct StreamState {
  bool started = false; // a table set has been written
  bool audio = false;
  int channels = 1;
  CodeLengths lengths{}; // the table set in effect, also the base of the next one
  std::array<uint32_t, 4> recentDistances{};
  uint32_t recentCounter = 0;
  uint32_t lastDistance = 0;
  uint32_t lastLength = 0;
  std::array<AudioChannel, 4> channelStates{};
  int currentChannel = 0;
  int32_t channelDelta = 0;
};

class StreamEncoder {
public:
  explicit StreamEncoder(EncoderEffort effort);

  // Compresses the next entry of the stream and returns its packed bytes, a
  // multiple of `blockSize` bytes long (16 when the entry is enciphered).
  // `progress` is called now and then with the count of input bytes done.
  std::vector<uint8_t> encodeEntry(std::span<const uint8_t> data, EntryCoding coding,
                                   uint32_t blockSize,
                                   const std::function<void(uint64_t)>& progress = {});

private:
  struct Trial {
    BitWriter out;
    StreamState state;
  };

  void encodeLz(uint32_t begin, uint32_t end, BitWriter& out,
                const std::function<void(uint64_t)>& progress);
  void encodeAudio(uint32_t begin, uint32_t end, int channels, BitWriter& out);

  // Match choice at one position.
  struct Candidate {
    uint32_t length = 0;
    uint32_t distance = 0;
    int gain = 0; // bits saved against literals; 0 means take a literal
  };
  Candidate bestCandidate(uint32_t pos, uint32_t maxLength) const;
  void emitLiteral(uint8_t byte);
  void emitMatch(uint32_t length, uint32_t distance);

  // Block planning: symbols gather into chunks; a chunk joins the open block
  // when one table set for both costs less than a table switch between them.
  void startBlocks(bool audio, int channels, BitWriter& out);
  void addSymbol(CodedSymbol symbol);
  void endToken();
  uint64_t blockCost(const std::vector<uint32_t>& frequencies) const;
  void considerChunk();
  void flushBlocks();
  void writeBlock(std::span<const CodedSymbol> symbols, const std::vector<uint32_t>& frequencies);
  void restoreState(const StreamState& state);

  void writeSafeSymbol(BitWriter& out) const;
  void finishEntry(BitWriter& out, uint32_t blockSize, bool empty);

  EncoderEffort effort;
  MatchFinder matcher;
  StreamState state;

  std::array<uint16_t, kMaxTableLengths> codes{}; // codes of the table set in effect

  // The blocks being gathered: their mode, the writer they go to, and the
  // decoder's current channel where the next block starts.
  BitWriter* blockOut = nullptr;
  bool blockAudio = false;
  int blockChannels = 1;
  int switchChannel = 0;
  std::vector<CodedSymbol> pending; // the open block, then the newest chunk
  size_t openBlockSize = 0;
  uint64_t openBlockCost = 0;
  std::vector<uint32_t> openFrequencies;
  std::vector<uint32_t> chunkFrequencies;
};

// Writes a table set: mode bits, the code of the code lengths, then the
// lengths themselves, delta-coded against `previous` or against zeros,
// whichever is shorter.
void writeTableSet(BitWriter& out, bool audio, int channels, const CodeLengths& lengths,
                   const CodeLengths& previous);

// Code lengths for the tables of one mode from symbol frequencies. Every
// table that can switch tables keeps its switch symbol codable.
CodeLengths buildTableSet(bool audio, int channels, const std::vector<uint32_t>& frequencies);

} // namespace pack
