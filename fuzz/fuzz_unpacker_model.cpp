// The decompressor against its byte-by-byte model (tests/archive/stream_model.h).
// The input does not reach the decoder as packed bytes: it chooses a *valid*
// stream, written alongside the model's output, and the decoder must deliver
// exactly the model's bytes. Crash-only fuzzing cannot find a wrong byte;
// this can.
//
// The input's bytes are decisions (what comes next, which size, which code
// shape); once they run out, a generator seeded from the whole input goes on,
// so that short inputs still make long streams. The streams hold random
// canonical codes (complete or not, shallow or 15 bits deep, delta-coded
// against the previous table set with every run kind of the code-length
// alphabet), literals, every match kind (matches at all distances up to
// 1 MiB, short matches, the four recent distances, repeats of the last match,
// also before any match, when the distance is 0), table changes, switches
// between LZ and audio mode on 1 to 4 channels mid-entry, and solid chains of
// entries whose outputs are kept or discarded. Declared sizes are exact
// (possibly followed by a table switch that the end-of-entry peek reads),
// shorter than the stream (more symbols follow) or longer (the input runs
// out, and the chain ends there); they lie around 270 bytes, 64 KiB, 1 MiB
// and 2 to 3 MiB, or anywhere below 5000. Kept outputs start filled with a
// non-zero pattern, so that a byte the decoder does not write shows.
#include "archive/archive_format.h"
#include "archive/unpacker.h"
#include "stream_model.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using archive_model::BitWriter;
using archive_model::ByteModel;
using archive_model::Bytes;

// A generator for bulk choices (literal bytes, code lengths): splitmix64.
struct Rng {
  uint64_t state;
  explicit Rng(uint64_t seed) : state(seed) {}
  uint32_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return uint32_t((z ^ (z >> 31)) >> 32);
  }
  uint32_t below(uint32_t n) { return uint32_t(uint64_t(next()) * n >> 32); }
};

// The input as a sequence of decisions, then a generator seeded by it.
class Choices {
public:
  Choices(const uint8_t* data, size_t size) : data(data), size(size), rest(hash(data, size)) {}

  uint32_t byte() { return position < size ? data[position++] : rest.next() & 0xFF; }
  // A value below n (n at least 1).
  uint32_t below(uint32_t n) {
    uint32_t value = byte();
    if (n > 0x100)
      value = value << 8 | byte();
    if (n > 0x10000)
      value = value << 16 | byte() << 8 | byte();
    return value % n;
  }
  bool percent(uint32_t p) { return below(100) < p; }
  // A bulk generator seeded by the next decisions.
  Rng rng() {
    uint64_t seed = 0;
    for (int i = 0; i < 4; ++i)
      seed = seed << 8 | byte();
    return Rng(seed * 0x2545F4914F6CDD1Dull ^ 0x6A09E667F3BCC909ull);
  }

private:
  static uint64_t hash(const uint8_t* data, size_t size) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < size; ++i)
      h = (h ^ data[i]) * 0x100000001B3ull;
    return h;
  }

  const uint8_t* data;
  size_t size;
  size_t position = 0;
  Rng rest;
};

// --- Codes ---

struct Code {
  std::vector<uint8_t> lengths;
  std::vector<uint32_t> codes;

  void set(std::vector<uint8_t> newLengths) {
    lengths = std::move(newLengths);
    codes = archive_model::canonicalCodes(lengths);
  }
  bool has(uint32_t symbol) const { return lengths[symbol] != 0; }
  void put(BitWriter& w, uint32_t symbol) const { w.put(codes[symbol], lengths[symbol]); }
  std::vector<uint32_t> codedIn(uint32_t first, uint32_t count) const {
    std::vector<uint32_t> coded;
    for (uint32_t s = first; s < first + count; ++s)
      if (has(s))
        coded.push_back(s);
    return coded;
  }
};

