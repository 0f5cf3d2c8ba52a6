#include "pack_test_support.h"

#include "archive/archive_reader.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>

namespace packtest {

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
