#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

// A whole file's bytes (empty when it cannot be read), and a file written
// from bytes.
inline std::vector<uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A fresh directory under the system's temp folder, removed with everything
// in it when the object goes.
class TempDir {
public:
  explicit TempDir(const std::string& prefix = "viriz-test-") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
      throw std::runtime_error("mkdtemp failed");
    root = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return root; }
  std::filesystem::path operator/(const std::string& name) const { return root / name; }
  std::string file(const std::string& name) const { return (root / name).string(); }

  // Writes a file into the directory and returns its path.
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    writeFile(root / name, bytes);
    return file(name);
  }

private:
  std::filesystem::path root;
};