// Code lengths of a prefix code (complete or not, at most 15 bits) for an
// alphabet of n symbols, in which every symbol of `must` has a code.
std::vector<uint8_t> randomLengths(Rng& rng, uint32_t n, const std::vector<uint32_t>& must) {
  const uint32_t style = rng.below(5);
  std::vector<uint8_t> lengths(n);
  std::vector<uint32_t> coded;
  const auto code = [&](uint32_t s) {
    if (lengths[s] == 0) {
      lengths[s] = 1;
      coded.push_back(s);
    }
  };
  for (uint32_t s : must)
    code(s);
  if (style == 0 || style == 3) { // every symbol
    for (uint32_t s = 0; s < n; ++s)
      code(s);
  } else if (style == 1) { // most
    for (uint32_t s = 0; s < n; ++s)
      if (rng.below(4) != 0)
        code(s);
  } else { // a few
    for (uint32_t k = rng.below(8); k > 0; --k)
      code(rng.below(n));
  }
  if (coded.empty())
    code(rng.below(n));
  const uint32_t longest = 1 + rng.below(15);
  for (uint32_t s : coded)
    lengths[s] = uint8_t(style == 3 ? 9 + rng.below(7) : 1 + rng.below(longest));
  uint32_t kraft = 0;
  for (uint32_t s : coded)
    kraft += 1u << (15 - lengths[s]);
  while (kraft > 1u << 15) {
    uint8_t& length = lengths[coded[rng.below(uint32_t(coded.size()))]];
    if (length < 15) {
      kraft -= 1u << (14 - length); // half the code's share
      ++length;
    }
  }
  // Often complete the code: shorten codes while the code stays a prefix code.
  if (rng.below(2) == 0) {
    for (size_t i = 0, start = rng.below(uint32_t(coded.size())); i < coded.size(); ++i) {
      uint8_t& length = lengths[coded[(start + i) % coded.size()]];
      while (length > 1 && kraft + (1u << (15 - length)) <= 1u << 15) {
        kraft += 1u << (15 - length);
        --length;
      }
    }
  }
  return lengths;
}

// --- The encoder's state: the codes in force and the previous lengths ---

struct Tables {
  bool audio = false;
  uint32_t channels = 1;
  Code literal, distance, length;
  Code audioCodes[kMaxAudioChannels];
  // The coded symbols of each kind.
  std::vector<uint32_t> literals, matches, shorts, recents, distances, lengthSlots;
  std::vector<uint32_t> deltas[kMaxAudioChannels];

  void index() {
    if (audio) {
      for (uint32_t c = 0; c < channels; ++c)
        deltas[c] = audioCodes[c].codedIn(0, 256);
      return;
    }
    literals = literal.codedIn(0, 256);
    matches = literal.codedIn(kSymbolMatchFirst, kLengthSymbols);
    shorts = literal.codedIn(kSymbolShortFirst, 8);
    recents = literal.codedIn(kSymbolRecentFirst, 4);
    distances = distance.codedIn(0, kDistanceSymbols);
    lengthSlots = length.codedIn(0, kLengthSymbols);
  }
  bool switchCoded(uint32_t channel) const {
    return audio ? audioCodes[channel].has(kAudioSymbolNewTables) : literal.has(kSymbolNewTables);
  }
};

struct Encoder {
  Tables tables;
  uint8_t previous[kMaxTableLengths] = {};
  uint32_t currentChannel = 0;
  bool started = false; // a table set has been written in this stream
};

struct Stream {
  BitWriter w;
  Encoder e;
  Choices& c;
  // The model, or null for symbols the decoder never decodes (beyond a
  // declared size): they are written with a copy of the encoder.
  ByteModel* model;
  // Symbols written (all kinds), against a budget per input.
  size_t& symbols;

  size_t produced() const { return model ? model->out.size() : 0; }

  // --- Table sets ---

