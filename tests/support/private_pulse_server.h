#pragma once

#include "temp_dir.h"

#include <string>
#include <sys/types.h>

// A PulseAudio server of the caller's own, with one null sink named "null"
// at 44.1 kHz stereo, in its own folders: HOME, XDG_RUNTIME_DIR and
// PULSE_SERVER point at it for as long as the object lives, and SDL's driver
// choice is cleared so that the Linux sound backend finds the server.
class PrivatePulseServer {
public:
  PrivatePulseServer();
  ~PrivatePulseServer();
  PrivatePulseServer(const PrivatePulseServer&) = delete;
  PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

  // True once the server answers.
  bool ready() const { return answering; }

  // Runs a shell command (pactl, say) against the server; its standard output.
  static std::string run(const std::string& command);

private:
  TempDir directory;
  pid_t server = 0;
  bool answering = false;
};
