// viriz-pack: lists, extracts and creates the demo's data archives.
//   viriz-pack list ARCHIVE
//   viriz-pack extract ARCHIVE NAME [-p PASSWORD] [-o OUTFILE]
//   viriz-pack create OUT [-p PASSWORD] [--solid] [--method M] [--time T] FILE...
// Reading goes through the demo's own reader; writing through the archive writer.
#include "archive/archive_cipher.h"
#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "pack/archive_writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Exit statuses, also listed in the help text.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;     // cannot open, not an archive, damaged headers, I/O errors
constexpr int kExitUsage = 2;       // bad command line
constexpr int kExitNotFound = 3;    // no entry of that name
constexpr int kExitBadData = 4;     // CRC mismatch: damaged data or wrong password
constexpr int kExitUnsupported = 5; // unpack version, split entry or sub-block the reader refuses

const char* const kHelpText =
    R"(usage: viriz-pack COMMAND ...

  viriz-pack list ARCHIVE
      Lists every entry: unpacked and packed size, method, flags (solid,
      enciphered), CRC-32 and name.

  viriz-pack extract ARCHIVE NAME [-p PASSWORD] [-o OUTFILE]
      Writes entry NAME (case ignored, '/' and '\' alike) to OUTFILE, or to
      standard output without -o. Nothing but OUTFILE is ever written, and
      OUTFILE only when the entry passed its CRC check.

  viriz-pack create OUT [options] FILE...
      Writes a version 2.0 archive of the files, stored under their names as
      given (relative, with backslashes as separators).
      -p, --password PASSWORD   encipher every entry
      --solid                   one compressed stream across all entries
      --method store|fast|best|audio:N
                                store: no compression; fast: quick matching;
                                best (default): thorough matching, and each
                                entry may use audio mode if that is smaller;
                                audio:N: audio mode with N = 1..4 channels
      --time YYYY-MM-DD[THH:MM:SS] | mtime
                                time stamp of every entry: the given local
                                time, or each file's modification time; the
                                default is 2000-01-01 00:00:00, so that the
                                same files always give the same archive

Exit status: 0 success, 1 failure (cannot open, not an archive, damaged
header, I/O error), 2 usage error, 3 entry not found, 4 CRC mismatch (damaged
data or wrong password), 5 unsupported (version, split entry, sub-block).
)";

int usageError(const std::string& message) {
  std::fprintf(stderr, "viriz-pack: %s\n(see viriz-pack --help)\n", message.c_str());
  return kExitUsage;
}

int exitStatusFor(ArchiveError error) {
  switch (error) {
  case ArchiveError::None:
    return kExitOk;
  case ArchiveError::NotFound:
    return kExitNotFound;
  case ArchiveError::BadData:
    return kExitBadData;
  case ArchiveError::UnsupportedVersion:
  case ArchiveError::SplitEntry:
  case ArchiveError::SubBlock:
    return kExitUnsupported;
  default:
    return kExitFailure;
  }
}

// Arguments after the command: options with values, flags, and the rest.
struct Arguments {
  std::vector<std::string> positional;
  std::optional<std::string> password;
  std::optional<std::string> output;
  std::optional<std::string> method;
  std::optional<std::string> time;
  bool solid = false;
  std::string error;
};

Arguments parseArguments(int argc, char** argv, int first) {
  Arguments args;
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&](std::optional<std::string>& slot) {
      if (i + 1 >= argc)
        args.error = "option " + arg + " needs a value";
      else
        slot = argv[++i];
    };
    if (arg == "-p" || arg == "--password")
      value(args.password);
    else if (arg == "-o" || arg == "--output")
      value(args.output);
    else if (arg == "--method")
      value(args.method);
    else if (arg == "--time")
      value(args.time);
    else if (arg == "--solid")
      args.solid = true;
    else if (arg == "--")
      for (++i; i < argc; ++i)
        args.positional.push_back(argv[i]);
    else if (arg.size() > 1 && arg[0] == '-')
      args.error = "unknown option " + arg;
    else
      args.positional.push_back(arg);
    if (!args.error.empty())
      break;
  }
  return args;
}

const char* methodName(uint8_t method) {
  static const char* const kMethodNames[] = {"store", "fastest", "fast", "normal", "good", "best"};
  return method >= kMethodStored && method <= kMethodBest ? kMethodNames[method - kMethodStored]
                                                          : "?";
}

