#include "stream_encoder.h"

#include "huffman.h"

#include <algorithm>
#include <limits>

namespace pack {

namespace {

constexpr uint64_t Unusable = std::numeric_limits<uint64_t>::max();
// Rough cost of a literal in bits, the yardstick match choices are measured with.
constexpr int LiteralBits = 8;
// Bits of padding after an entry's last symbol.
constexpr uint64_t TrailingBits = 16;

int lengthCountFor(bool audio, int channels) {
  return audio ? channels * AudioSymbols : LzLengthCount;
}

// The separate Huffman tables inside one table set: offset and symbol count.
struct TableRange {
  int offset;
  int count;
};

std::vector<TableRange> tablesOf(bool audio, int channels) {
  if (!audio)
    return {{LiteralTableOffset, LiteralSymbols},
            {DistanceTableOffset, DistanceSymbols},
            {LengthTableOffset, LengthSymbols}};
  std::vector<TableRange> tables;
  for (int channel = 0; channel < channels; ++channel)
    tables.push_back({channel * AudioSymbols, AudioSymbols});
  return tables;
}

uint64_t symbolBits(const std::vector<uint32_t>& frequencies, const CodeLengths& lengths) {
  uint64_t bits = 0;
  for (size_t i = 0; i < frequencies.size(); ++i) {
    if (frequencies[i] == 0)
      continue;
    if (lengths[i] == 0)
      return Unusable;
    bits += uint64_t{frequencies[i]} * lengths[i];
  }
  return bits;
}

std::array<uint16_t, MaxLengthCount> codesOf(const CodeLengths& lengths, bool audio, int channels) {
  std::array<uint16_t, MaxLengthCount> codes{};
  for (const TableRange& table : tablesOf(audio, channels)) {
    const auto tableCodes = canonicalCodes(std::span(lengths).subspan(table.offset, table.count));
    std::copy(tableCodes.begin(), tableCodes.end(), codes.begin() + table.offset);
  }
  return codes;
}

// --- Table sets --------------------------------------------------------------

// Symbols of the code-length alphabet: 0..15 a length delta, 16 repeats the
// previous length 3..6 times, 17 writes 3..10 zeros, 18 writes 11..138 zeros.
struct LengthCode {
  uint8_t symbol;
  uint8_t extraBits;
  uint8_t extraValue;
};

constexpr int RepeatPrevious = 16;
constexpr int ShortZeroRun = 17;
constexpr int LongZeroRun = 18;

uint8_t deltaSymbol(uint8_t target, uint8_t base) {
  return (target - base) & 15;
}

// Chooses, position by position, between a delta symbol and the runs, by the
// bit costs of the code-length alphabet given.
std::vector<LengthCode> planLengthCodes(std::span<const uint8_t> target,
                                        std::span<const uint8_t> base,
                                        const std::array<int, BitLengthSymbols>& cost) {
  const size_t count = target.size();
  const auto deltaCost = [&](size_t from, size_t n) {
    int bits = 0;
    for (size_t j = from; j < from + n; ++j)
      bits += cost[deltaSymbol(target[j], base[j])];
    return bits;
  };
  const auto runOf = [&](size_t from, uint8_t value, size_t limit) {
    size_t n = 0;
    while (from + n < count && n < limit && target[from + n] == value)
      ++n;
    return n;
  };

  std::vector<LengthCode> codes;
  size_t i = 0;
  while (i < count) {
    LengthCode choice{deltaSymbol(target[i], base[i]), 0, 0};
    size_t covered = 1;
    int bestSaving = 0;
    const auto consider = [&](int symbol, int extraBits, size_t runLength, size_t minimum) {
      if (runLength < minimum)
        return;
      const int saving = deltaCost(i, runLength) - (cost[symbol] + extraBits);
      if (saving > bestSaving) {
        bestSaving = saving;
        choice = {static_cast<uint8_t>(symbol), static_cast<uint8_t>(extraBits),
                  static_cast<uint8_t>(runLength - minimum)};
        covered = runLength;
      }
    };
    if (target[i] == 0) {
      consider(LongZeroRun, 7, runOf(i, 0, 138), 11);
      consider(ShortZeroRun, 3, runOf(i, 0, 10), 3);
    }
    if (i > 0)
      consider(RepeatPrevious, 2, runOf(i, target[i - 1], 6), 3);
    codes.push_back(choice);
    i += covered;
  }
  return codes;
}

std::vector<uint8_t> lengthsWithTwoSymbols(std::vector<uint32_t> frequencies) {
  // A table with a single code is not a complete prefix code; give it a partner.
  const auto used =
      std::count_if(frequencies.begin(), frequencies.end(), [](uint32_t f) { return f > 0; });
  if (used == 1)
    frequencies[frequencies[0] == 0 ? 0 : 1] = 1;
  return limitedCodeLengths(frequencies, MaxCodeLength);
}

struct LengthEncoding {
  std::array<uint8_t, BitLengthSymbols> bitLengths{};
  std::vector<LengthCode> codes;
  uint64_t bits = 0;
};

LengthEncoding encodeLengths(std::span<const uint8_t> target, std::span<const uint8_t> base) {
  std::array<int, BitLengthSymbols> cost;
  cost.fill(4);
  LengthEncoding encoding;
  // Plans and code lengths refine each other; a few rounds settle them.
  for (int round = 0; round < 3; ++round) {
    encoding.codes = planLengthCodes(target, base, cost);
    std::vector<uint32_t> frequencies(BitLengthSymbols, 0);
    for (const LengthCode& code : encoding.codes)
      ++frequencies[code.symbol];
    const auto lengths = lengthsWithTwoSymbols(frequencies);
    std::copy(lengths.begin(), lengths.end(), encoding.bitLengths.begin());
    for (int s = 0; s < BitLengthSymbols; ++s)
      cost[s] = lengths[s] > 0 ? lengths[s] : 16;
  }
  encoding.bits = BitLengthSymbols * 4;
  for (const LengthCode& code : encoding.codes)
    encoding.bits += encoding.bitLengths[code.symbol] + code.extraBits;
  return encoding;
}

uint64_t tableSetBits(bool audio, int channels, const CodeLengths& lengths,
                      const CodeLengths& previous) {
  BitWriter scratch;
  writeTableSet(scratch, audio, channels, lengths, previous);
  return scratch.bitCount();
}

// --- Match costs ---------------------------------------------------------------

int newMatchCost(uint32_t length, uint32_t distance) {
  if (length == 2 && distance <= 256)
    return 6 + shortDistanceSlot(distance).extraBits;
  return 7 + lengthSlot(length - 3 - newMatchBonus(distance)).extraBits + 5 +
         distanceSlot(distance).extraBits;
}

int recentMatchCost(uint32_t length, uint32_t distance, int age) {
  return 6 + (age > 0 ? 1 : 0) + lengthSlot(length - 2 - recentMatchBonus(distance)).extraBits;
}

constexpr int RepeatLastCost = 3;

} // namespace

EncoderEffort fastEffort() {
  return {{8, 32}, 1, 16384};
}
EncoderEffort bestEffort() {
  return {{256, MaxMatchLength}, 2, 4096};
}

void writeTableSet(BitWriter& out, bool audio, int channels, const CodeLengths& lengths,
                   const CodeLengths& previous) {
  const int count = lengthCountFor(audio, channels);
  const std::span<const uint8_t> target(lengths.data(), count);
  const CodeLengths zeros{};
  const LengthEncoding delta = encodeLengths(target, std::span(previous.data(), count));
  const LengthEncoding fresh = encodeLengths(target, std::span(zeros.data(), count));
  const bool keepPrevious = delta.bits < fresh.bits;
  const LengthEncoding& chosen = keepPrevious ? delta : fresh;

  out.write(audio ? 1 : 0, 1);
  out.write(keepPrevious ? 1 : 0, 1);
  if (audio)
    out.write(static_cast<uint32_t>(channels - 1), 2);
  for (uint8_t length : chosen.bitLengths)
    out.write(length, 4);
  const auto codes = canonicalCodes(chosen.bitLengths);
  for (const LengthCode& code : chosen.codes) {
    out.write(codes[code.symbol], chosen.bitLengths[code.symbol]);
    out.write(code.extraValue, code.extraBits);
  }
}

CodeLengths buildTableSet(bool audio, int channels, const std::vector<uint32_t>& frequencies) {
  CodeLengths lengths{};
  for (const TableRange& table : tablesOf(audio, channels)) {
    std::vector<uint32_t> tableFrequencies(frequencies.begin() + table.offset,
                                           frequencies.begin() + table.offset + table.count);
    // The switch symbol must stay codable for whatever comes next.
    if (audio)
      tableFrequencies[AudioTableSwitchSymbol] += 1;
    else if (table.offset == LiteralTableOffset)
      tableFrequencies[TableSwitchSymbol] += 1;
    const auto tableLengths = lengthsWithTwoSymbols(tableFrequencies);
    std::copy(tableLengths.begin(), tableLengths.end(), lengths.begin() + table.offset);
  }
  return lengths;
}

StreamEncoder::StreamEncoder(EncoderEffort effort)
    : effort_(effort), matcher_(effort.matchFinder) {}

std::vector<uint8_t> StreamEncoder::encodeEntry(std::span<const uint8_t> data, EntryCoding coding,
                                                uint32_t blockSize,
                                                const std::function<void(uint64_t)>& progress) {
  const uint32_t begin = matcher_.append(data);
  const uint32_t end = begin + static_cast<uint32_t>(data.size());
  BitWriter out;
  switch (coding.kind) {
  case EntryCoding::Kind::Lz:
    encodeLz(begin, end, out, progress);
    break;
  case EntryCoding::Kind::Audio:
    encodeAudio(begin, end, coding.channels, out);
    for (uint32_t pos = begin; pos < end; ++pos)
      matcher_.insert(pos);
    break;
  case EntryCoding::Kind::Automatic: {
    const StreamState before = state_;
    Trial best;
    encodeLz(begin, end, best.out, progress);
    best.state = state_;
    for (int channels = 1; channels <= 4; ++channels) {
      restoreState(before);
      Trial trial;
      encodeAudio(begin, end, channels, trial.out);
      trial.state = state_;
      if (trial.out.bitCount() < best.out.bitCount())
        best = std::move(trial);
    }
    restoreState(best.state);
    out = std::move(best.out);
    break;
  }
  }
  finishEntry(out, blockSize, data.empty());
  return std::move(out.bytes());
}

void StreamEncoder::restoreState(const StreamState& state) {
  state_ = state;
  codes_ = codesOf(state_.lengths, state_.audio, state_.channels);
}

// --- LZ mode -------------------------------------------------------------------

StreamEncoder::Candidate StreamEncoder::bestCandidate(uint32_t pos, uint32_t maxLength) const {
  Candidate best;
  if (maxLength < 2)
    return best;
  const auto consider = [&](uint32_t length, uint32_t distance, int cost) {
    const int gain = static_cast<int>(length) * LiteralBits - cost;
    if (gain > best.gain)
      best = {length, distance, gain};
  };

  const Match match = matcher_.longestMatch(pos, maxLength);
  if (match.length > 0)
    consider(match.length, match.distance, newMatchCost(match.length, match.distance));

  for (int age = 0; age < 4; ++age) {
    const uint32_t distance = state_.recentDistances[(state_.recentCounter - 1 - age) & 3];
    if (distance == 0 || distance > pos || distance > MaxDistance)
      continue;
    const uint32_t length = matcher_.matchLengthAt(pos, distance, maxLength);
    if (distance == state_.lastDistance && length >= state_.lastLength && state_.lastLength >= 2)
      consider(state_.lastLength, distance, RepeatLastCost);
    if (length >= 2 + recentMatchBonus(distance))
      consider(length, distance, recentMatchCost(length, distance, age));
  }
  return best;
}

void StreamEncoder::emitLiteral(uint8_t byte) {
  addSymbol({byte, 0, 0});
  endToken();
}

void StreamEncoder::emitMatch(uint32_t length, uint32_t distance) {
  StreamState& s = state_;
  int age = -1;
  for (int a = 0; a < 4 && age < 0; ++a)
    if (s.recentDistances[(s.recentCounter - 1 - a) & 3] == distance)
      age = a;
  const uint32_t recentBonus = recentMatchBonus(distance);

  if (distance == s.lastDistance && length == s.lastLength) {
    addSymbol({RepeatLastSymbol, 0, 0});
  } else if (age >= 0 && length >= 2 + recentBonus) {
    addSymbol({static_cast<uint16_t>(RecentDistanceSymbol + age), 0, 0});
    const Slot slot = lengthSlot(length - 2 - recentBonus);
    addSymbol({static_cast<uint16_t>(LengthTableOffset + slot.slot),
               static_cast<uint8_t>(slot.extraBits), slot.extraValue});
  } else if (length == 2 && distance <= 256) {
    const Slot slot = shortDistanceSlot(distance);
    addSymbol({static_cast<uint16_t>(ShortMatchSymbol + slot.slot),
               static_cast<uint8_t>(slot.extraBits), slot.extraValue});
  } else {
    const Slot slot = lengthSlot(length - 3 - newMatchBonus(distance));
    addSymbol({static_cast<uint16_t>(MatchLengthSymbol + slot.slot),
               static_cast<uint8_t>(slot.extraBits), slot.extraValue});
    const Slot distanceCode = distanceSlot(distance);
    addSymbol({static_cast<uint16_t>(DistanceTableOffset + distanceCode.slot),
               static_cast<uint8_t>(distanceCode.extraBits), distanceCode.extraValue});
  }
  // Every match, however coded, enters the recent distances.
  s.recentDistances[s.recentCounter & 3] = distance;
  s.recentCounter += 1;
  s.lastDistance = distance;
  s.lastLength = length;
  endToken();
}

void StreamEncoder::encodeLz(uint32_t begin, uint32_t end, BitWriter& out,
                             const std::function<void(uint64_t)>& progress) {
  startBlocks(false, 1, out);
  const uint8_t* bytes = matcher_.buffer();

  // Candidates found while looking ahead stay valid until a match changes the
  // recent distances.
  struct Cached {
    uint32_t pos = UINT32_MAX;
    Candidate candidate;
  };
  std::array<Cached, 4> cache;
  uint32_t inserted = begin; // positions below are in the match finder
  const auto insertUpTo = [&](uint32_t pos) {
    while (inserted < pos)
      matcher_.insert(inserted++);
  };
  const auto candidateAt = [&](uint32_t pos) {
    Cached& slot = cache[pos & 3];
    if (slot.pos != pos) {
      insertUpTo(pos);
      slot = {pos, bestCandidate(pos, std::min(MaxMatchLength, end - pos))};
    }
    return slot.candidate;
  };

  uint64_t nextReport = 1 << 20;
  uint32_t pos = begin;
  while (pos < end) {
    const Candidate current = candidateAt(pos);
    bool takeLiteral = current.gain <= 0;
    if (!takeLiteral && current.length < effort_.matchFinder.niceLength) {
      // Lazy evaluation: a literal now pays if a clearly better match starts
      // inside the current one.
      for (uint32_t step = 1; step <= static_cast<uint32_t>(effort_.lazySteps) &&
                              step < current.length && pos + step < end;
           ++step) {
        if (candidateAt(pos + step).gain > current.gain + 4 * static_cast<int>(step - 1)) {
          takeLiteral = true;
          break;
        }
      }
    }
    if (takeLiteral) {
      emitLiteral(bytes[pos]);
      insertUpTo(pos + 1);
      pos += 1;
    } else {
      emitMatch(current.length, current.distance);
      insertUpTo(pos + current.length);
      pos += current.length;
      for (Cached& slot : cache)
        slot.pos = UINT32_MAX;
    }
    if (progress && pos - begin >= nextReport) {
      progress(pos - begin);
      nextReport += 1 << 20;
    }
  }
  flushBlocks();
}

// --- Audio mode ----------------------------------------------------------------

void StreamEncoder::encodeAudio(uint32_t begin, uint32_t end, int channels, BitWriter& out) {
  // The decoder puts the current channel back to 0 when new tables have fewer
  // channels; such a switch is certain here unless nothing is written at all.
  const int channelBefore = state_.currentChannel;
  if ((begin < end || !state_.started) && state_.currentChannel >= channels)
    state_.currentChannel = 0;
  startBlocks(true, channels, out);
  switchChannel_ = channelBefore;
  const uint8_t* bytes = matcher_.buffer();
  for (uint32_t pos = begin; pos < end; ++pos) {
    const int channel = state_.currentChannel;
    const uint8_t delta =
        encodeAudioByte(state_.channelStates[channel], state_.channelDelta, bytes[pos]);
    addSymbol({static_cast<uint16_t>(channel * AudioSymbols + delta), 0, 0});
    endToken();
    state_.currentChannel = (channel + 1) % channels;
  }
  flushBlocks();
}

// --- Blocks and table switches -------------------------------------------------

void StreamEncoder::startBlocks(bool audio, int channels, BitWriter& out) {
  out_ = &out;
  blockAudio_ = audio;
  blockChannels_ = channels;
  switchChannel_ = state_.currentChannel;
  pending_.clear();
  openBlockSize_ = 0;
  const size_t count = static_cast<size_t>(lengthCountFor(audio, channels));
  openFrequencies_.assign(count, 0);
  chunkFrequencies_.assign(count, 0);
}

void StreamEncoder::addSymbol(CodedSymbol symbol) {
  pending_.push_back(symbol);
  ++chunkFrequencies_[symbol.index];
}

void StreamEncoder::endToken() {
  // Blocks end only between whole literals, matches or samples: a table
  // switch cannot sit between a match's length and distance.
  if (pending_.size() - openBlockSize_ >= effort_.blockSymbols)
    considerChunk();
}

uint64_t StreamEncoder::blockCost(const std::vector<uint32_t>& frequencies) const {
  const CodeLengths lengths = buildTableSet(blockAudio_, blockChannels_, frequencies);
  return tableSetBits(blockAudio_, blockChannels_, lengths, state_.lengths) +
         symbolBits(frequencies, lengths);
}

void StreamEncoder::considerChunk() {
  const uint64_t chunkCost = blockCost(chunkFrequencies_);
  if (openBlockSize_ > 0) {
    std::vector<uint32_t> merged(openFrequencies_.size());
    for (size_t i = 0; i < merged.size(); ++i)
      merged[i] = openFrequencies_[i] + chunkFrequencies_[i];
    const uint64_t mergedCost = blockCost(merged);
    if (mergedCost <= openBlockCost_ + chunkCost) {
      openFrequencies_ = std::move(merged);
      openBlockCost_ = mergedCost;
    } else {
      writeBlock(std::span(pending_).first(openBlockSize_), openFrequencies_);
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(openBlockSize_));
      openFrequencies_ = chunkFrequencies_;
      openBlockCost_ = chunkCost;
    }
  } else {
    openFrequencies_ = chunkFrequencies_;
    openBlockCost_ = chunkCost;
  }
  openBlockSize_ = pending_.size();
  std::fill(chunkFrequencies_.begin(), chunkFrequencies_.end(), 0);
}

