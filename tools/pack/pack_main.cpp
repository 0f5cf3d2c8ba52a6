// viriz-pack: lists, tests, extracts and creates the demo's data archives.
//   viriz-pack list ARCHIVE
//   viriz-pack test ARCHIVE [-p PASSWORD]
//   viriz-pack extract ARCHIVE NAME [-p PASSWORD] [-o OUTFILE]
//   viriz-pack create OUT [-p PASSWORD] [--solid] [--method M] [--time T] FILE...
// Entries are unpacked by the demo's own reader; the tool's own walk of the
// blocks checks what that reader does not and says what was found. Writing
// goes through the archive writer.
#include "archive/archive_cipher.h"
#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "pack/archive_scan.h"
#include "pack/archive_writer.h"
#include "pack/exit_status.h"
#include "pack/list_and_test_commands.h"
#include "pack/output_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace pack;

const char* const kHelpText =
    R"(usage: viriz-pack COMMAND ...

  viriz-pack list ARCHIVE
      Lists every entry: unpacked and packed size, method, flags (solid,
      enciphered), CRC-32 and name. Names show '/' between their parts, and
      control bytes, NUL and bytes that are not UTF-8 text as \xHH. A
      truncated or damaged archive is reported after what could be listed.

  viriz-pack test ARCHIVE [-p PASSWORD]
      Checks every block's header CRC and unpacks every entry through the
      demo's reader to check its CRC; prints one line per problem found
      (header CRC mismatch, truncation, unknown method, unsupported version,
      CRC mismatch) and a summary line.

  viriz-pack extract ARCHIVE NAME [-p PASSWORD] [-o OUTFILE]
      Writes entry NAME (case ignored, '/' and '\' alike) to OUTFILE, or to
      standard output without -o. OUTFILE is written only when the entry
      passed its CRC check, as a temporary beside it (OUTFILE.partial-XXXXXX)
      that then replaces it: a failure leaves OUTFILE as it was, and a
      symbolic link at OUTFILE is replaced, never followed. A character
      device (/dev/null) is written in place. Nothing else is ever written.

  viriz-pack create OUT [options] FILE...
      Writes a version 2.0 archive of the regular files, stored under their
      names as given (relative, with backslashes as separators). OUT is
      replaced only once the archive is complete.
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

Exit status: 0 success, 1 failure (cannot open, not an archive, truncated or
damaged header, I/O error), 2 usage error, 3 entry not found, 4 CRC mismatch
(damaged data or wrong password; for test: any problem found), 5 unsupported
(version, method, split entry, sub-block).
)";