  void tableSet() {
    Rng rng = c.rng();
    const bool audio = c.percent(30);
    const bool keep = c.percent(60);
    const uint32_t channels = audio ? 1 + c.below(kMaxAudioChannels) : 1;
    w.put((audio ? 2u : 0u) | (keep ? 1u : 0u), 2);
    if (audio)
      w.put(channels - 1, 2);
    if (!keep)
      std::fill(std::begin(e.previous), std::end(e.previous), uint8_t(0));
    const uint32_t count = audio ? channels * kAudioSymbols : kLzTableLengths;

    // The new lengths: the previous set's again (same mode and channels), or new codes.
    std::vector<uint8_t> lengths(count);
    if (keep && e.started && e.tables.audio == audio && e.tables.channels == channels &&
        c.percent(20)) {
      std::copy(e.previous, e.previous + count, lengths.begin());
    } else if (audio) {
      for (uint32_t ch = 0; ch < channels; ++ch) {
        std::vector<uint32_t> must = {rng.below(256)};
        if (rng.below(10) != 0)
          must.push_back(kAudioSymbolNewTables);
        const auto channel = randomLengths(rng, kAudioSymbols, must);
        std::copy(channel.begin(), channel.end(), lengths.begin() + ch * kAudioSymbols);
      }
    } else {
      // Something that produces bytes, and mostly a way out.
      static constexpr uint32_t kProducing[] = {0, kSymbolMatchFirst, kSymbolShortFirst,
                                                kSymbolRecentFirst};
      const uint32_t first = kProducing[rng.below(4)];
      std::vector<uint32_t> must = {first + rng.below(first == 0 ? 256 : 4)};
      if (rng.below(8) != 0)
        must.push_back(kSymbolNewTables);
      const auto literal = randomLengths(rng, kLiteralSymbols, must);
      const auto distance = randomLengths(rng, kDistanceSymbols, {});
      const auto length = randomLengths(rng, kLengthSymbols, {});
      std::copy(literal.begin(), literal.end(), lengths.begin() + kLiteralTableOffset);
      std::copy(distance.begin(), distance.end(), lengths.begin() + kDistanceTableOffset);
      std::copy(length.begin(), length.end(), lengths.begin() + kLengthTableOffset);
    }
    codeLengths(rng, lengths);

    std::fill(std::begin(e.previous), std::end(e.previous), uint8_t(0));
    std::copy(lengths.begin(), lengths.end(), e.previous);
    Tables& t = e.tables;
    t.audio = audio;
    if (audio) {
      t.channels = channels;
      for (uint32_t ch = 0; ch < channels; ++ch)
        t.audioCodes[ch].set(std::vector<uint8_t>(lengths.begin() + ch * kAudioSymbols,
                                                  lengths.begin() + (ch + 1) * kAudioSymbols));
      if (e.currentChannel >= channels)
        e.currentChannel = 0;
      if (model)
        model->audioTables(channels);
    } else {
      t.literal.set(std::vector<uint8_t>(lengths.begin(), lengths.begin() + kLiteralSymbols));
      t.distance.set(std::vector<uint8_t>(lengths.begin() + kDistanceTableOffset,
                                          lengths.begin() + kLengthTableOffset));
      t.length.set(std::vector<uint8_t>(lengths.begin() + kLengthTableOffset, lengths.end()));
    }
    t.index();
    e.started = true;
  }

