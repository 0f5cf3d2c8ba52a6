#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

// A fresh directory under the system's temp folder, removed with its contents.
class TempDir {
public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "viriz-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      throw std::runtime_error("mkdtemp failed");
    }
    root = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }

  std::string path(const std::string& name) const { return (root / name).string(); }

  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path(name);
  }

private:
  std::filesystem::path root;
};

// What a loader throws for the file, or "" when it loads.
template <typename Load> std::string failureOf(Load load) {
  try {
    load();
  } catch (const std::string& error) {
    return error;
  }
  return {};
}
