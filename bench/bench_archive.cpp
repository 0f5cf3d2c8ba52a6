// Extraction speed of the archive reader against two inflates on the same
// data, zlib's and libdeflate's: output megabytes per second. Archives are
// written once by the archive writer (best method unless stated) into a
// temporary folder.
//
// BM_ExtractCompressed times a whole extraction: opening and reading the
// archive file, the reader's output allocation, decoding and the CRC check.
// BM_UnpackCompressed times the work zlib's uncompress does in
// BM_ZlibUncompress: the decoder on the entry's packed bytes in memory, into
// a buffer reused across iterations, and the check of the output's CRC-32
// (uncompress checks its Adler-32). BM_LibdeflateDecompress does the same
// with libdeflate, a whole-buffer inflate built for speed, on the same data
// compressed by libdeflate at zlib's level.
#include "app/data_password.h"
#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "archive/crc32.h"
#include "archive/unpacker.h"
#include "pack/archive_writer.h"
#include "sample_data.h"
#include "temp_dir.h"

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using samples::makeBinary;
using samples::makePcm;
using samples::makeText;

constexpr size_t CorpusSize = 16 << 20;

// The archives' folder, removed at exit.
TempDir& scratch() {
  static TempDir folder("viriz-bench-");
  return folder;
}

struct Corpus {
  std::vector<uint8_t> data;
  std::string archive;
  uint64_t packedSize = 0;
  std::vector<uint8_t> packed; // the entry's packed bytes, as stored in the archive
  uint32_t crc = 0;
  std::vector<uint8_t> zlibData;
  std::vector<uint8_t> libdeflateData; // zlib format, as zlibData
};

// The level both inflates' data are compressed at.
constexpr int DeflateLevel = 6;

const char* const EntryName = "data.bin";

Corpus buildCorpus(const std::string& label, std::vector<uint8_t> data,
                   const pack::PackOptions& options) {
  Corpus corpus;
  corpus.data = std::move(data);
  corpus.archive = (scratch() / (label + ".rar")).string();
  std::FILE* file = std::fopen(corpus.archive.c_str(), "wb");
  if (file == nullptr)
    throw std::runtime_error("cannot create " + corpus.archive);
  pack::ArchiveWriter writer(file, options);
  writer.addEntry(EntryName, corpus.data, pack::kDefaultDosTime);
  if (!writer.finish() || std::fclose(file) != 0)
    throw std::runtime_error("cannot write " + corpus.archive);
  corpus.packedSize = std::filesystem::file_size(corpus.archive);

  // The one entry's data follow the marker, the archive header and its file header.
  const std::vector<uint8_t> archive = readFile(corpus.archive);
  if (archive.size() != corpus.packedSize)
    throw std::runtime_error("cannot read " + corpus.archive);
  const size_t headerStart = kMarkerSize + kArchiveHeaderSize;
  const FileHeader header = parseFileHeader(archive.data() + headerStart);
  const auto dataStart = archive.begin() + ptrdiff_t(headerStart + header.headerSize);
  corpus.packed.assign(dataStart, dataStart + header.packedSize);
  corpus.crc = header.fileCrc;

  uLongf zlibSize = compressBound(corpus.data.size());
  corpus.zlibData.resize(zlibSize);
  if (compress2(corpus.zlibData.data(), &zlibSize, corpus.data.data(), corpus.data.size(),
                DeflateLevel) != Z_OK)
    throw std::runtime_error("compress2 failed");
  corpus.zlibData.resize(zlibSize);

  libdeflate_compressor* compressor = libdeflate_alloc_compressor(DeflateLevel);
  if (compressor == nullptr)
    throw std::runtime_error("libdeflate_alloc_compressor failed");
  corpus.libdeflateData.resize(libdeflate_zlib_compress_bound(compressor, corpus.data.size()));
  const size_t libdeflateSize =
      libdeflate_zlib_compress(compressor, corpus.data.data(), corpus.data.size(),
                               corpus.libdeflateData.data(), corpus.libdeflateData.size());
  libdeflate_free_compressor(compressor);
  if (libdeflateSize == 0)
    throw std::runtime_error("libdeflate_zlib_compress failed");
  corpus.libdeflateData.resize(libdeflateSize);
  return corpus;
}

enum class Content { Text, Binary, Pcm, StoredEnciphered };

