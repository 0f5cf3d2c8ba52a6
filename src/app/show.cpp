#include "app/show.h"

#include "app/data_folder.h"
#include "app/scene_script.h"
#include "fixed_texts.h"

#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "assets/texture.h"
#include "audio/player/data_file_callbacks.h"
#include "audio/player/music_player.h"
#include "scene/scene_object.h"

#include <GL/gl.h>
#include <vorbis/vorbisfile.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

void loadShow(Show& show) {
  // Lasting GL state: overlays at depth 0 pass over the mesh, and the colour
  // is opaque white until a colour array replaces it.
  glDepthFunc(GL_LEQUAL);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);

  Mesh* mesh = meshCache.get(kMeshPath);
  show.sceneObject = new SceneObject(mesh, nullptr);

  show.environmentTexture = textureCache.get(kEnvironmentPicturePath);
  show.logoTexture = textureCache.get(kLogoPicturePath);
  show.creditsTexture = textureCache.get(kCreditsPicturePath);

  // One beat long: bright at the beat, dark in between.
  show.fadeTrack.addKey({0.0f, 1.0f});
  show.fadeTrack.addKey({0.1f, 0.0f});
  show.fadeTrack.addKey({0.9f, 0.0f});
  show.fadeTrack.addKey({1.0f, 1.0f});
}

// The first frame of each kind (the scene alone, under the logo, under the
// credits) would otherwise pay for the GL driver's first use of its state:
// textures made resident, shader variants compiled. Paid here, before the
// music starts, it cannot make that frame, and its beat, come late.
void warmUpDrawing(Show& show) {
  for (const float beat : {1.0f, 33.0f, 161.0f})
    drawFrame(show, beat / beatTimeOf(1.0f));
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glFinish();
}

std::chrono::milliseconds audioCalibration(const char* text) {
  if (!text || !*text)
    return std::chrono::milliseconds(0);
  char* end = nullptr;
  errno = 0;
  const long milliseconds = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || milliseconds < -kLongestCalibrationMs ||
      milliseconds > kLongestCalibrationMs) {
    std::fprintf(stderr, "%s: not a number of milliseconds from -%ld to %ld: \"%s\", ignored\n",
                 kAudioCalibrationVariable, kLongestCalibrationMs, kLongestCalibrationMs, text);
    return std::chrono::milliseconds(0);
  }
  return std::chrono::milliseconds(milliseconds);
}

void startShow(Show& show, WindowHandle window, float startSeconds) {
  MusicPlayer::setCalibration(audioCalibration(std::getenv(kAudioCalibrationVariable)));
  if (!MusicPlayer::initSound(window))
    throw std::string(kNoSoundText);
  if (!MusicPlayer::openMusic(openDataFile(kMusicName), startSeconds))
    throw std::string(kNoMusicText);
  loadShow(show);
  warmUpDrawing(show);
  // Last, so that no loading time eats into the music.
  MusicPlayer::startStreaming();
}

void releaseShow() {
  MusicPlayer::stop();
}

double musicLength() {
  DataFile* track = openDataFile(kMusicName);
  if (!track)
    return -1.0;
  OggVorbis_File decoder;
  const ov_callbacks callbacks{dataFileRead, dataFileSeek, dataFileClose, dataFileTell};
  if (ov_open_callbacks(track, &decoder, nullptr, 0, callbacks) < 0) {
    dataFileClose(track);
    return -1.0;
  }
  const double seconds = ov_time_total(&decoder, -1);
  ov_clear(&decoder);
  return seconds;
}
