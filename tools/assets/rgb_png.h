// Writing 8-bit RGB pictures as PNG files, for the tools that make pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How hard zlib works: the data set's pictures are written once and kept
// small; the frames of a video are read once by the encoder and kept fast.
inline constexpr int kSmallestPng = 9;
inline constexpr int kFastestPng = 1;

// Writes `rgb` (3 bytes a pixel, top row first) as a PNG file. No time stamp
// or other variable chunk is written, so equal pictures give equal files.
// False when the file cannot be created or written.
bool writeRgbPng(const std::string& path, const std::vector<std::uint8_t>& rgb, int width,
                 int height, int compressionLevel = kSmallestPng);
