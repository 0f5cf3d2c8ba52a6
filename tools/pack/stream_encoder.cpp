#include "stream_encoder.h"

#include "huffman.h"

#include <algorithm>
#include <limits>

namespace pack {

namespace {

constexpr uint64_t kUnusable = std::numeric_limits<uint64_t>::max();
// Rough cost of a literal in bits, the yardstick match choices are measured with.
constexpr int kLiteralBits = 8;
// Bits of padding after an entry's last symbol.
constexpr uint64_t kTrailingBits = 16;

uint32_t lengthCountFor(bool audio, int channels) {
  return audio ? uint32_t(channels) * kAudioSymbols : kLzTableLengths;
}

// The separate Huffman tables inside one table set: offset and symbol count.
struct TableRange {
  uint32_t offset;
  uint32_t count;
};

std::vector<TableRange> tablesOf(bool audio, int channels) {
  if (!audio)
    return {{kLiteralTableOffset, kLiteralSymbols},
            {kDistanceTableOffset, kDistanceSymbols},
            {kLengthTableOffset, kLengthSymbols}};
  std::vector<TableRange> tables;
  for (uint32_t channel = 0; channel < uint32_t(channels); ++channel)
    tables.push_back({channel * kAudioSymbols, kAudioSymbols});
  return tables;
}

uint64_t symbolBits(const std::vector<uint32_t>& frequencies, const CodeLengths& lengths) {
  uint64_t bits = 0;
  for (size_t i = 0; i < frequencies.size(); ++i) {
    if (frequencies[i] == 0)
      continue;
    if (lengths[i] == 0)
      return kUnusable;
    bits += uint64_t{frequencies[i]} * lengths[i];
  }
  return bits;
}

std::array<uint16_t, kMaxTableLengths> codesOf(const CodeLengths& lengths, bool audio,
                                               int channels) {
  std::array<uint16_t, kMaxTableLengths> codes{};
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

uint8_t deltaSymbol(uint8_t target, uint8_t base) {
  return (target - base) & 15;
}

// Chooses, position by position, between a delta symbol and the runs, by the
// bit costs of the code-length alphabet given.
std::vector<LengthCode> planLengthCodes(std::span<const uint8_t> target,
                                        std::span<const uint8_t> base,
                                        const std::array<int, kBitLengthSymbols>& cost) {
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
      consider(kBitLengthLongZeros, 7, runOf(i, 0, 138), 11);
      consider(kBitLengthZeros, 3, runOf(i, 0, 10), 3);
    }
    if (i > 0)
      consider(kBitLengthRepeat, 2, runOf(i, target[i - 1], 6), 3);
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
  return limitedCodeLengths(frequencies, kMaxCodeLength);
}

struct LengthEncoding {
  std::array<uint8_t, kBitLengthSymbols> bitLengths{};
  std::vector<LengthCode> codes;
  uint64_t bits = 0;
};

LengthEncoding encodeLengths(std::span<const uint8_t> target, std::span<const uint8_t> base) {
  std::array<int, kBitLengthSymbols> cost;
  cost.fill(4);
  LengthEncoding encoding;
  // Plans and code lengths refine each other; a few rounds settle them.
  for (int round = 0; round < 3; ++round) {
    encoding.codes = planLengthCodes(target, base, cost);
    std::vector<uint32_t> frequencies(kBitLengthSymbols, 0);
    for (const LengthCode& code : encoding.codes)
      ++frequencies[code.symbol];
    const auto lengths = lengthsWithTwoSymbols(frequencies);
    std::copy(lengths.begin(), lengths.end(), encoding.bitLengths.begin());
    for (uint32_t s = 0; s < kBitLengthSymbols; ++s)
      cost[s] = lengths[s] > 0 ? lengths[s] : 16;
  }
  encoding.bits = kBitLengthSymbols * 4;
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
  return 7 + lengthSlot(length - kMatchLengthStart - newMatchBonus(distance)).extraBits + 5 +
         distanceSlot(distance).extraBits;
}

int recentMatchCost(uint32_t length, uint32_t distance, int age) {
  return 6 + (age > 0 ? 1 : 0) +
         lengthSlot(length - kRecentLengthStart - recentMatchBonus(distance)).extraBits;
}

constexpr int kRepeatLastCost = 3;

} // namespace

EncoderEffort fastEffort() {
  return {{8, 32}, 1, 16384};
}
EncoderEffort bestEffort() {
  return {{256, kMaxMatchLength}, 2, 4096};
}

void writeTableSet(BitWriter& out, bool audio, int channels, const CodeLengths& lengths,
                   const CodeLengths& previous) {
  const uint32_t count = lengthCountFor(audio, channels);
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
      tableFrequencies[kAudioSymbolNewTables] += 1;
    else if (table.offset == kLiteralTableOffset)
      tableFrequencies[kSymbolNewTables] += 1;
    const auto tableLengths = lengthsWithTwoSymbols(tableFrequencies);
    std::copy(tableLengths.begin(), tableLengths.end(), lengths.begin() + table.offset);
  }
  return lengths;
}

