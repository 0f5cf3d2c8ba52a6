#include "flash_analysis.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <stdexcept>

namespace {

// Linear light of each 8-bit sRGB level.
std::array<float, 256> makeLinearLevels() {
  std::array<float, 256> levels{};
  for (int i = 0; i < 256; ++i) {
    const double c = i / 255.0;
    levels[i] = static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
  }
  return levels;
}

const std::array<float, 256> kLinear = makeLinearLevels();

bool isSaturatedRed(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const float r = kLinear[red];
  const float all = r + kLinear[green] + kLinear[blue];
  return all > 0.0f && r >= 0.8f * all;
}

} // namespace

float relativeLuminance(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return 0.2126f * kLinear[red] + 0.7152f * kLinear[green] + 0.0722f * kLinear[blue];
}

FlashAnalysis::FlashAnalysis(int width, int height, int framesPerSecond, FlashLimits limits)
    : width(width), height(height), rate(framesPerSecond), rule(limits) {
  if (width < rule.fieldWidth || height < rule.fieldHeight || rule.fieldWidth < 1 ||
      rule.fieldHeight < 1 || rule.fieldStride < 1)
    throw std::invalid_argument("the picture must hold a whole field");
  if (framesPerSecond < 1 || framesPerSecond > 64)
    throw std::invalid_argument("from 1 to 64 pictures a second");
  secondMask = framesPerSecond == 64 ? ~0ull : (1ull << framesPerSecond) - 1;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  direction.assign(pixels, 0);
  lowest.assign(pixels, 0.0f);
  highest.assign(pixels, 0.0f);
  recentChanges.assign(pixels, 0);
  changesInSecond.assign(pixels, 0);
  saturatedRed.assign(pixels, 0);
  areaTable.assign(static_cast<std::size_t>(width + 1) * (height + 1), 0);
}

std::size_t FlashAnalysis::pixelsOverShare() const {
  const double fieldPixels = static_cast<double>(rule.fieldWidth) * rule.fieldHeight;
  return static_cast<std::size_t>(std::floor(fieldPixels * rule.largestShareOfField)) + 1;
}

double FlashAnalysis::largestFieldShare(const std::vector<std::uint8_t>& values,
                                        std::uint8_t least) {
  const std::size_t stride = static_cast<std::size_t>(width) + 1;
  for (int y = 0; y < height; ++y) {
    std::uint32_t row = 0;
    const std::uint8_t* in = &values[static_cast<std::size_t>(y) * width];
    const std::uint32_t* above = &areaTable[static_cast<std::size_t>(y) * stride];
    std::uint32_t* out = &areaTable[static_cast<std::size_t>(y + 1) * stride];
    for (int x = 0; x < width; ++x) {
      row += in[x] >= least ? 1u : 0u;
      out[x + 1] = above[x + 1] + row;
    }
  }
  // Every stride-th field, and the last one across and down.
  auto positions = [&](int extent, int field) {
    std::vector<int> at;
    for (int p = 0; p + field <= extent; p += rule.fieldStride)
      at.push_back(p);
    if (at.back() != extent - field)
      at.push_back(extent - field);
    return at;
  };
  std::uint32_t most = 0;
  const std::vector<int> columns = positions(width, rule.fieldWidth);
  for (int top : positions(height, rule.fieldHeight)) {
    const std::uint32_t* upper = &areaTable[static_cast<std::size_t>(top) * stride];
    const std::uint32_t* lower =
        &areaTable[static_cast<std::size_t>(top + rule.fieldHeight) * stride];
    for (int left : columns) {
      const int right = left + rule.fieldWidth;
      most = std::max(most, lower[right] - lower[left] - upper[right] + upper[left]);
    }
  }
  return most / (static_cast<double>(rule.fieldWidth) * rule.fieldHeight);
}