int usageError(const std::string& message) {
  std::fprintf(stderr, "viriz-pack: %s\n(see viriz-pack --help)\n", message.c_str());
  return kExitUsage;
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

// What the reader's buffers take (the password, and when given the archive's
// path and the entry name), checked before it is called so that a long
// argument is named as such; empty when everything fits.
std::string tooLongArgument(const Arguments& args, const std::string* archive,
                            const std::string* entryName) {
  const auto tooLong = [](const char* what, size_t length, size_t most) {
    return std::string(what) + " is " + std::to_string(length) + " bytes long (" +
           std::to_string(most) + " at most)";
  };
  if (args.password && args.password->size() > kMaxPasswordLength)
    return tooLong("the password", args.password->size(), kMaxPasswordLength);
  if (archive != nullptr && archive->size() > kMaxArchiveNameLength)
    return tooLong("the archive's path", archive->size(), kMaxArchiveNameLength);
  if (entryName != nullptr && entryName->size() > kMaxEntryNameLength)
    return tooLong("the entry name", entryName->size(), kMaxEntryNameLength);
  return {};
}

int listCommand(const Arguments& args) {
  if (args.positional.size() != 1 || args.password || args.output || args.method || args.solid ||
      args.time)
    return usageError("list takes exactly one archive");
  return listArchive(args.positional[0], stdout, stderr);
}

int testCommand(const Arguments& args) {
  if (args.positional.size() != 1 || args.output || args.method || args.solid || args.time)
    return usageError("test takes one archive and an optional password");
  const std::string& archive = args.positional[0];
  if (const std::string tooLong = tooLongArgument(args, &archive, nullptr); !tooLong.empty())
    return usageError(tooLong);
  return testArchive(archive, args.password ? args.password->c_str() : nullptr, stdout, stderr);
}

bool writeWhole(std::FILE* file, const uint8_t* data, size_t size) {
  return (size == 0 || std::fwrite(data, 1, size, file) == size) && std::fflush(file) == 0;
}

// Writes the entry to OUTFILE, or to standard output without -o.
int writeEntry(const Arguments& args, const ExtractedEntry& entry) {
  const uint8_t* data = entry.data.get();
  const size_t length = static_cast<size_t>(entry.size);
  if (!args.output) {
    if (writeWhole(stdout, data, length))
      return kExitOk;
    std::fprintf(stderr, "viriz-pack: cannot write standard output: %s\n", std::strerror(errno));
    return kExitFailure;
  }
  std::string error;
  const std::unique_ptr<OutputFile> output = OutputFile::open(*args.output, error);
  if (output != nullptr && writeWhole(output->stream(), data, length) && output->commit())
    return kExitOk;
  if (output != nullptr)
    error = "cannot write " + *args.output + ": " + std::strerror(errno);
  std::fprintf(stderr, "viriz-pack: %s\n", error.c_str());
  return kExitFailure;
}

int extractCommand(const Arguments& args) {
  if (args.positional.size() != 2 || args.method || args.solid || args.time)
    return usageError("extract takes an archive and an entry name");
  const std::string& archive = args.positional[0];
  const std::string& name = args.positional[1];
  if (const std::string tooLong = tooLongArgument(args, &archive, &name); !tooLong.empty())
    return usageError(tooLong);
  std::string error;
  const std::optional<ArchiveScan> scan = scanArchive(archive, error);
  if (!scan) {
    std::fprintf(stderr, "viriz-pack: %s\n", error.c_str());
    return kExitFailure;
  }
  const auto fail = [&](const std::string& message, int status) {
    std::fprintf(stderr, "viriz-pack: %s: %s\n", archive.c_str(), message.c_str());
    return status;
  };
  const std::optional<size_t> index = findEntry(*scan, name);
  if (!index && scan->stop != ScanStop::None)
    return fail(scan->stopText, exitStatusFor(scan->stop));
  if (!index)
    return fail(printableName(name) + ": entry not found", kExitNotFound);
  const FileHeader& header = scan->entries[*index].header;
  if (!isKnownMethod(header.method))
    return fail("entry " + printableName(scan->entries[*index].name) + ": unknown method " +
                    methodName(header.method),
                kExitUnsupported);

  const ExtractedEntry entry = extractArchiveEntry(
      name.c_str(), archive.c_str(), args.password ? args.password->c_str() : nullptr);
  if (!entry.ok())
    return fail(
        describeEntryFailure(*scan, *index, entry.error, args.password && !args.password->empty()),
        exitStatusFor(entry.error));
  return writeEntry(args, entry);
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

// An input file's bytes and modification time.
struct Input {
  std::vector<uint8_t> data;
  time_t modified = 0;
};

// Reads `size` bytes; false with `error` set on a read error or a file that
// ends sooner (it shrank while being read).
bool readExactly(int descriptor, std::vector<uint8_t>& data, size_t size, std::string& error) {
  data.resize(size);
  for (size_t done = 0; done < size;) {
    const ssize_t got = read(descriptor, data.data() + done, size - done);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0) {
      error = got < 0 ? std::strerror(errno) : "it shrank while being read";
      return false;
    }
    done += size_t(got);
  }
  return true;
}

// Reads a whole input, which must be a regular file of at most 2 GiB. Opened
// without blocking, so that a pipe is refused rather than waited on.
std::optional<Input> readInput(const std::string& path, std::string& error) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  Input input;
  struct stat status;
  if (fstat(descriptor, &status) != 0)
    error = "cannot read " + path + ": " + std::strerror(errno);
  else if (!S_ISREG(status.st_mode))
    error = "cannot pack " + path + ": " +
            (S_ISDIR(status.st_mode) ? "it is a directory" : "it is not a regular file");
  else if (status.st_size > INT32_MAX)
    error = "cannot pack " + path + ": it is larger than 2 GiB";
  else if (std::string why; !readExactly(descriptor, input.data, size_t(status.st_size), why))
    error = "cannot read " + path + ": " + why;
  close(descriptor);
  if (!error.empty())
    return std::nullopt;
  input.modified = status.st_mtime;
  return input;
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
  if (const std::string tooLong = tooLongArgument(args, nullptr, nullptr); !tooLong.empty())
    return usageError(tooLong);
  options.password = args.password.value_or("");
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

  // Written beside the output, which it replaces only once complete.
  const std::string& path = args.positional[0];
  std::string error;
  const std::unique_ptr<OutputFile> output = OutputFile::open(path, error);
  const auto fail = [](const std::string& message) {
    std::fprintf(stderr, "viriz-pack: %s\n", message.c_str());
    return kExitFailure;
  };
  if (output == nullptr)
    return fail(error);
  bool written = true;
  {
    pack::ArchiveWriter writer(output->stream(), options);
    for (size_t i = 0; i < inputs.size(); ++i) {
      const std::optional<Input> input = readInput(inputs[i], error);
      if (!input)
        return fail(error);
      const Progress progress(names[i], input->data.size());
      writer.addEntry(names[i], input->data,
                      fileTimes ? pack::dosTimeFromUnix(input->modified) : dosTime,
                      [&progress](uint64_t done) { progress.update(done); });
      progress.finish();
    }
    written = writer.finish();
  }
  if (!written || !output->commit())
    return fail("cannot write " + path + ": " + std::strerror(errno));
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
  if (command == "test")
    return testCommand(args);
  if (command == "extract")
    return extractCommand(args);
  if (command == "create")
    return createCommand(args);
  return usageError("unknown command " + command);
}
