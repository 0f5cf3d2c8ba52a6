// viriz-pack's list and test commands. Each returns the tool's exit status;
// `out` takes the listing or the test's findings, `err` the errors.
#pragma once

#include <cstdio>
#include <string>

namespace pack {

// Lists every entry (sizes, method, flags, CRC, name shown safely); a
// truncated or damaged archive is reported after what could be listed.
int listArchive(const std::string& archive, std::FILE* out, std::FILE* err);

// Checks every header CRC and every entry's CRC (deciphered with `password`,
// null for none), one line per problem; kExitBadData when there is any.
int testArchive(const std::string& archive, const char* password, std::FILE* out, std::FILE* err);

} // namespace pack
