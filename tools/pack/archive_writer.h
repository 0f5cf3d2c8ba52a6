// Writes archives in the version-2.0 format: marker, archive header, one file
// header plus packed data per entry (stored or compressed, optionally
// enciphered), and an end-of-archive block. Output is deterministic: the same
// inputs and options give the same bytes.
#pragma once

#include "archive/archive_cipher.h"
#include "stream_encoder.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pack {

enum class Method { Store, Fast, Best, Audio };

// 2000-01-01 00:00:00 as an MS-DOS date and time: the time stamp of every
// entry unless the caller picks another, so that archives are reproducible.
constexpr uint32_t kDefaultDosTime = 0x28210000;

struct PackOptions {
  Method method = Method::Best;
  int audioChannels = 1; // 1..4, for Method::Audio
  bool solid = false;
  std::string password; // empty: entries are not enciphered; at most kMaxPasswordLength characters
};

// The name an entry is stored under: separators become backslashes, leading
// separators and "." components are dropped. Empty when the name cannot be
// stored (nothing left, a ".." component, or longer than the reader accepts).
std::string storedEntryName(std::string_view name);

// Converts a Unix time to the MS-DOS date and time of the local time zone.
uint32_t dosTimeFromUnix(int64_t seconds);

class ArchiveWriter {
public:
  // Writes the marker and the archive header to `file` (which stays the caller's).
  ArchiveWriter(std::FILE* file, const PackOptions& options);
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  // Packs one entry. `name` must already be a stored name. `progress` gets the
  // input bytes done now and then.
  void addEntry(const std::string& name, std::span<const uint8_t> data, uint32_t dosTime,
                const std::function<void(uint64_t)>& progress = {});

  // Writes the end-of-archive block. Returns false if any write failed, or if
  // the password was too long to key the cipher.
  bool finish();

private:
  void writeBytes(std::span<const uint8_t> bytes);
  std::vector<uint8_t> packEntry(std::span<const uint8_t> data,
                                 const std::function<void(uint64_t)>& progress);

  std::FILE* file;
  PackOptions options;
  std::unique_ptr<StreamEncoder> stream; // the solid stream, or the current entry's
  // Keyed from the password once; each entry enciphers with a copy of it, so
  // that every entry's key stream starts afresh. None without a password.
  std::optional<ArchiveCipher> cipher;
  bool failed = false;
};

} // namespace pack