  // The code-length code and the lengths, delta-coded against e.previous,
  // with runs (16: the previous length again, 17 and 18: zeros) where they
  // fit; a run may reach past the last length when everything up to it fits.
  void codeLengths(Rng& rng, const std::vector<uint8_t>& lengths) {
    struct Item {
      uint32_t symbol, extraBits, extra;
    };
    std::vector<Item> items;
    const uint32_t count = uint32_t(lengths.size());
    const auto runOf = [&](uint32_t i, uint8_t value) {
      uint32_t run = 0;
      while (i + run < count && lengths[i + run] == value)
        ++run;
      return run;
    };
    const bool runs = rng.below(8) != 0;
    for (uint32_t i = 0; i < count;) {
      struct Option {
        uint32_t symbol, least, most, extraBits, run;
      };
      Option options[3];
      uint32_t optionCount = 0;
      const uint32_t same = runOf(i, i > 0 ? lengths[i - 1] : 0);
      const uint32_t zeros = runOf(i, 0);
      for (const Option o :
           {Option{kBitLengthRepeat, 3, 6, 2, same}, Option{kBitLengthZeros, 3, 10, 3, zeros},
            Option{kBitLengthLongZeros, 11, 138, 7, zeros}})
        if (runs && (o.run >= o.least || i + o.run == count))
          options[optionCount++] = o;
      const uint32_t pick = rng.below(optionCount + 1);
      if (pick == optionCount) {
        items.push_back({uint32_t((lengths[i] - e.previous[i]) & 15), 0, 0});
        ++i;
        continue;
      }
      const Option& o = options[pick];
      const uint32_t most = i + o.run == count ? o.most : std::min(o.most, o.run);
      const uint32_t n = o.least + rng.below(most - o.least + 1);
      items.push_back({o.symbol, o.extraBits, n - o.least});
      i += n;
    }
    std::vector<uint32_t> used;
    for (const Item& item : items)
      if (std::find(used.begin(), used.end(), item.symbol) == used.end())
        used.push_back(item.symbol);
    Code bitLengths;
    bitLengths.set(randomLengths(rng, kBitLengthSymbols, used));
    for (uint8_t length : bitLengths.lengths)
      w.put(length, 4);
    for (const Item& item : items) {
      bitLengths.put(w, item.symbol);
      w.put(item.extra, item.extraBits);
    }
  }

  // --- Symbols ---

  void newTables() {
    const Tables& t = e.tables;
    if (t.audio)
      t.audioCodes[e.currentChannel].put(w, kAudioSymbolNewTables);
    else
      t.literal.put(w, kSymbolNewTables);
    ++symbols;
    tableSet();
  }

  uint32_t pickOf(const std::vector<uint32_t>& coded) {
    return coded[c.below(uint32_t(coded.size()))];
  }

  void literal(Rng& rng) {
    const std::vector<uint32_t>& coded = e.tables.literals;
    const uint32_t byte = coded[rng.below(uint32_t(coded.size()))];
    e.tables.literal.put(w, byte);
    if (model)
      model->literal(uint8_t(byte));
    ++symbols;
  }

  void match(uint32_t symbol, uint32_t lengthExtra, uint32_t slot, uint32_t distanceExtra) {
    const Tables& t = e.tables;
    const uint32_t k = symbol - kSymbolMatchFirst;
    t.literal.put(w, symbol);
    w.put(lengthExtra, kLengthExtraBits[k]);
    t.distance.put(w, slot);
    w.put(distanceExtra, kDistanceExtraBits[slot]);
    if (model)
      model->match(kLengthBase[k] + 3 + lengthExtra, kDistanceBase[slot] + 1 + distanceExtra);
    ++symbols;
  }

  void recent(uint32_t symbol, uint32_t slot, uint32_t extra) {
    const Tables& t = e.tables;
    t.literal.put(w, symbol);
    t.length.put(w, slot);
    w.put(extra, kLengthExtraBits[slot]);
    if (model)
      model->recentMatch(symbol - kSymbolRepeatLast, kLengthBase[slot] + 2 + extra);
    ++symbols;
  }

  void repeatLast() {
    e.tables.literal.put(w, kSymbolRepeatLast);
    if (model)
      model->repeatLast();
    ++symbols;
  }

  void shortMatch(uint32_t symbol, uint32_t extra) {
    const uint32_t k = symbol - kSymbolShortFirst;
    e.tables.literal.put(w, symbol);
    w.put(extra, kShortDistanceExtraBits[k]);
    if (model)
      model->copy(2, kShortDistanceBase[k] + 1 + extra);
    ++symbols;
  }