int listCommand(const Arguments& args) {
  if (args.positional.size() != 1 || args.password || args.output || args.method || args.solid)
    return usageError("list takes exactly one archive");
  const std::string& archive = args.positional[0];
  std::vector<ArchiveEntryInfo> entries;
  const ArchiveError error = listArchiveEntries(archive.c_str(), entries);
  std::printf("%10s %10s  %-7s  %-13s  %-8s  %s\n", "Size", "Packed", "Method", "Flags", "CRC",
              "Name");
  for (const ArchiveEntryInfo& entry : entries) {
    std::string flags;
    if (entry.flags & kFileSolid)
      flags = "solid";
    if (entry.flags & kFileEnciphered)
      flags += flags.empty() ? "enciphered" : ",enciphered";
    if (flags.empty())
      flags = "-";
    std::printf("%10u %10u  %-7s  %-13s  %08x  %s\n", entry.unpackedSize, entry.packedSize,
                methodName(entry.method), flags.c_str(), entry.crc, entry.name.c_str());
  }
  if (error != ArchiveError::None) {
    std::fprintf(stderr, "viriz-pack: %s: %s\n", archive.c_str(), describeArchiveError(error));
    return exitStatusFor(error);
  }
  return kExitOk;
}

bool writeWhole(std::FILE* file, const uint8_t* data, size_t size) {
  return (size == 0 || std::fwrite(data, 1, size, file) == size) && std::fflush(file) == 0;
}

int extractCommand(const Arguments& args) {
  if (args.positional.size() != 2 || args.method || args.solid || args.time)
    return usageError("extract takes an archive and an entry name");
  const std::string& archive = args.positional[0];
  const std::string& name = args.positional[1];
  const ExtractedEntry entry = extractArchiveEntry(
      name.c_str(), archive.c_str(), args.password ? args.password->c_str() : nullptr);
  if (!entry.ok()) {
    std::fprintf(stderr, "viriz-pack: %s: %s: %s\n", archive.c_str(), name.c_str(),
                 describeArchiveError(entry.error));
    return exitStatusFor(entry.error);
  }
  const uint8_t* data = entry.data.get();
  const size_t length = static_cast<size_t>(entry.size);
  bool written;
  if (args.output) {
    std::FILE* file = std::fopen(args.output->c_str(), "wb");
    written = file != nullptr && writeWhole(file, data, length);
    if (file != nullptr && std::fclose(file) != 0)
      written = false;
    if (file != nullptr && !written)
      std::remove(args.output->c_str());
  } else {
    written = writeWhole(stdout, data, length);
  }
  if (!written) {
    std::fprintf(stderr, "viriz-pack: cannot write %s: %s\n",
                 args.output ? args.output->c_str() : "standard output", std::strerror(errno));
    return kExitFailure;
  }
  return kExitOk;
}

bool parseMethod(const std::string& text, pack::PackOptions& options) {
  if (text == "store")
    options.method = pack::Method::Store;
  else if (text == "fast")
    options.method = pack::Method::Fast;
  else if (text == "best")
    options.method = pack::Method::Best;
  else if (text.size() == 7 && text.starts_with("audio:") && text[6] >= '1' && text[6] <= '4') {
    options.method = pack::Method::Audio;
    options.audioChannels = text[6] - '0';
  } else
    return false;
  return true;
}

// Parses YYYY-MM-DD[THH:MM:SS] as a local time.
std::optional<uint32_t> parseTime(const std::string& text) {
  std::tm local{};
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &local.tm_year, &local.tm_mon, &local.tm_mday,
                  &consumed) != 3)
    return std::nullopt;
  if (static_cast<size_t>(consumed) != text.size() &&
      (std::sscanf(text.c_str() + consumed, "T%2d:%2d:%2d%n", &local.tm_hour, &local.tm_min,
                   &local.tm_sec, &consumed) != 3 ||
       text.size() != static_cast<size_t>(consumed) + 10))
    return std::nullopt;
  if (local.tm_year < 1980 || local.tm_year > 2107 || local.tm_mon < 1 || local.tm_mon > 12 ||
      local.tm_mday < 1 || local.tm_mday > 31 || local.tm_hour > 23 || local.tm_min > 59 ||
      local.tm_sec > 59)
    return std::nullopt;
  return static_cast<uint32_t>(((local.tm_year - 1980) << 25) | (local.tm_mon << 21) |
                               (local.tm_mday << 16) | (local.tm_hour << 11) | (local.tm_min << 5) |
                               (local.tm_sec / 2));
}