StreamEncoder::StreamEncoder(EncoderEffort effort) : effort(effort), matcher(effort.matchFinder) {}

std::vector<uint8_t> StreamEncoder::encodeEntry(std::span<const uint8_t> data, EntryCoding coding,
                                                uint32_t blockSize,
                                                const std::function<void(uint64_t)>& progress) {
  const uint32_t begin = matcher.append(data);
  const uint32_t end = begin + static_cast<uint32_t>(data.size());
  BitWriter out;
  switch (coding.kind) {
  case EntryCoding::Kind::Lz:
    encodeLz(begin, end, out, progress);
    break;
  case EntryCoding::Kind::Audio:
    encodeAudio(begin, end, coding.channels, out);
    for (uint32_t pos = begin; pos < end; ++pos)
      matcher.insert(pos);
    break;
  case EntryCoding::Kind::Automatic: {
    const StreamState before = state;
    Trial best;
    encodeLz(begin, end, best.out, progress);
    best.state = state;
    for (int channels = 1; channels <= 4; ++channels) {
      restoreState(before);
      Trial trial;
      encodeAudio(begin, end, channels, trial.out);
      trial.state = state;
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

void StreamEncoder::restoreState(const StreamState& saved) {
  state = saved;
  codes = codesOf(state.lengths, state.audio, state.channels);
}

// --- LZ mode -------------------------------------------------------------------

StreamEncoder::Candidate StreamEncoder::bestCandidate(uint32_t pos, uint32_t maxLength) const {
  Candidate best;
  if (maxLength < 2)
    return best;
  const auto consider = [&](uint32_t length, uint32_t distance, int cost) {
    const int gain = static_cast<int>(length) * kLiteralBits - cost;
    if (gain > best.gain)
      best = {length, distance, gain};
  };

  const Match match = matcher.longestMatch(pos, maxLength);
  if (match.length > 0)
    consider(match.length, match.distance, newMatchCost(match.length, match.distance));

  for (int age = 0; age < 4; ++age) {
    const uint32_t distance = state.recentDistances[(state.recentCounter - 1 - age) & 3];
    if (distance == 0 || distance > pos || distance > kMaxDistance)
      continue;
    const uint32_t length = matcher.matchLengthAt(pos, distance, maxLength);
    if (distance == state.lastDistance && length >= state.lastLength && state.lastLength >= 2)
      consider(state.lastLength, distance, kRepeatLastCost);
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
  StreamState& s = state;
  int age = -1;
  for (int a = 0; a < 4 && age < 0; ++a)
    if (s.recentDistances[(s.recentCounter - 1 - a) & 3] == distance)
      age = a;
  const uint32_t recentBonus = recentMatchBonus(distance);

  if (distance == s.lastDistance && length == s.lastLength) {
    addSymbol({kSymbolRepeatLast, 0, 0});
  } else if (age >= 0 && length >= kRecentLengthStart + recentBonus) {
    addSymbol({static_cast<uint16_t>(kSymbolRecentFirst + age), 0, 0});
    const Slot slot = lengthSlot(length - kRecentLengthStart - recentBonus);
    addSymbol({static_cast<uint16_t>(kLengthTableOffset + slot.slot),
               static_cast<uint8_t>(slot.extraBits), slot.extraValue});
  } else if (length == 2 && distance <= 256) {
    const Slot slot = shortDistanceSlot(distance);
    addSymbol({static_cast<uint16_t>(kSymbolShortFirst + slot.slot),
               static_cast<uint8_t>(slot.extraBits), slot.extraValue});
  } else {
    const Slot slot = lengthSlot(length - kMatchLengthStart - newMatchBonus(distance));
    addSymbol({static_cast<uint16_t>(kSymbolMatchFirst + slot.slot),
               static_cast<uint8_t>(slot.extraBits), slot.extraValue});
    const Slot distanceCode = distanceSlot(distance);
    addSymbol({static_cast<uint16_t>(kDistanceTableOffset + distanceCode.slot),
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
  const uint8_t* bytes = matcher.bytes();

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
      matcher.insert(inserted++);
  };
  const auto candidateAt = [&](uint32_t pos) {
    Cached& slot = cache[pos & 3];
    if (slot.pos != pos) {
      insertUpTo(pos);
      slot = {pos, bestCandidate(pos, std::min(kMaxMatchLength, end - pos))};
    }
    return slot.candidate;
  };

  uint64_t nextReport = 1 << 20;
  uint32_t pos = begin;
  while (pos < end) {
    const Candidate current = candidateAt(pos);
    bool takeLiteral = current.gain <= 0;
    if (!takeLiteral && current.length < effort.matchFinder.niceLength) {
      // Lazy evaluation: a literal now pays if a clearly better match starts
      // inside the current one.
      for (uint32_t step = 1; step <= static_cast<uint32_t>(effort.lazySteps) &&
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
  const int channelBefore = state.currentChannel;
  if ((begin < end || !state.started) && state.currentChannel >= channels)
    state.currentChannel = 0;
  startBlocks(true, channels, out);
  switchChannel = channelBefore;
  const uint8_t* bytes = matcher.bytes();
  for (uint32_t pos = begin; pos < end; ++pos) {
    const int channel = state.currentChannel;
    const uint8_t delta =
        encodeAudioByte(state.channelStates[channel], state.channelDelta, bytes[pos]);
    addSymbol({static_cast<uint16_t>(channel * kAudioSymbols + delta), 0, 0});
    endToken();
    state.currentChannel = (channel + 1) % channels;
  }
  flushBlocks();
}

// --- Blocks and table switches -------------------------------------------------

void StreamEncoder::startBlocks(bool audio, int channels, BitWriter& out) {
  blockOut = &out;
  blockAudio = audio;
  blockChannels = channels;
  switchChannel = state.currentChannel;
  pending.clear();
  openBlockSize = 0;
  const size_t count = lengthCountFor(audio, channels);
  openFrequencies.assign(count, 0);
  chunkFrequencies.assign(count, 0);
}

void StreamEncoder::addSymbol(CodedSymbol symbol) {
  pending.push_back(symbol);
  ++chunkFrequencies[symbol.index];
}

void StreamEncoder::endToken() {
  // Blocks end only between whole literals, matches or samples: a table
  // switch cannot sit between a match's length and distance.
  if (pending.size() - openBlockSize >= effort.blockSymbols)
    considerChunk();
}

uint64_t StreamEncoder::blockCost(const std::vector<uint32_t>& frequencies) const {
  const CodeLengths lengths = buildTableSet(blockAudio, blockChannels, frequencies);
  return tableSetBits(blockAudio, blockChannels, lengths, state.lengths) +
         symbolBits(frequencies, lengths);
}

void StreamEncoder::considerChunk() {
  const uint64_t chunkCost = blockCost(chunkFrequencies);
  if (openBlockSize > 0) {
    std::vector<uint32_t> merged(openFrequencies.size());
    for (size_t i = 0; i < merged.size(); ++i)
      merged[i] = openFrequencies[i] + chunkFrequencies[i];
    const uint64_t mergedCost = blockCost(merged);
    if (mergedCost <= openBlockCost + chunkCost) {
      openFrequencies = std::move(merged);
      openBlockCost = mergedCost;
    } else {
      writeBlock(std::span(pending).first(openBlockSize), openFrequencies);
      pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(openBlockSize));
      openFrequencies = chunkFrequencies;
      openBlockCost = chunkCost;
    }
  } else {
    openFrequencies = chunkFrequencies;
    openBlockCost = chunkCost;
  }
  openBlockSize = pending.size();
  std::fill(chunkFrequencies.begin(), chunkFrequencies.end(), 0);
}

void StreamEncoder::flushBlocks() {
  if (pending.size() > openBlockSize)
    considerChunk();
  if (!pending.empty() || !state.started)
    writeBlock(pending, openFrequencies);
  pending.clear();
  openBlockSize = 0;
  std::fill(openFrequencies.begin(), openFrequencies.end(), 0);
}

void StreamEncoder::writeBlock(std::span<const CodedSymbol> symbols,
                               const std::vector<uint32_t>& frequencies) {
  BitWriter& out = *blockOut;
  const bool sameMode = state.started && state.audio == blockAudio &&
                        (!blockAudio || state.channels == blockChannels);
  const CodeLengths fresh = buildTableSet(blockAudio, blockChannels, frequencies);
  const uint64_t keepBits = sameMode ? symbolBits(frequencies, state.lengths) : kUnusable;
  const uint64_t switchBits = tableSetBits(blockAudio, blockChannels, fresh, state.lengths) +
                              symbolBits(frequencies, fresh) + (state.started ? 12 : 0);

  if (keepBits > switchBits) {
    if (state.started) {
      // The switch symbol is coded with the tables being replaced: in audio
      // mode, the table of the channel whose byte would come next.
      const int index =
          state.audio ? switchChannel * kAudioSymbols + kAudioSymbolNewTables : kSymbolNewTables;
      out.write(codes[index], state.lengths[index]);
    }
    writeTableSet(out, blockAudio, blockChannels, fresh, state.lengths);
    state.started = true;
    state.audio = blockAudio;
    state.channels = blockChannels;
    state.lengths = fresh;
    codes = codesOf(state.lengths, state.audio, state.channels);
  }
  for (const CodedSymbol& symbol : symbols) {
    out.write(codes[symbol.index], state.lengths[symbol.index]);
    out.write(symbol.extraValue, symbol.extraBits);
  }
  // The next block starts with the channel of the symbol after this one.
  if (blockAudio && !symbols.empty())
    switchChannel = (symbols.back().index / kAudioSymbols + 1) % blockChannels;
}

void StreamEncoder::writeSafeSymbol(BitWriter& out) const {
  // Some symbol other than the table switch, in the table the decoder would use next.
  const int offset = state.audio ? state.currentChannel * kAudioSymbols : 0;
  const int switchIndex = offset + (state.audio ? kAudioSymbolNewTables : kSymbolNewTables);
  int safe = offset;
  while (safe == switchIndex || state.lengths[safe] == 0)
    ++safe;
  out.write(codes[safe], state.lengths[safe]);
}

void StreamEncoder::finishEntry(BitWriter& out, uint32_t blockSize, bool empty) {
  if (empty && state.started && out.bitCount() == 0) {
    // An empty entry inside a stream still gets some data: other extractors
    // stumble over a solid entry without any. Repeating the table set in
    // effect changes nothing for the decoder.
    const int index =
        state.audio ? switchChannel * kAudioSymbols + kAudioSymbolNewTables : kSymbolNewTables;
    out.write(codes[index], state.lengths[index]);
    writeTableSet(out, state.audio, state.channels, state.lengths, state.lengths);
  }
  // Padding follows the last symbol: other extractors read up to two bytes
  // past it, and the cipher works on whole blocks. The decoder peeks one
  // symbol past the end of an entry and reads new tables if it sees the
  // switch symbol, so the padding starts with the code of another symbol.
  const uint64_t symbolsEnd = out.bitCount();
  writeSafeSymbol(out);
  out.alignToByte();
  while (out.bitCount() < symbolsEnd + kTrailingBits ||
         (blockSize > 1 && out.bytes().size() % blockSize != 0))
    out.write(0, 8);
}

} // namespace pack
