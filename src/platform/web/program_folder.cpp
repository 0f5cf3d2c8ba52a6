#include "platform/program_folder.h"

// The page loads the program's data into the root of its in-memory file
// system, beside the program as the desktop builds have it.
std::string programFolder() {
  return "/";
}