  uint32_t extraBits(Rng& rng, uint32_t bits) {
    if (bits == 0)
      return 0;
    // The ends of the range often, else anywhere.
    switch (rng.below(4)) {
    case 0:
      return 0;
    case 1:
      return (1u << bits) - 1;
    default:
      return rng.next() & ((1u << bits) - 1);
    }
  }

  // One LZ step: a symbol or a run of them, stopping at `target` bytes.
  void lzStep(size_t target) {
    const Tables& t = e.tables;
    Rng rng = c.rng();
    const size_t left = target > produced() ? target - produced() : 0;
    const bool canMatch = !t.matches.empty() && !t.distances.empty();
    const bool canRecent = !t.recents.empty() && !t.lengthSlots.empty();
    const bool canRepeat = t.literal.has(kSymbolRepeatLast);
    // Far from the target (in a model run), mostly long copies.
    if (model && left > 16384 && c.percent(80) && (canMatch || canRecent || canRepeat)) {
      const uint32_t longestMatch =
          canMatch ? *std::max_element(t.matches.begin(), t.matches.end()) : 0;
      const uint32_t longestSlot =
          canRecent ? *std::max_element(t.lengthSlots.begin(), t.lengthSlots.end()) : 0;
      for (uint32_t n = 32 + c.below(512); n > 0 && produced() < target; --n) {
        const uint32_t kind = rng.below(3);
        if (kind == 0 && canMatch) {
          const uint32_t slot = t.distances[rng.below(uint32_t(t.distances.size()))];
          const uint32_t k = longestMatch - kSymbolMatchFirst;
          match(longestMatch, (1u << kLengthExtraBits[k]) - 1, slot,
                extraBits(rng, kDistanceExtraBits[slot]));
        } else if (kind == 1 && canRecent) {
          recent(t.recents[rng.below(uint32_t(t.recents.size()))], longestSlot,
                 (1u << kLengthExtraBits[longestSlot]) - 1);
        } else if (canRepeat && model->lastLength > 0) {
          repeatLast();
        } else if (!t.literals.empty()) {
          literal(rng);
        } else {
          break;
        }
      }
      return;
    }
    const uint32_t kind = c.below(100);
    if (kind < 25 && !t.literals.empty()) {
      literal(rng);
    } else if (kind < 35 && !t.literals.empty()) {
      // A run of literals; now and then a long one, whose packed bytes span
      // several of the decoder's input reads.
      uint32_t n = 1 + c.below(c.percent(10) && model ? 100000 : 50);
      for (; n > 0 && (!model || produced() < target); --n)
        literal(rng);
    } else if (kind < 55 && canMatch) {
      const uint32_t symbol = pickOf(t.matches);
      const uint32_t slot = pickOf(t.distances);
      match(symbol, extraBits(rng, kLengthExtraBits[symbol - kSymbolMatchFirst]), slot,
            extraBits(rng, kDistanceExtraBits[slot]));
    } else if (kind < 65 && !t.shorts.empty()) {
      const uint32_t symbol = pickOf(t.shorts);
      shortMatch(symbol, extraBits(rng, kShortDistanceExtraBits[symbol - kSymbolShortFirst]));
    } else if (kind < 80 && canRecent) {
      const uint32_t slot = pickOf(t.lengthSlots);
      recent(pickOf(t.recents), slot, extraBits(rng, kLengthExtraBits[slot]));
    } else if (kind < 92 && canRepeat) {
      repeatLast();
    } else if (t.literal.has(kSymbolNewTables)) {
      newTables();
    } else if (!t.literals.empty()) {
      literal(rng);
    } else if (canMatch) {
      match(t.matches[0], 0, t.distances[0], 0);
    } else if (!t.shorts.empty()) {
      shortMatch(t.shorts[0], 0);
    } else {
      // Only recent distances (maybe without a length code): the repeat, or
      // a recent distance.
      if (canRecent)
        recent(t.recents[0], t.lengthSlots[0], 0);
      else
        ++symbols; // nothing can be written: the budget ends the entry
    }
  }