void FlashAnalysis::addPicture(const std::vector<std::uint8_t>& rgb) {
  const std::size_t pixels = direction.size();
  if (rgb.size() != pixels * 3)
    throw std::invalid_argument("a picture of another size");
  const bool first = secondsSoFar.empty();
  const float least = rule.leastChange, darkBelow = rule.darkerStateBelow;
  std::size_t red = 0;
  int mostChanges = 0;
  std::fill(std::begin(pixelsWithChanges), std::end(pixelsWithChanges), 0);
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint8_t* colour = &rgb[3 * i];
    const float now = relativeLuminance(colour[0], colour[1], colour[2]);
    saturatedRed[i] = isSaturatedRed(colour[0], colour[1], colour[2]);
    red += saturatedRed[i];
    if (first) {
      lowest[i] = highest[i] = now;
      continue;
    }
    // A change counts once the luminance has moved far enough from the
    // extreme it left, and ends below the bright limit when going down (or
    // started below it when going up).
    bool changed = false;
    if (direction[i] >= 0 && highest[i] - now >= least && now < darkBelow) {
      direction[i] = -1;
      highest[i] = lowest[i] = now;
      changed = true;
    } else if (direction[i] <= 0 && now - lowest[i] >= least && lowest[i] < darkBelow) {
      direction[i] = 1;
      highest[i] = lowest[i] = now;
      changed = true;
    } else {
      lowest[i] = std::min(lowest[i], now);
      highest[i] = std::max(highest[i], now);
    }
    recentChanges[i] = ((recentChanges[i] << 1) | (changed ? 1u : 0u)) & secondMask;
    const int changes = static_cast<int>(std::bitset<64>(recentChanges[i]).count());
    changesInSecond[i] = static_cast<std::uint8_t>(changes);
    ++pixelsWithChanges[changes];
    mostChanges = std::max(mostChanges, changes);
  }

  if (red > 0)
    largestRedShare = std::max(largestRedShare, largestFieldShare(saturatedRed, 1));

  // The most flashes over enough of some field: from one flash up until no
  // field is covered enough, going on only for the share over the limit. A
  // count that too few pixels reach anywhere in the picture needs no table.
  SecondOfFlashes second;
  const int overLimit = rule.mostFlashesPerSecond + 1;
  std::size_t reaching = pixels;
  bool settled = false; // no field is covered enough from here on
  for (int flashes = 1; 2 * flashes <= mostChanges; ++flashes) {
    reaching -= pixelsWithChanges[2 * flashes - 2] + pixelsWithChanges[2 * flashes - 1];
    if (reaching == 0)
      break;
    settled = settled || reaching < pixelsOverShare();
    if (settled && flashes != overLimit) {
      if (flashes > overLimit)
        break;
      continue;
    }
    const double share = largestFieldShare(changesInSecond, static_cast<std::uint8_t>(2 * flashes));
    if (flashes == overLimit)
      second.shareOverLimit = share;
    if (share > rule.largestShareOfField)
      second.flashes = flashes;
    else
      settled = true;
    if (settled && flashes >= overLimit)
      break;
  }
  secondsSoFar.push_back(second);
}

FlashSummary FlashAnalysis::summary() const {
  FlashSummary summary;
  int failing = 0;
  for (std::size_t i = 0; i < secondsSoFar.size(); ++i) {
    const SecondOfFlashes& second = secondsSoFar[i];
    const double end = static_cast<double>(i + 1) / rate;
    summary.largestShareOverLimit = std::max(summary.largestShareOverLimit, second.shareOverLimit);
    if (second.flashes > summary.worstFlashes) {
      summary.worstFlashes = second.flashes;
      summary.worstSecondStart = std::max(0.0, end - 1.0);
      summary.worstShareOverLimit = second.shareOverLimit;
    }
    if (second.flashes <= rule.mostFlashesPerSecond)
      continue;
    ++failing;
    const bool continues = i > 0 && secondsSoFar[i - 1].flashes > rule.mostFlashesPerSecond;
    if (continues)
      summary.failingStretches.back().lastEnd = end;
    else
      summary.failingStretches.push_back({end, end});
  }
  summary.secondsOverLimit = static_cast<double>(failing) / rate;
  summary.passes = failing == 0;
  summary.largestSaturatedRedShare = largestRedShare;
  return summary;
}
