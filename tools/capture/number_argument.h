#pragma once

#include <cstdlib>

// A command-line number of the capture tools: the whole argument must read as
// one (strtod's syntax); false otherwise.
inline bool parseNumber(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0';
}
