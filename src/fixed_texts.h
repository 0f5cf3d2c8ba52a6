#pragma once

// The texts a viewer sees and the names the data set is found by. They must
// stay exactly as they are, odd wording included: data sets made for the show
// are found by these names, and viewers and their scripts know the program by
// these texts (the end-to-end tests compare them byte for byte).

// The data set: the archive, the music entry in it, and the files beside it.
inline constexpr const char* kDataArchiveName = "data.dat";
inline constexpr const char* kMusicName = "kelvo.ogg";
inline constexpr const char* kDataFolderPrefix = "data/";
inline constexpr const char* kMeshPath = "data/viriz.mesh";
inline constexpr const char* kEnvironmentPicturePath = "data/tex.png";
inline constexpr const char* kLogoPicturePath = "data/logo.png";
inline constexpr const char* kCreditsPicturePath = "data/creds.png";

inline constexpr const char* kWindowTitle = "test";

// The window's start-up failures, the same on every platform.
inline constexpr const char* kDisplaySettingsFailedText = "Failed to change display settings";
inline constexpr const char* kRegisterWindowClassFailedText = "Failed to Register window class";
inline constexpr const char* kCreateWindowFailedText = "Failed to create window";
inline constexpr const char* kChoosePixelFormatFailedText = "Failed to choose pixelformat";
inline constexpr const char* kCreateContextFailedText = "Failed to create OpenGL context";

// Error texts of the start-up and of each frame.
inline constexpr const char* kNoSoundText = "fuck!";
inline constexpr const char* kNoMusicText = "jalla";
inline constexpr const char* kUnknownInternalErrorText = "Unknown internal error";
inline constexpr const char* kNotEnoughKeysText = "not enough keys";
// A cache's failure: kFailedToLoadText, the name, a line break, the reason.
inline constexpr const char* kFailedToLoadText = "Failed to load ";
inline constexpr const char* kUnknownErrorText = "Unknown error";
inline constexpr const char* kNullObjectText = "NULL-object returned";
inline constexpr const char* kFileNotFoundText = "File not found";
inline constexpr const char* kCorruptFileText = "Corrupt file";
inline constexpr const char* kNotAPngText = "Not a PNG Texture";
inline constexpr const char* kOutOfMemoryText = "Out of memory";

// Printed on standard output for each damaged stretch of the music.
inline constexpr const char* kBitstreamErrorText = "error in bitstream\n";
