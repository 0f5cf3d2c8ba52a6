#include "test_tracks.h"

#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

constexpr int kRate = 44100;

void appendPage(std::vector<std::uint8_t>& out, const ogg_page& page) {
  out.insert(out.end(), page.header, page.header + page.header_len);
  out.insert(out.end(), page.body, page.body + page.body_len);
}

} // namespace

std::vector<std::uint8_t> encodeTestTrack(double seconds) {
  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, 2, kRate, 0.3f) != 0)
    throw std::runtime_error("vorbis_encode_init_vbr failed");
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, 0x5eed);

  std::vector<std::uint8_t> out;
  ogg_packet header, commentHeader, codebooks;
  vorbis_analysis_headerout(&dsp, &comment, &header, &commentHeader, &codebooks);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &commentHeader);
  ogg_stream_packetin(&stream, &codebooks);
  ogg_page page;
  while (ogg_stream_flush(&stream, &page))
    appendPage(out, page);

  // Hands every finished block to the stream and every full page to `out`.
  const auto drain = [&] {
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page))
          appendPage(out, page);
      }
    }
  };

  const long frames = std::lround(seconds * kRate);
  std::uint32_t noise = 12345;
  double phase = 0.0;
  constexpr long kChunk = 1024;
  for (long start = 0; start < frames; start += kChunk) {
    const long count = std::min(kChunk, frames - start);
    float** channels = vorbis_analysis_buffer(&dsp, static_cast<int>(count));
    for (long i = 0; i < count; ++i) {
      const double t = static_cast<double>(start + i) / kRate;
      phase += 2.0 * M_PI * (220.0 + 180.0 * t) / kRate;
      noise = noise * 1664525u + 1013904223u;
      const double hiss = (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.05;
      channels[0][i] = static_cast<float>(0.4 * std::sin(phase) + hiss);
      channels[1][i] = static_cast<float>(0.4 * std::sin(1.5 * phase) - hiss);
    }
    vorbis_analysis_wrote(&dsp, static_cast<int>(count));
    drain();
  }
  vorbis_analysis_wrote(&dsp, 0);
  drain();
  while (ogg_stream_flush(&stream, &page))
    appendPage(out, page);

  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}

std::vector<std::uint8_t> damageOnePage(std::vector<std::uint8_t> track) {
  std::vector<std::size_t> pages;
  for (std::size_t i = 0; i + 4 <= track.size(); ++i)
    if (track[i] == 'O' && track[i + 1] == 'g' && track[i + 2] == 'g' && track[i + 3] == 'S')
      pages.push_back(i);
  if (pages.size() < 6)
    throw std::runtime_error("track too short to damage");
  const std::size_t middle = pages.size() / 2;
  track[(pages[middle] + pages[middle + 1]) / 2] ^= 0x5a;
  return track;
}

DecodedTrack decodeTrack(const std::vector<std::uint8_t>& track) {
  const TempDir dir("viriz-audio-ref-");
  const std::string path = dir.write("track.ogg", track);
  OggVorbis_File file;
  if (ov_fopen(path.c_str(), &file) != 0)
    throw std::runtime_error("reference decoder cannot open the track");
  DecodedTrack decoded;
  char buffer[4096];
  for (;;) {
    int logicalStream = 0;
    const long got = ov_read(&file, buffer, sizeof buffer, 0, 2, 1, &logicalStream);
    if (got == 0)
      break;
    if (got < 0)
      ++decoded.holes;
    else
      decoded.pcm.insert(decoded.pcm.end(), buffer, buffer + got);
  }
  ov_clear(&file);
  return decoded;
}

DataDirectory::DataDirectory() : previous(std::filesystem::current_path()) {
  std::filesystem::create_directory(root / "data");
  std::filesystem::current_path(root.path());
}

DataDirectory::~DataDirectory() {
  std::filesystem::current_path(previous);
}

void DataDirectory::addFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  writeFile(root / "data" / name, bytes);
}

DataFile* DataDirectory::open(const std::string& name) const {
  return loadDataFile((root / "data" / name).c_str());
}

long findBytes(const std::vector<std::uint8_t>& haystack, const std::uint8_t* needle,
               std::size_t length) {
  const auto found = std::search(haystack.begin(), haystack.end(), needle, needle + length);
  return found == haystack.end() ? -1 : static_cast<long>(found - haystack.begin());
}
