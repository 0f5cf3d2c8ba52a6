#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "temp_dir.h"

// What a loader throws for the file, or "" when it loads.
template <typename Load> std::string failureOf(Load load) {
  try {
    load();
  } catch (const std::string& error) {
    return error;
  }
  return {};
}
