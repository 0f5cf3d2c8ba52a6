#include "archive_writer.h"

#include "archive/archive_cipher.h"
#include "archive/archive_format.h"
#include "archive/crc32.h"

#include <ctime>
#include <vector>

namespace pack {

namespace {

// The MS-DOS "archive" attribute, which every packed file gets.
constexpr uint32_t kArchiveAttribute = 0x20;

// The header CRC is the low 16 bits of the CRC-32 of the header after the CRC field.
void sealHeader(std::vector<uint8_t>& header) {
  const uint32_t crc = ~crc32Update(0xFFFFFFFF, header.data() + 2, header.size() - 2);
  storeLe16(header.data(), static_cast<uint16_t>(crc));
}

std::vector<uint8_t> archiveHeader(bool solid) {
  std::vector<uint8_t> header(kArchiveHeaderSize);
  encodeArchiveHeader({0, kBlockArchive, solid ? kArchiveSolid : uint16_t{0},
                       static_cast<uint16_t>(kArchiveHeaderSize), 0, 0},
                      header.data());
  sealHeader(header);
  return header;
}

std::vector<uint8_t> endOfArchive() {
  std::vector<uint8_t> header(kMinBlockHeaderSize);
  header[2] = kBlockEnd;
  storeLe16(header.data() + 3, kBlockSkipIfUnknown);
  storeLe16(header.data() + 5, static_cast<uint16_t>(kMinBlockHeaderSize));
  sealHeader(header);
  return header;
}

uint8_t methodByte(Method method) {
  switch (method) {
  case Method::Store:
    return kMethodStored;
  case Method::Fast:
    return kMethodFastest;
  case Method::Best:
  case Method::Audio:
    break;
  }
  return kMethodBest;
}

// Enciphers an entry's packed bytes, whole blocks, with its own copy of the
// keyed cipher: every entry's key stream starts afresh from the password.
void encipher(std::vector<uint8_t>& packed, ArchiveCipher cipher) {
  for (size_t offset = 0; offset < packed.size(); offset += kCipherBlockSize)
    cipher.encryptBlock(packed.data() + offset);
}

} // namespace

std::string storedEntryName(std::string_view name) {
  std::string stored;
  size_t pos = 0;
  while (pos <= name.size()) {
    size_t next = name.find_first_of("/\\", pos);
    if (next == std::string_view::npos)
      next = name.size();
    const std::string_view part = name.substr(pos, next - pos);
    pos = next + 1;
    if (part.empty() || part == ".")
      continue;
    if (part == "..")
      return {};
    if (!stored.empty())
      stored += '\\';
    stored += part;
  }
  if (stored.size() > kMaxEntryNameLength)
    return {};
  return stored;
}

uint32_t dosTimeFromUnix(int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr || local.tm_year < 80)
    return kDefaultDosTime;
  // Date in the high half: years since 1980, month, day; time in the low half
  // with two-second resolution.
  const uint32_t date = static_cast<uint32_t>(((local.tm_year - 80) << 9) |
                                              ((local.tm_mon + 1) << 5) | local.tm_mday);
  const uint32_t clock =
      static_cast<uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return date << 16 | clock;
}

ArchiveWriter::ArchiveWriter(std::FILE* file, const PackOptions& options)
    : file(file), options(options) {
  if (!options.password.empty()) {
    cipher = ArchiveCipher::fromPassword(options.password.c_str());
    failed = !cipher;
  }
  writeBytes(kMarker);
  writeBytes(archiveHeader(options.solid));
}

ArchiveWriter::~ArchiveWriter() = default;

void ArchiveWriter::writeBytes(std::span<const uint8_t> bytes) {
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
    failed = true;
}

std::vector<uint8_t> ArchiveWriter::packEntry(std::span<const uint8_t> data,
                                              const std::function<void(uint64_t)>& progress) {
  const uint32_t blockSize = cipher ? kCipherBlockSize : 1;
  if (options.method == Method::Store) {
    std::vector<uint8_t> packed(data.begin(), data.end());
    packed.resize((packed.size() + blockSize - 1) / blockSize * blockSize, 0);
    return packed;
  }
  if (!options.solid || !stream)
    stream = std::make_unique<StreamEncoder>(options.method == Method::Fast ? fastEffort()
                                                                            : bestEffort());
  EntryCoding coding;
  if (options.method == Method::Audio)
    coding = {EntryCoding::Kind::Audio, options.audioChannels};
  else if (options.method == Method::Best)
    coding = {EntryCoding::Kind::Automatic, 1};
  return stream->encodeEntry(data, coding, blockSize, progress);
}

void ArchiveWriter::addEntry(const std::string& name, std::span<const uint8_t> data,
                             uint32_t dosTime, const std::function<void(uint64_t)>& progress) {
  // Entries after the first of a solid stream continue it.
  const bool continuesStream = options.solid && stream != nullptr;
  std::vector<uint8_t> packed = packEntry(data, progress);
  const bool enciphered = cipher.has_value();
  if (enciphered)
    encipher(packed, *cipher);

  FileHeader entry{};
  entry.type = kBlockFile;
  entry.flags = static_cast<uint16_t>(kBlockHasData | kFileDictionary1MiB |
                                      (enciphered ? kFileEnciphered : 0) |
                                      (continuesStream ? kFileSolid : 0));
  entry.headerSize = static_cast<uint16_t>(kFileHeaderSize + name.size());
  entry.packedSize = static_cast<uint32_t>(packed.size());
  entry.unpackedSize = static_cast<uint32_t>(data.size());
  entry.hostSystem = kHostWin32;
  entry.fileCrc = ~crc32Update(0xFFFFFFFF, data.data(), data.size());
  entry.time = dosTime;
  entry.unpackVersion = kUnpackVersion20;
  entry.method = methodByte(options.method);
  entry.nameSize = static_cast<uint16_t>(name.size());
  entry.attributes = kArchiveAttribute;

  std::vector<uint8_t> header(kFileHeaderSize);
  encodeFileHeader(entry, header.data());
  header.insert(header.end(), name.begin(), name.end());
  sealHeader(header);
  writeBytes(header);
  writeBytes(packed);
}

bool ArchiveWriter::finish() {
  writeBytes(endOfArchive());
  if (std::fflush(file) != 0)
    failed = true;
  return !failed;
}

} // namespace pack
