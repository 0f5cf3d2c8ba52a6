// Deterministic inputs for the archive writer's tests and the benchmarks: the
// same seed gives the same bytes, so benchmark figures stay comparable across
// runs and a shorter sample of a seed is a prefix of a longer one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace samples {

// Words of a Zipf-like vocabulary, punctuation, numbers and lines.
std::vector<uint8_t> makeText(size_t size, uint32_t seed = 20);
// Tables of records, machine-code-like runs, strings and some noise.
std::vector<uint8_t> makeBinary(size_t size, uint32_t seed = 21);
// Interleaved PCM at 44.1 kHz (8- or 16-bit samples): a tone for each
// channel, a shared one and a little noise.
std::vector<uint8_t> makePcm(size_t size, int channels = 2, int bytesPerSample = 2,
                             uint32_t seed = 22);
// Uniform random bytes: nothing to compress.
std::vector<uint8_t> makeNoise(size_t size, uint32_t seed = 4);

} // namespace samples
