// The show's start-up cost and frame rate with the default data set.
#include <benchmark/benchmark.h>

#include "app/data_folder.h"
#include "app/scene_script.h"
#include "assets/mesh_loader.h"
#include "assets/texture.h"
#include "audio/player/data_file_callbacks.h"
#include "fixed_texts.h"
#include "frame_capture.h"
#include "scene/mesh_effects.h"
#include "scene/scene_object.h"

#include <GL/gl.h>
#include <vorbis/vorbisfile.h>

#include <chrono>
#include <filesystem>
#include <memory>

namespace {

const char kBinDir[] = VIRIZ_BINARY_DIR "/bin";

// Our own share of start-up, without a window: the track out of the archive
// and opened by vorbisfile, the mesh loaded, the three pictures decoded.
void BM_StartupLoad(benchmark::State& state) {
  std::filesystem::current_path(kBinDir);
  for (auto _ : state) {
    DataFile* track = openDataFile(kMusicName);
    if (!track) {
      state.SkipWithError("no data.dat beside the programs");
      return;
    }
    OggVorbis_File decoder;
    const ov_callbacks callbacks{dataFileRead, dataFileSeek, dataFileClose, dataFileTell};
    if (ov_open_callbacks(track, &decoder, nullptr, 0, callbacks) < 0) {
      state.SkipWithError("the track does not open");
      return;
    }
    std::unique_ptr<Mesh> mesh = loadMesh(kMeshPath);
    std::unique_ptr<Texture> environment = loadTexture(kEnvironmentPicturePath);
    std::unique_ptr<Texture> logo = loadTexture(kLogoPicturePath);
    std::unique_ptr<Texture> credits = loadTexture(kCreditsPicturePath);
    benchmark::DoNotOptimize(mesh.get());
    ov_clear(&decoder);
  }
}
BENCHMARK(BM_StartupLoad)->Unit(benchmark::kMillisecond);

// Whole frames of the real scene script under Mesa at 640x480, offscreen,
// through the show (overlay included). The counters split a frame into our
// CPU work (the two mesh effects) and everything else (GL).
void BM_ShowFrame(benchmark::State& state) {
  static FrameCapture* capture = new FrameCapture(kBinDir);
  Show& show = capture->show();
  Mesh* mesh = show.sceneObject->mesh;
  const float seconds = static_cast<float>(state.range(0));
  double effectsSeconds = 0.0;
  for (auto _ : state) {
    drawFrame(show, seconds);
    glFinish();

    // The effects once more, timed on their own and outside the frame time.
    state.PauseTiming();
    Matrix4 modelview;
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview.m);
    auto start = std::chrono::steady_clock::now();
    applyRadialColor(*mesh, 0.5f, 10.0f);
    updateEnvTexCoords(*mesh, modelview);
    effectsSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.ResumeTiming();
  }
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["cpu_effects_ms"] = effectsSeconds * 1e3 / static_cast<double>(state.iterations());
}
// A frame before the overlays, one with the logo and one with the credits.
BENCHMARK(BM_ShowFrame)->Arg(5)->Arg(20)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
