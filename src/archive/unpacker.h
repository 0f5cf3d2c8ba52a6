#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Decoder of the version-2.0 compressed stream: LZ77 over the 1 MiB circular
// window with canonical Huffman codes, plus an audio mode that predicts bytes
// on up to four interleaved channels.

// The decoder's circular window: twice the format's 1 MiB. A match reaches
// back at most 1 MiB, so the bytes just ahead of the write position are never
// read again, and short matches may store whole 16-byte blocks.
inline constexpr uint32_t kUnpackWindowSize = 0x200000;
inline constexpr uint32_t kUnpackWindowMask = kUnpackWindowSize - 1;

// Where the decoder pulls packed bytes from (the archive reader's readPacked,
// or memory in tests): returns the bytes copied, 0 at the end of the entry.
struct PackedSource {
  size_t (*read)(void* context, uint8_t* buffer, size_t count);
  void* context;
};

// Where the decoded bytes of the wanted entry go. A null `data` discards them
// (earlier entries of a solid archive only build up the window and tables).
// With `grow` set, the output starts smaller than the entry and is asked for
// room as the bytes come: grow(output, needed, growContext) makes `capacity`
// at least `needed` (moving `data` if it must) and returns true, or returns
// false, and decoding then stops as at a full output.
struct UnpackOutput {
  uint8_t* data;
  size_t capacity;
  size_t delivered;
  bool (*grow)(UnpackOutput& output, size_t needed, void* context) = nullptr;
  void* growContext = nullptr;
};

class Unpacker {
public:
  Unpacker();
  ~Unpacker();
  Unpacker(const Unpacker&) = delete;
  Unpacker& operator=(const Unpacker&) = delete;

  // Forgets every stream (between archives): the next entry decodes from clean state.
  void reset();

  // Decodes one entry into `window` (kUnpackWindowSize bytes, whatever they
  // hold). A new stream (continuesSolid false) resets the state, with zeros
  // before its first byte; a continuing one keeps the window, tables,
  // distances and audio state of the previous entry.
  // Decoding ends when `unpackedSize` bytes are produced, when the output would
  // overflow, or when the packed input runs out; the caller's CRC check decides.
  void unpackEntry(uint8_t* window, bool continuesSolid, uint64_t unpackedSize, PackedSource source,
                   UnpackOutput& output);

  // True when the last entry asked for more bits than its packed input held.
  bool inputOverrun() const;

  // The decoder's whole state, defined beside the decoder.
  struct State;

private:
  std::unique_ptr<State> state;
};
