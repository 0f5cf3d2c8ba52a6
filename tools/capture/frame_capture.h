#pragma once

#include "app/show.h"
#include "platform/gl_window.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Renders the show offscreen at 640x480 through the demo's own start-up and
// scene script, with the clock given instead of the music's.
class FrameCapture {
public:
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 480;

  // Loads the show from dataDir (the folder holding data.dat and data/),
  // which becomes the working directory. Throws the show's error texts.
  explicit FrameCapture(const std::string& dataDir);

  // The frame at `seconds` of music as RGB bytes, top row first.
  std::vector<std::uint8_t> render(float seconds);

  Show& show() { return theShow; }

private:
  std::unique_ptr<GlWindow> window;
  Show theShow;
};

// Decodes the music from `from` to `to` seconds into a 16-bit stereo WAV file.
// False when the stretch is not one or does not fit a WAV file (4 GiB), the
// track cannot be opened or the file written.
bool writeMusicWav(const std::string& path, double from, double to);

// "frame-00012.345.png": names that sort in time order.
std::string frameNameForTime(double seconds);