  // One audio step: a run of bytes over the channels, or a table switch.
  void audioStep(size_t target) {
    Tables& t = e.tables;
    if (t.switchCoded(e.currentChannel) &&
        c.percent(model && target - produced() > 4096 ? 50 : 8)) {
      newTables();
      return;
    }
    Rng rng = c.rng();
    for (uint32_t n = 1 + c.below(400); n > 0 && (!model || produced() < target); --n) {
      const std::vector<uint32_t>& coded = t.deltas[e.currentChannel];
      const uint32_t delta = coded[rng.below(uint32_t(coded.size()))];
      t.audioCodes[e.currentChannel].put(w, delta);
      if (model)
        model->audio(uint8_t(delta));
      if (++e.currentChannel == t.channels)
        e.currentChannel = 0;
      ++symbols;
    }
  }

  void step(size_t target) {
    if (e.tables.audio)
      audioStep(target);
    else
      lzStep(target);
  }

  // A symbol other than a table switch: what the end-of-entry peek may read
  // without effect.
  void nonSwitchSymbol() {
    const Tables& t = e.tables;
    if (t.audio) {
      t.audioCodes[e.currentChannel].put(w, t.deltas[e.currentChannel][0]);
      return;
    }
    for (uint32_t s = 0; s < kLiteralSymbols; ++s)
      if (s != kSymbolNewTables && t.literal.has(s)) {
        t.literal.put(w, s);
        return;
      }
  }

  void zeroBytes(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
      w.put(0, 8);
  }
};

// --- One input ---

constexpr size_t kSymbolBudget = 600000;
constexpr size_t kMaxChainOutput = size_t(12) << 20;

size_t declaredSize(Choices& c) {
  const uint32_t kind = c.below(100);
  if (kind < 25)
    return c.below(300);
  if (kind < 50)
    return 250 + c.below(41);
  if (kind < 70)
    return c.below(5000);
  if (kind < 88)
    return 65536 - 300 + c.below(601);
  if (kind < 96)
    return kWindowSize - 300 + c.below(601);
  return 2 * kWindowSize + c.below(kWindowSize + 1);
}

// The bytes a kept output holds before decoding: a pattern without zeros.
void fillPattern(std::vector<uint8_t>& out) {
  static const std::vector<uint8_t> pattern = [] {
    std::vector<uint8_t> bytes(4096);
    for (size_t i = 0; i < bytes.size(); ++i) {
      const uint8_t byte = uint8_t(0xA5 ^ (i * 6) ^ (i >> 8));
      bytes[i] = byte != 0 ? byte : 0x5A;
    }
    return bytes;
  }();
  for (size_t i = 0; i < out.size(); i += pattern.size())
    memcpy(out.data() + i, pattern.data(), std::min(pattern.size(), out.size() - i));
}

struct Memory {
  const uint8_t* bytes;
  size_t left;
  static size_t read(void* context, uint8_t* buffer, size_t count) {
    auto* self = static_cast<Memory*>(context);
    count = std::min(count, self->left);
    if (count > 0)
      memcpy(buffer, self->bytes, count);
    self->bytes += count;
    self->left -= count;
    return count;
  }
};

