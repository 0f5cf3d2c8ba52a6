#include "list_and_test_commands.h"

#include "archive_scan.h"
#include "exit_status.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace pack {

namespace {

std::optional<ArchiveScan> scanOrReport(const std::string& archive, std::FILE* err) {
  std::string error;
  std::optional<ArchiveScan> scan = scanArchive(archive, error);
  if (!scan)
    std::fprintf(err, "viriz-pack: %s\n", error.c_str());
  return scan;
}

std::string flagsText(uint16_t flags) {
  std::string text;
  if (flags & kFileSolid)
    text = "solid";
  if (flags & kFileEnciphered)
    text += text.empty() ? "enciphered" : ",enciphered";
  return text.empty() ? "-" : text;
}

// The reader's verdicts on the entries, as problems; what the scan has said
// already (an unknown method, data past the end) is not said twice.
void addVerdicts(const ArchiveScan& scan, const std::vector<ArchiveError>& verdicts,
                 bool passwordGiven, std::vector<ScanProblem>& problems) {
  for (size_t i = 0; i < verdicts.size() && i < scan.entries.size(); ++i) {
    const ScannedEntry& entry = scan.entries[i];
    const bool saidAlready = !isKnownMethod(entry.header.method) ||
                             (verdicts[i] == ArchiveError::BadHeader && entry.dataEnd > scan.size);
    if (verdicts[i] != ArchiveError::None && !saidAlready)
      problems.push_back(
          {entry.blockStart, describeEntryFailure(scan, i, verdicts[i], passwordGiven)});
  }
}

// Why the reader checked fewer entries than the scan found, unless the scan's
// own stop (a damaged header, a sub-block) says it.
void addUncheckedEntries(const ArchiveScan& scan, const std::vector<ArchiveError>& verdicts,
                         ArchiveError stopped, std::vector<ScanProblem>& problems) {
  const size_t checked = std::min(verdicts.size(), scan.entries.size());
  if (stopped == ArchiveError::None || checked == scan.entries.size())
    return;
  if (scan.stop != ScanStop::None &&
      (stopped == ArchiveError::BadHeader || stopped == ArchiveError::SubBlock))
    return;
  const ScannedEntry& next = scan.entries[checked];
  if (checked > 0 && verdicts[checked - 1] == stopped) {
    problems.push_back({next.blockStart, "entries from " + printableName(next.name) +
                                             " on not checked: the solid stream does not go "
                                             "past entry " +
                                             printableName(scan.entries[checked - 1].name)});
    return;
  }
  problems.push_back({next.blockStart, "entries from " + printableName(next.name) +
                                           " on not checked: " + describeArchiveError(stopped)});
}

} // namespace

int listArchive(const std::string& archive, std::FILE* out, std::FILE* err) {
  const std::optional<ArchiveScan> scan = scanOrReport(archive, err);
  if (!scan)
    return kExitFailure;
  std::fprintf(out, "%10s %10s  %-7s  %-13s  %-8s  %s\n", "Size", "Packed", "Method", "Flags",
               "CRC", "Name");
  for (const ScannedEntry& entry : scan->entries) {
    const FileHeader& h = entry.header;
    std::fprintf(out, "%10u %10u  %-7s  %-13s  %08x  %s\n", h.unpackedSize, h.packedSize,
                 methodName(h.method).c_str(), flagsText(h.flags).c_str(), h.fileCrc,
                 printableName(entry.name).c_str());
  }
  if (scan->stop == ScanStop::None)
    return kExitOk;
  std::fprintf(err, "viriz-pack: %s: %s\n", archive.c_str(), scan->stopText.c_str());
  return exitStatusFor(scan->stop);
}

int testArchive(const std::string& archive, const char* password, std::FILE* out, std::FILE* err) {
  const std::optional<ArchiveScan> scan = scanOrReport(archive, err);
  if (!scan)
    return kExitFailure;
  std::vector<ScanProblem> problems = scan->problems;
  std::vector<ArchiveError> verdicts;
  const ArchiveError stopped = checkArchiveEntries(archive.c_str(), password, verdicts);
  addVerdicts(*scan, verdicts, password != nullptr && *password != '\0', problems);
  addUncheckedEntries(*scan, verdicts, stopped, problems);
  // The walk's stop is where it ended: after everything else.
  if (scan->stop != ScanStop::None)
    problems.push_back({scan->size, scan->stopText});
  std::stable_sort(problems.begin(), problems.end(),
                   [](const ScanProblem& a, const ScanProblem& b) { return a.offset < b.offset; });

  for (const ScanProblem& problem : problems)
    std::fprintf(out, "%s: %s\n", archive.c_str(), problem.text.c_str());
  const size_t entries = scan->entries.size();
  std::fprintf(out, "%s: %zu %s, ", archive.c_str(), entries, entries == 1 ? "entry" : "entries");
  if (problems.empty())
    std::fprintf(out, "no problems\n");
  else
    std::fprintf(out, "%zu %s\n", problems.size(), problems.size() == 1 ? "problem" : "problems");
  return problems.empty() ? kExitOk : kExitBadData;
}

} // namespace pack
