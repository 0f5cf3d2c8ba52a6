#include "frame_capture.h"

#include "app/data_folder.h"
#include "app/scene_script.h"
#include "audio/player/data_file_callbacks.h"
#include "fixed_texts.h"

#include <GL/gl.h>
#include <vorbis/vorbisfile.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>

FrameCapture::FrameCapture(const std::string& dataDir) {
  std::filesystem::current_path(dataDir);
  // No display needed: SDL's offscreen driver gives a GL context of its own.
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  // SDL would turn SIGTERM and SIGINT into events that a capture never reads:
  // a long capture must stay stoppable.
  setenv("SDL_NO_SIGNAL_HANDLERS", "1", 1);
  WindowDescription description{"capture", kWidth, kHeight};
  description.depthBits = 24;
  window = std::make_unique<GlWindow>(description);
  loadShow(theShow);
}

std::vector<std::uint8_t> FrameCapture::render(float seconds) {
  drawFrame(theShow, seconds);
  glFinish();

  std::vector<std::uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  window->swapBuffers();

  // GL's rows run bottom up.
  const size_t stride = static_cast<size_t>(kWidth) * 3;
  for (int y = 0; y < kHeight / 2; ++y)
    std::swap_ranges(rgb.begin() + y * stride, rgb.begin() + (y + 1) * stride,
                     rgb.begin() + (kHeight - 1 - y) * stride);
  return rgb;
}

namespace {

void writeLittleEndian(FILE* file, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    std::fputc(static_cast<int>((value >> (8 * i)) & 0xFF), file);
}

} // namespace

bool writeMusicWav(const std::string& path, double from, double to) {
  constexpr std::uint32_t kRate = 44100, kBlock = 4;
  // The format's sizes are 32 bits: a longer stretch cannot be written.
  if (!(from >= 0.0 && to >= from &&
        (to - from) * kRate * kBlock <= double(std::numeric_limits<std::uint32_t>::max() - 36)))
    return false;
  DataFile* track = openDataFile(kMusicName);
  if (!track)
    return false;
  OggVorbis_File decoder;
  const ov_callbacks callbacks{dataFileRead, dataFileSeek, dataFileClose, dataFileTell};
  if (ov_open_callbacks(track, &decoder, nullptr, 0, callbacks) < 0) {
    dataFileClose(track);
    return false;
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    ov_clear(&decoder);
    return false;
  }
  const std::uint64_t wanted = static_cast<std::uint64_t>((to - from) * kRate) * kBlock;
  std::fwrite("RIFF", 1, 4, file);
  writeLittleEndian(file, static_cast<std::uint32_t>(36 + wanted), 4);
  std::fwrite("WAVEfmt ", 1, 8, file);
  writeLittleEndian(file, 16, 4);
  writeLittleEndian(file, 1, 2); // PCM
  writeLittleEndian(file, 2, 2);
  writeLittleEndian(file, kRate, 4);
  writeLittleEndian(file, kRate * kBlock, 4);
  writeLittleEndian(file, kBlock, 2);
  writeLittleEndian(file, 16, 2);
  std::fwrite("data", 1, 4, file);
  writeLittleEndian(file, static_cast<std::uint32_t>(wanted), 4);

  if (from > 0.0)
    ov_time_seek(&decoder, from);
  // After the track the demo plays silence; so does the file.
  std::vector<char> buffer(16384);
  std::uint64_t written = 0;
  int errorsInARow = 0;
  while (written < wanted) {
    int section = 0;
    long want = static_cast<long>(std::min<std::uint64_t>(buffer.size(), wanted - written));
    long got = ov_read(&decoder, buffer.data(), static_cast<int>(want), 0, 2, 1, &section);
    // A damaged stream reports a hole once and goes on; one that never
    // recovers counts as ended.
    if (got < 0 && ++errorsInARow < 64)
      continue;
    if (got > 0)
      errorsInARow = 0;
    if (got <= 0) {
      std::fill(buffer.begin(), buffer.end(), 0);
      got = want;
    }
    std::fwrite(buffer.data(), 1, static_cast<size_t>(got), file);
    written += static_cast<std::uint64_t>(got);
  }
  ov_clear(&decoder);
  return std::fclose(file) == 0;
}

std::string frameNameForTime(double seconds) {
  char name[64];
  std::snprintf(name, sizeof name, "frame-%09.3f.png", seconds);
  return name;
}