const Corpus& corpus(Content content) {
  static std::map<Content, Corpus> built;
  auto found = built.find(content);
  if (found != built.end())
    return found->second;
  pack::PackOptions options;
  std::string label;
  std::vector<uint8_t> data;
  switch (content) {
  case Content::Text:
    label = "text";
    data = makeText(CorpusSize);
    break;
  case Content::Binary:
    label = "binary";
    data = makeBinary(CorpusSize);
    break;
  case Content::Pcm:
    // Bytes of 16-bit stereo samples interleave as four channels.
    label = "pcm";
    data = makePcm(CorpusSize / 2);
    options.method = pack::Method::Audio;
    options.audioChannels = 4;
    break;
  case Content::StoredEnciphered:
    label = "stored";
    data = makeBinary(CorpusSize);
    options.method = pack::Method::Store;
    options.password = kDataArchivePassword;
    break;
  }
  return built.emplace(content, buildCorpus(label, std::move(data), options)).first->second;
}

void extractLoop(benchmark::State& state, const Corpus& c, const char* password) {
  for (auto _ : state) {
    const ExtractedEntry entry = extractArchiveEntry(EntryName, c.archive.c_str(), password);
    if (!entry.ok() || static_cast<size_t>(entry.size) != c.data.size()) {
      state.SkipWithError("extraction failed");
      break;
    }
    benchmark::DoNotOptimize(entry.data.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
  state.counters["packed_ratio"] =
      static_cast<double>(c.packedSize) / static_cast<double>(c.data.size());
}

void BM_ExtractCompressed(benchmark::State& state, Content content) {
  extractLoop(state, corpus(content), nullptr);
}

// Packed bytes served from memory, as the reader serves them from the file.
struct MemoryInput {
  const uint8_t* bytes;
  size_t left;
  static size_t read(void* context, uint8_t* buffer, size_t count) {
    auto* self = static_cast<MemoryInput*>(context);
    count = std::min(count, self->left);
    std::memcpy(buffer, self->bytes, count);
    self->bytes += count;
    self->left -= count;
    return count;
  }
};

void BM_UnpackCompressed(benchmark::State& state, Content content) {
  const Corpus& c = corpus(content);
  Unpacker unpacker;
  std::vector<uint8_t> window(kUnpackWindowSize);
  std::vector<uint8_t> out(c.data.size());
  for (auto _ : state) {
    MemoryInput input{c.packed.data(), c.packed.size()};
    UnpackOutput output{out.data(), out.size(), 0};
    unpacker.unpackEntry(window.data(), false, out.size(), PackedSource{MemoryInput::read, &input},
                         output);
    if (output.delivered != out.size() ||
        ~crc32Update(0xFFFFFFFFu, out.data(), out.size()) != c.crc) {
      state.SkipWithError("unpacking failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
  state.counters["packed_ratio"] =
      static_cast<double>(c.packed.size()) / static_cast<double>(c.data.size());
}

void BM_ZlibUncompress(benchmark::State& state, Content content) {
  const Corpus& c = corpus(content);
  std::vector<uint8_t> out(c.data.size());
  for (auto _ : state) {
    uLongf size = out.size();
    if (uncompress(out.data(), &size, c.zlibData.data(), c.zlibData.size()) != Z_OK ||
        size != c.data.size()) {
      state.SkipWithError("uncompress failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
  state.counters["packed_ratio"] =
      static_cast<double>(c.zlibData.size()) / static_cast<double>(c.data.size());
}

void BM_LibdeflateDecompress(benchmark::State& state, Content content) {
  const Corpus& c = corpus(content);
  std::vector<uint8_t> out(c.data.size());
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  if (decompressor == nullptr) {
    state.SkipWithError("libdeflate_alloc_decompressor failed");
    return;
  }
  for (auto _ : state) {
    size_t size = 0;
    if (libdeflate_zlib_decompress(decompressor, c.libdeflateData.data(), c.libdeflateData.size(),
                                   out.data(), out.size(), &size) != LIBDEFLATE_SUCCESS ||
        size != c.data.size()) {
      state.SkipWithError("libdeflate_zlib_decompress failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  libdeflate_free_decompressor(decompressor);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
  state.counters["packed_ratio"] =
      static_cast<double>(c.libdeflateData.size()) / static_cast<double>(c.data.size());
}

void BM_ExtractAudio(benchmark::State& state) {
  extractLoop(state, corpus(Content::Pcm), nullptr);
}

void BM_ExtractStoredEnciphered(benchmark::State& state) {
  extractLoop(state, corpus(Content::StoredEnciphered), kDataArchivePassword);
}

BENCHMARK_CAPTURE(BM_ExtractCompressed, text, Content::Text)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UnpackCompressed, text, Content::Text)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibUncompress, text, Content::Text)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LibdeflateDecompress, text, Content::Text)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExtractCompressed, binary, Content::Binary)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UnpackCompressed, binary, Content::Binary)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibUncompress, binary, Content::Binary)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LibdeflateDecompress, binary, Content::Binary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractAudio)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractStoredEnciphered)->Unit(benchmark::kMillisecond);

} // namespace
