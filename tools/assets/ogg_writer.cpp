#include "ogg_writer.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace assets_gen {

namespace {

constexpr int kStreamSerial = 0x7669727a;
constexpr int64_t kFramesPerBlock = 1024;

using File = std::unique_ptr<FILE, decltype(&std::fclose)>;

// All encoder state in one place, released in reverse order of creation.
struct Encoder {
  vorbis_info info;
  vorbis_comment comment;
  vorbis_dsp_state dsp;
  vorbis_block block;
  ogg_stream_state stream;

  explicit Encoder(float quality) {
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, 2, kSampleRate, quality) != 0) {
      vorbis_info_clear(&info);
      throw std::runtime_error("vorbis encoder rejected the settings");
    }
    vorbis_comment_init(&comment);
    vorbis_comment_add_tag(&comment, "TITLE", "kelvo");
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_init(&stream, kStreamSerial);
  }
  ~Encoder() {
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
  }
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
};

void writePage(FILE* file, const ogg_page& page) {
  if (std::fwrite(page.header, 1, static_cast<size_t>(page.header_len), file) !=
          static_cast<size_t>(page.header_len) ||
      std::fwrite(page.body, 1, static_cast<size_t>(page.body_len), file) !=
          static_cast<size_t>(page.body_len))
    throw std::runtime_error("cannot write the Ogg file");
}

// The three Vorbis headers go on pages of their own before any audio.
void writeHeaders(Encoder& encoder, FILE* file) {
  ogg_packet identification, comments, codebooks;
  vorbis_analysis_headerout(&encoder.dsp, &encoder.comment, &identification, &comments, &codebooks);
  ogg_stream_packetin(&encoder.stream, &identification);
  ogg_stream_packetin(&encoder.stream, &comments);
  ogg_stream_packetin(&encoder.stream, &codebooks);
  ogg_page page;
  while (ogg_stream_flush(&encoder.stream, &page) != 0)
    writePage(file, page);
}

// Moves every finished block through the encoder into full pages on disk.
void drainEncoder(Encoder& encoder, FILE* file) {
  ogg_packet packet;
  ogg_page page;
  while (vorbis_analysis_blockout(&encoder.dsp, &encoder.block) == 1) {
    vorbis_analysis(&encoder.block, nullptr);
    vorbis_bitrate_addblock(&encoder.block);
    while (vorbis_bitrate_flushpacket(&encoder.dsp, &packet) == 1) {
      ogg_stream_packetin(&encoder.stream, &packet);
      while (ogg_stream_pageout(&encoder.stream, &page) != 0)
        writePage(file, page);
    }
  }
}

} // namespace

void writeOggVorbis(const std::string& path, const StereoBuffer& audio, float quality) {
  File file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file)
    throw std::runtime_error("cannot create " + path);
  Encoder encoder(quality);
  writeHeaders(encoder, file.get());

  for (int64_t first = 0; first < audio.frames(); first += kFramesPerBlock) {
    int64_t count = std::min(kFramesPerBlock, audio.frames() - first);
    float** channels = vorbis_analysis_buffer(&encoder.dsp, static_cast<int>(count));
    for (int64_t i = 0; i < count; ++i) {
      channels[0][i] = audio.left[static_cast<size_t>(first + i)];
      channels[1][i] = audio.right[static_cast<size_t>(first + i)];
    }
    vorbis_analysis_wrote(&encoder.dsp, static_cast<int>(count));
    drainEncoder(encoder, file.get());
  }
  // Zero samples written marks the end of the stream.
  vorbis_analysis_wrote(&encoder.dsp, 0);
  drainEncoder(encoder, file.get());
  ogg_page page;
  while (ogg_stream_flush(&encoder.stream, &page) != 0)
    writePage(file.get(), page);
  if (std::fclose(file.release()) != 0)
    throw std::runtime_error("cannot write " + path);
}

} // namespace assets_gen
