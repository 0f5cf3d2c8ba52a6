#pragma once

#include <string>

// The folder that holds the running program's executable, as an absolute
// path; empty when the system cannot tell.
std::string programFolder();
