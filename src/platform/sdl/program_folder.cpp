#include "platform/program_folder.h"

#include <SDL.h>

// SDL asks the system (/proc/self/exe on Linux) without starting a subsystem.
std::string programFolder() {
  char* base = SDL_GetBasePath();
  if (!base)
    return {};
  std::string folder = base;
  SDL_free(base);
  return folder;
}
