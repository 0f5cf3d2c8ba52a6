#include "sample_data.h"

#include <cmath>
#include <iterator>
#include <random>
#include <string>

namespace samples {

std::vector<uint8_t> makeText(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::string> vocabulary;
  for (int i = 0; i < 2000; ++i) {
    std::string word;
    const int length = 2 + static_cast<int>(random() % 8);
    for (int j = 0; j < length; ++j)
      word += static_cast<char>('a' + random() % 26);
    vocabulary.push_back(word);
  }
  std::vector<uint8_t> text;
  text.reserve(size + 64);
  size_t column = 0;
  while (text.size() < size) {
    // Rank r is drawn with probability about 1/r.
    const double u = std::uniform_real_distribution<double>(0, 1)(random);
    const size_t rank = static_cast<size_t>(std::pow(vocabulary.size(), u)) - 1;
    const std::string& word = vocabulary[rank % vocabulary.size()];
    text.insert(text.end(), word.begin(), word.end());
    column += word.size() + 1;
    const uint32_t r = random() % 100;
    if (r < 6)
      text.push_back(',');
    else if (r < 9)
      text.push_back('.');
    else if (r < 10)
      for (char c : std::to_string(random() % 10000))
        text.push_back(static_cast<uint8_t>(c));
    text.push_back(column > 72 ? '\n' : ' ');
    if (column > 72)
      column = 0;
  }
  text.resize(size);
  return text;
}

std::vector<uint8_t> makeBinary(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data;
  data.reserve(size + 4096);
  uint32_t counter = 0;
  const auto put32 = [&](uint32_t v) {
    for (int b = 0; b < 4; ++b)
      data.push_back(static_cast<uint8_t>(v >> (8 * b)));
  };
  while (data.size() < size) {
    switch (random() % 4) {
    case 0:
      for (int i = 0; i < 128; ++i) {
        put32(counter++);
        put32(0x00400000u + static_cast<uint32_t>(random() % 64) * 16);
        put32(static_cast<uint32_t>(random() % 5));
      }
      break;
    case 1: {
      static const uint8_t opcodes[] = {0x8B, 0x89, 0xE8, 0x48, 0x83, 0xC3, 0x55,
                                        0x5D, 0x0F, 0x84, 0x85, 0x74, 0x75, 0xFF};
      for (int i = 0; i < 600; ++i) {
        data.push_back(opcodes[random() % std::size(opcodes)]);
        if (random() % 3 == 0)
          data.push_back(static_cast<uint8_t>(0x40 + random() % 8));
        if (random() % 4 == 0)
          put32(0x00401000u + static_cast<uint32_t>(random() % 4096));
      }
      break;
    }
    case 2:
      for (const char* s : {"GetProcAddress", "LoadLibraryA", "kernel32.dll", "error %d\n"})
        for (const char* c = s; *c || (data.push_back(0), false); ++c)
          data.push_back(static_cast<uint8_t>(*c));
      break;
    default:
      for (int i = 0; i < 256; ++i)
        data.push_back(static_cast<uint8_t>(random()));
    }
  }
  data.resize(size);
  return data;
}

std::vector<uint8_t> makePcm(size_t size, int channels, int bytesPerSample, uint32_t seed) {
  std::mt19937 random(seed);
  const double scale = bytesPerSample == 2 ? 30000 : 100;
  std::vector<uint8_t> data;
  data.reserve(size + 8);
  for (double t = 0; data.size() < size; t += 1.0 / 44100) {
    for (int channel = 0; channel < channels; ++channel) {
      const double value = 0.4 * std::sin(2 * M_PI * (220 + 110 * channel) * t) +
                           0.2 * std::sin(2 * M_PI * 1375 * t) +
                           static_cast<double>(random() % 200) / 100000.0;
      const int32_t sample = static_cast<int32_t>(value * scale);
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

} // namespace samples