bool readWhole(const std::string& path, std::vector<uint8_t>& data) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A progress line on standard error, only when that is a terminal.
class Progress {
public:
  Progress(const std::string& name, uint64_t total)
      : name(name), total(total), shown(total >= kMinimumSize && isatty(STDERR_FILENO)) {}
  void update(uint64_t done) const {
    if (shown)
      std::fprintf(stderr, "\rviriz-pack: %s %3d%%", name.c_str(),
                   static_cast<int>(done * 100 / total));
  }
  void finish() const {
    if (shown)
      std::fprintf(stderr, "\rviriz-pack: %s done\n", name.c_str());
  }

private:
  static constexpr uint64_t kMinimumSize = 1 << 20;
  std::string name;
  uint64_t total;
  bool shown;
};

int createCommand(const Arguments& args) {
  if (args.positional.size() < 2 || args.output)
    return usageError("create takes an output archive and at least one file");
  pack::PackOptions options;
  options.solid = args.solid;
  if (args.method && !parseMethod(*args.method, options))
    return usageError("unknown method " + *args.method);
  if (args.password) {
    if (args.password->size() > kMaxPasswordLength)
      return usageError("the password is longer than 255 characters");
    options.password = *args.password;
  }
  const bool fileTimes = args.time && *args.time == "mtime";
  uint32_t dosTime = pack::kDefaultDosTime;
  if (args.time && !fileTimes) {
    const auto parsed = parseTime(*args.time);
    if (!parsed)
      return usageError("bad time " + *args.time + " (YYYY-MM-DD[THH:MM:SS] or mtime)");
    dosTime = *parsed;
  }
  const std::vector<std::string> inputs(args.positional.begin() + 1, args.positional.end());
  std::vector<std::string> names;
  for (const std::string& input : inputs) {
    names.push_back(pack::storedEntryName(input));
    if (names.back().empty())
      return usageError("cannot store " + input +
                        " (empty, a \"..\" component, or a name over 259 characters)");
  }

  // Written beside the output and renamed at the end, so that a failure never
  // leaves a half-written archive under the wanted name.
  const std::string& output = args.positional[0];
  const std::string temporary = output + ".partial";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "viriz-pack: cannot create %s: %s\n", temporary.c_str(),
                 std::strerror(errno));
    return kExitFailure;
  }
  const auto fail = [&](const std::string& message) {
    std::fprintf(stderr, "viriz-pack: %s\n", message.c_str());
    std::fclose(file);
    std::remove(temporary.c_str());
    return kExitFailure;
  };

  bool ok = true;
  {
    pack::ArchiveWriter writer(file, options);
    for (size_t i = 0; i < inputs.size(); ++i) {
      std::vector<uint8_t> data;
      if (!readWhole(inputs[i], data))
        return fail("cannot read " + inputs[i] + ": " + std::strerror(errno));
      if (data.size() > static_cast<size_t>(INT32_MAX))
        return fail(inputs[i] + " is too large (2 GiB at most)");
      uint32_t entryTime = dosTime;
      struct stat status;
      if (fileTimes && stat(inputs[i].c_str(), &status) == 0)
        entryTime = pack::dosTimeFromUnix(status.st_mtime);
      const Progress progress(names[i], data.size());
      writer.addEntry(names[i], data, entryTime,
                      [&progress](uint64_t done) { progress.update(done); });
      progress.finish();
    }
    ok = writer.finish();
  }
  if (!ok)
    return fail("cannot write " + temporary + ": " + std::strerror(errno));
  if (std::fclose(file) != 0 || std::rename(temporary.c_str(), output.c_str()) != 0) {
    std::fprintf(stderr, "viriz-pack: cannot write %s: %s\n", output.c_str(), std::strerror(errno));
    std::remove(temporary.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2)
    return usageError("no command given");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kHelpText, stdout);
    return kExitOk;
  }
  const Arguments args = parseArguments(argc, argv, 2);
  if (!args.error.empty())
    return usageError(args.error);
  if (command == "list")
    return listCommand(args);
  if (command == "extract")
    return extractCommand(args);
  if (command == "create")
    return createCommand(args);
  return usageError("unknown command " + command);
}