void StreamEncoder::flushBlocks() {
  if (pending_.size() > openBlockSize_)
    considerChunk();
  if (!pending_.empty() || !state_.started)
    writeBlock(pending_, openFrequencies_);
  pending_.clear();
  openBlockSize_ = 0;
  std::fill(openFrequencies_.begin(), openFrequencies_.end(), 0);
}

void StreamEncoder::writeBlock(std::span<const CodedSymbol> symbols,
                               const std::vector<uint32_t>& frequencies) {
  BitWriter& out = *out_;
  const bool sameMode = state_.started && state_.audio == blockAudio_ &&
                        (!blockAudio_ || state_.channels == blockChannels_);
  const CodeLengths fresh = buildTableSet(blockAudio_, blockChannels_, frequencies);
  const uint64_t keepBits = sameMode ? symbolBits(frequencies, state_.lengths) : Unusable;
  const uint64_t switchBits = tableSetBits(blockAudio_, blockChannels_, fresh, state_.lengths) +
                              symbolBits(frequencies, fresh) + (state_.started ? 12 : 0);

  if (keepBits > switchBits) {
    if (state_.started) {
      // The switch symbol is coded with the tables being replaced: in audio
      // mode, the table of the channel whose byte would come next.
      const int index =
          state_.audio ? switchChannel_ * AudioSymbols + AudioTableSwitchSymbol : TableSwitchSymbol;
      out.write(codes_[index], state_.lengths[index]);
    }
    writeTableSet(out, blockAudio_, blockChannels_, fresh, state_.lengths);
    state_.started = true;
    state_.audio = blockAudio_;
    state_.channels = blockChannels_;
    state_.lengths = fresh;
    codes_ = codesOf(state_.lengths, state_.audio, state_.channels);
  }
  for (const CodedSymbol& symbol : symbols) {
    out.write(codes_[symbol.index], state_.lengths[symbol.index]);
    out.write(symbol.extraValue, symbol.extraBits);
  }
  // The next block starts with the channel of the symbol after this one.
  if (blockAudio_ && !symbols.empty())
    switchChannel_ = (symbols.back().index / AudioSymbols + 1) % blockChannels_;
}

