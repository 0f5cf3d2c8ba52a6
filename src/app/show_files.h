#pragma once

// The show's files, by the paths it opens them with, relative to the data
// folder. The music's name is looked up in the archive first (see
// archive/data_file.h).
inline constexpr const char* kMeshPath = "data/viriz.mesh";
inline constexpr const char* kEnvironmentPicturePath = "data/tex.png";
inline constexpr const char* kLogoPicturePath = "data/logo.png";
inline constexpr const char* kCreditsPicturePath = "data/creds.png";
