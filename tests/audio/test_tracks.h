#pragma once

#include "archive/data_file.h"
#include "temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Short, deterministic Ogg Vorbis tracks made on the spot, and what vorbisfile
// decodes from them, for comparing with what the player writes.

// `seconds` of 44.1 kHz stereo: a sweeping tone over a little noise, so that
// no stretch of it repeats and recordings can be aligned on it.
std::vector<std::uint8_t> encodeTestTrack(double seconds);

// The same track with one byte of one audio page in the middle flipped: the
// page fails its checksum and the decoder reports one hole.
std::vector<std::uint8_t> damageOnePage(std::vector<std::uint8_t> track);

struct DecodedTrack {
  std::vector<std::uint8_t> pcm; // 16-bit signed little-endian, interleaved
  int holes = 0;                 // negative ov_read results on the way
};

// Decodes a whole track with ov_read, as the player does, skipping holes.
DecodedTrack decodeTrack(const std::vector<std::uint8_t>& track);

// A fresh temporary working directory with a "data" folder, entered on
// construction and left (and removed) on destruction. Its files open as the
// music player takes them.
class DataDirectory {
public:
  DataDirectory();
  ~DataDirectory();
  DataDirectory(const DataDirectory&) = delete;
  DataDirectory& operator=(const DataDirectory&) = delete;

  void addFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  // The file "data/<name>" loaded whole; null when it is missing.
  DataFile* open(const std::string& name) const;
  const std::filesystem::path& path() const { return root.path(); }

private:
  std::filesystem::path previous;
  TempDir root{"viriz-audio-"};
};

// Offset of `needle` inside `haystack`, or -1.
long findBytes(const std::vector<std::uint8_t>& haystack, const std::uint8_t* needle,
               std::size_t length);
