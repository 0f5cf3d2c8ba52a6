#include "pack_test_support.h"

#include "archive/archive_reader.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace packtest {

std::vector<uint8_t> makeText(size_t size, uint32_t seed) {
  static const char* const words[] = {"the",    "window", "archive", "music",  "beat",  "scene",
                                      "camera", "light",  "sweeps",  "across", "mesh",  "and",
                                      "of",     "to",     "in",      "a",      "frame", "clock",
                                      "buffer", "stream", "symbol",  "table",  "ring",  "overlay"};
  std::mt19937 random(seed);
  std::vector<uint8_t> text;
  text.reserve(size);
  size_t lineLength = 0;
  while (text.size() < size) {
    const char* word = words[random() % std::size(words)];
    for (const char* c = word; *c && text.size() < size; ++c)
      text.push_back(static_cast<uint8_t>(*c));
    lineLength += 6;
    if (text.size() < size)
      text.push_back(lineLength > 60 ? '\n' : ' ');
    if (lineLength > 60)
      lineLength = 0;
    if (random() % 50 == 0) {
      // Numbers break up the vocabulary now and then.
      for (char c : std::to_string(random() % 100000))
        if (text.size() < size)
          text.push_back(static_cast<uint8_t>(c));
    }
  }
  return text;
}

std::vector<uint8_t> makeBinary(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data;
  data.reserve(size);
  uint32_t counter = 0;
  while (data.size() < size) {
    switch (random() % 3) {
    case 0: // a table of little-endian records with slowly changing fields
      for (int i = 0; i < 64; ++i) {
        const uint32_t record[3] = {counter++, static_cast<uint32_t>(0x4000 + (random() % 16) * 4),
                                    static_cast<uint32_t>(random() % 7)};
        for (uint32_t field : record)
          for (int b = 0; b < 4; ++b)
            data.push_back(static_cast<uint8_t>(field >> (8 * b)));
      }
      break;
    case 1: { // code-like bytes: a few opcodes with small operands
      static const uint8_t opcodes[] = {0x8B, 0x89, 0xE8, 0x48, 0x83, 0xC3, 0x55, 0x5D, 0x0F};
      for (int i = 0; i < 300; ++i) {
        data.push_back(opcodes[random() % std::size(opcodes)]);
        if (random() % 2)
          data.push_back(static_cast<uint8_t>(random() % 32));
      }
      break;
    }
    default: // a little noise
      for (int i = 0; i < 64; ++i)
        data.push_back(static_cast<uint8_t>(random()));
    }
  }
  data.resize(size);
  return data;
}

std::vector<uint8_t> makePcm(size_t size, int channels, int bytesPerSample, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data;
  data.reserve(size);
  double phase = 0;
  while (data.size() < size) {
    phase += 0.031;
    for (int channel = 0; channel < channels; ++channel) {
      const double value = 0.5 * std::sin(phase * (1 + channel)) + 0.2 * std::sin(phase * 7.3) +
                           (random() % 100) / 5000.0;
      const int32_t sample = static_cast<int32_t>(value * (bytesPerSample == 2 ? 20000 : 100));
      for (int b = 0; b < bytesPerSample; ++b)
        data.push_back(static_cast<uint8_t>(sample >> (8 * b)));
    }
  }
  data.resize(size);
  return data;
}

std::vector<uint8_t> makeNoise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data(size);
  for (uint8_t& byte : data)
    byte = static_cast<uint8_t>(random());
  return data;
}

std::vector<uint8_t> writeArchive(const std::filesystem::path& file,
                                  const std::vector<Entry>& entries,
                                  const pack::PackOptions& options) {
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr)
    throw std::runtime_error("cannot create " + file.string());
  bool written = false;
  {
    pack::ArchiveWriter writer(out, options);
    for (const Entry& entry : entries)
      writer.addEntry(entry.name, entry.data, pack::kDefaultDosTime);
    written = writer.finish();
  }
  std::fclose(out);
  if (!written)
    throw std::runtime_error("cannot write " + file.string());
  return readFile(file);
}

bool extract(const std::filesystem::path& archive, const std::string& name,
             const std::string& password, std::vector<uint8_t>& data) {
  const ExtractedEntry entry = extractArchiveEntry(name.c_str(), archive.c_str(),
                                                   password.empty() ? nullptr : password.c_str());
  data.assign(entry.data.get(), entry.data.get() + entry.size);
  return entry.ok();
}

std::vector<uint8_t> readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& file, const std::vector<uint8_t>& data) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

} // namespace packtest

namespace packtest {

std::string quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) {
    if (c == '\'')
      result += "'\\''";
    else
      result += c;
  }
  return result + "'";
}

CommandResult runCommand(const std::string& command, const std::filesystem::path& dir) {
  const auto outFile = dir / "command.out";
  const auto errFile = dir / "command.err";
  const std::string full =
      command + " >" + quoted(outFile.string()) + " 2>" + quoted(errFile.string());
  const int raw = std::system(full.c_str());
  CommandResult result;
  if (raw != -1 && WIFEXITED(raw))
    result.status = WEXITSTATUS(raw);
  const auto out = readFile(outFile);
  const auto err = readFile(errFile);
  result.out.assign(out.begin(), out.end());
  result.err.assign(err.begin(), err.end());
  std::filesystem::remove(outFile);
  std::filesystem::remove(errFile);
  return result;
}

std::string packTool() {
  return std::string(VIRIZ_BINARY_DIR) + "/bin/viriz-pack";
}

} // namespace packtest
