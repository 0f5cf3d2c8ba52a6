// Helpers shared by the writer and tool tests: archive writing and reading
// shortcuts, and running the tool.
#pragma once

#include "pack/archive_writer.h"
#include "sample_data.h"
#include "temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace packtest {

struct Entry {
  std::string name;
  std::vector<uint8_t> data;
};

using samples::makeBinary;
using samples::makeNoise;
using samples::makePcm;
using samples::makeText;

// Writes an archive of the given entries (names as stored) and returns its bytes.
std::vector<uint8_t> writeArchive(const std::filesystem::path& file,
                                  const std::vector<Entry>& entries,
                                  const pack::PackOptions& options);

// Extracts through the demo's reader; false when the reader refuses.
bool extract(const std::filesystem::path& archive, const std::string& name,
             const std::string& password, std::vector<uint8_t>& data);

} // namespace packtest

namespace packtest {

// Quotes a string for the shell.
std::string quoted(const std::string& text);

struct CommandResult {
  int status = -1; // exit status, -1 if the command did not exit normally
  std::string out;
  std::string err;
};

// Runs a shell command with standard output and error captured in `dir`.
CommandResult runCommand(const std::string& command, const std::filesystem::path& dir);

// The viriz-pack binary of this build.
std::string packTool();

} // namespace packtest
