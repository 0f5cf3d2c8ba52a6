#include "huffman.h"

#include <algorithm>

namespace pack {

namespace {

// Package-merge: a node is either a leaf (one symbol) or a package of two
// cheaper nodes of the level below.
struct MergeNode {
  uint64_t weight;
  int symbol; // -1 for a package
  int left;
  int right;
};

void countLeaves(const std::vector<MergeNode>& nodes, int index, std::vector<uint8_t>& lengths) {
  // Packages nest at most maxLength deep, so the recursion is shallow.
  const MergeNode& node = nodes[index];
  if (node.symbol >= 0) {
    ++lengths[node.symbol];
    return;
  }
  countLeaves(nodes, node.left, lengths);
  countLeaves(nodes, node.right, lengths);
}

} // namespace

std::vector<uint8_t> limitedCodeLengths(std::span<const uint32_t> frequencies, int maxLength) {
  std::vector<uint8_t> lengths(frequencies.size(), 0);
  std::vector<int> used;
  for (size_t i = 0; i < frequencies.size(); ++i)
    if (frequencies[i] > 0)
      used.push_back(static_cast<int>(i));
  if (used.empty())
    return lengths;
  if (used.size() == 1) {
    lengths[used[0]] = 1;
    return lengths;
  }
  // Ties keep symbol order, so equal inputs always give equal lengths.
  std::stable_sort(used.begin(), used.end(),
                   [&](int a, int b) { return frequencies[a] < frequencies[b]; });

  std::vector<MergeNode> nodes;
  nodes.reserve(used.size() * 2 * static_cast<size_t>(maxLength));
  std::vector<int> leaves;
  for (int symbol : used) {
    leaves.push_back(static_cast<int>(nodes.size()));
    nodes.push_back({frequencies[symbol], symbol, -1, -1});
  }

  std::vector<int> level = leaves;
  for (int depth = 1; depth < maxLength; ++depth) {
    std::vector<int> packages;
    for (size_t i = 0; i + 1 < level.size(); i += 2) {
      packages.push_back(static_cast<int>(nodes.size()));
      nodes.push_back(
          {nodes[level[i]].weight + nodes[level[i + 1]].weight, -1, level[i], level[i + 1]});
    }
    std::vector<int> merged;
    merged.reserve(leaves.size() + packages.size());
    std::merge(leaves.begin(), leaves.end(), packages.begin(), packages.end(),
               std::back_inserter(merged),
               [&](int a, int b) { return nodes[a].weight < nodes[b].weight; });
    level = std::move(merged);
  }

  // The 2n - 2 cheapest nodes of the top level hold every leaf as often as its code is long.
  for (size_t i = 0; i < 2 * used.size() - 2; ++i)
    countLeaves(nodes, level[i], lengths);
  return lengths;
}

std::vector<uint16_t> canonicalCodes(std::span<const uint8_t> lengths) {
  uint32_t countPerLength[16] = {};
  for (uint8_t length : lengths)
    ++countPerLength[length];
  countPerLength[0] = 0;
  uint32_t nextCode[16] = {};
  uint32_t code = 0;
  for (int length = 1; length < 16; ++length) {
    code = (code + countPerLength[length - 1]) << 1;
    nextCode[length] = code;
  }
  std::vector<uint16_t> codes(lengths.size(), 0);
  for (size_t symbol = 0; symbol < lengths.size(); ++symbol)
    if (lengths[symbol] != 0)
      codes[symbol] = static_cast<uint16_t>(nextCode[lengths[symbol]]++);
  return codes;
}

} // namespace pack