[[noreturn]] void mismatch(const char* what, size_t entry, size_t at, size_t expected,
                           size_t actual) {
  fprintf(stderr, "decoder differs from the model: %s, entry %zu, at %zu: expected %zu, got %zu\n",
          what, entry, at, expected, actual);
  abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Unpacker unpacker;
  static std::vector<uint8_t> window(kUnpackWindowSize);
  unpacker.reset();

  Choices c(data, size);
  ByteModel model;
  Encoder encoder;
  size_t symbols = 0;
  bool continues = false;
  const uint32_t entries = 1 + c.below(4);
  for (uint32_t entry = 0; entry < entries && model.out.size() < kMaxChainOutput; ++entry) {
    if (continues && c.percent(10))
      continues = false; // a new stream within the run
    if (!continues) {
      model.newStream();
      encoder = Encoder{};
    }
    const size_t start = model.out.size();
    size_t declared = declaredSize(c);
    // Exact, shorter than the stream (more symbols follow) or longer (the
    // stream ends first).
    const uint32_t sizeKind = c.below(10);
    const bool longer = sizeKind >= 8 && declared > 0;
    const size_t target =
        start +
        (longer ? declared - 1 - c.below(uint32_t(std::min<size_t>(declared, 1000))) : declared);

    Stream s{{}, encoder, c, &model, symbols};
    if (!continues)
      s.tableSet();
    while (model.out.size() < target && symbols < kSymbolBudget)
      s.step(target);
    // Not reached when the stream is longer, or the budget ran out first.
    const size_t produced = model.out.size() - start;
    const bool reached = produced >= declared;

    if (reached && sizeKind < 5) {
      // Exact: maybe a table switch that the end-of-entry peek reads, or a
      // symbol that it reads without effect.
      const uint32_t after = c.below(3);
      if (after == 0 && s.e.tables.switchCoded(s.e.currentChannel)) {
        s.newTables();
        s.zeroBytes(32);
      } else if (after == 1) {
        s.nonSwitchSymbol();
        s.zeroBytes(32);
      }
    } else if (reached) {
      // Shorter: the peek reads a table switch, or one symbol without
      // effect; then symbols the decoder never reaches.
      if (s.e.tables.switchCoded(s.e.currentChannel) && c.percent(40))
        s.newTables();
      else
        s.nonSwitchSymbol();
      Stream beyond{s.w, s.e, c, nullptr, symbols};
      for (uint32_t n = c.below(40); n > 0; --n)
        beyond.step(0);
      s.w = beyond.w;
      s.zeroBytes(32);
    }
    encoder = s.e;
    const Bytes packed = s.w.finish();

    // Decode: into an output that holds a pattern, or discarded. The reader
    // gives the output the declared size; a larger one also takes a last
    // match's overshoot. A smaller one stops decoding at the first chunk that
    // does not fit, and what it holds then is not defined: only its bound is
    // checked, and the run ends there.
    const bool keep = !continues || c.percent(70);
    const bool small = keep && declared > 0 && c.percent(5);
    size_t capacity = declared;
    if (small)
      capacity -= 1 + c.below(uint32_t(std::min<size_t>(declared, 300)));
    else if (c.percent(20))
      capacity += c.below(300);
    std::vector<uint8_t> out(keep ? std::max<size_t>(capacity, 1) : 0);
    fillPattern(out);
    UnpackOutput output{keep ? out.data() : nullptr, capacity, 0};
    Memory input{packed.data(), packed.size()};
    unpacker.unpackEntry(window.data(), continues, declared, PackedSource{Memory::read, &input},
                         output);

    if (output.delivered > (keep ? capacity : 0))
      mismatch("delivered count beyond the output", entry, 0, capacity, output.delivered);
    if (reached && !small && unpacker.inputOverrun())
      mismatch("input overrun", entry, 0, 0, 1);
    if (keep && !small) {
      if (reached && capacity >= produced && output.delivered != produced)
        mismatch("delivered count", entry, 0, produced, output.delivered);
      const uint8_t* expected = model.out.data() + start;
      const size_t compared = std::min(output.delivered, produced);
      if (compared > 0 && memcmp(out.data(), expected, compared) != 0)
        for (size_t i = 0; i < compared; ++i)
          if (out[i] != expected[i])
            mismatch("byte", entry, i, expected[i], out[i]);
    }
    // A stream that ran out leaves the decoder past its end: the run ends.
    if (!reached || small)
      break;
    continues = true;
  }
  return 0;
}