void StreamEncoder::writeSafeSymbol(BitWriter& out) const {
  // Some symbol other than the table switch, in the table the decoder would use next.
  const int offset = state_.audio ? state_.currentChannel * AudioSymbols : 0;
  const int switchIndex = offset + (state_.audio ? AudioTableSwitchSymbol : TableSwitchSymbol);
  int safe = offset;
  while (safe == switchIndex || state_.lengths[safe] == 0)
    ++safe;
  out.write(codes_[safe], state_.lengths[safe]);
}

void StreamEncoder::finishEntry(BitWriter& out, uint32_t blockSize, bool empty) {
  if (empty && state_.started && out.bitCount() == 0) {
    // An empty entry inside a stream still gets some data: other extractors
    // stumble over a solid entry without any. Repeating the table set in
    // effect changes nothing for the decoder.
    const int index =
        state_.audio ? switchChannel_ * AudioSymbols + AudioTableSwitchSymbol : TableSwitchSymbol;
    out.write(codes_[index], state_.lengths[index]);
    writeTableSet(out, state_.audio, state_.channels, state_.lengths, state_.lengths);
  }
  // Padding follows the last symbol: other extractors read up to two bytes
  // past it, and the cipher works on whole blocks. The decoder peeks one
  // symbol past the end of an entry and reads new tables if it sees the
  // switch symbol, so the padding starts with the code of another symbol.
  const uint64_t symbolsEnd = out.bitCount();
  writeSafeSymbol(out);
  out.alignToByte();
  while (out.bitCount() < symbolsEnd + TrailingBits ||
         (blockSize > 1 && out.bytes().size() % blockSize != 0))
    out.write(0, 8);
}

} // namespace pack
