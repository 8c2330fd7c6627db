#pragma once
// The folder side of the recording list: the program's own folder, the two remembered folders
// beside it, and which files of a folder are recordings. No widgets here.
#include <string>
#include <vector>

namespace vt::app {

// Remembered folders are 260-byte files: the text, a NUL, zero padding.
inline constexpr size_t kPathBytes = 260;

inline constexpr int kListingFailed = -1;
// A folder that was read but holds no recording (not a failure: nothing is shown).
inline constexpr int kListingEmpty = -3;

// The folder of the running executable, without a trailing separator.
std::string ProgramFolder();

// The text of a remembered-folder file (up to the first NUL or 260 bytes); empty when the file
// is missing or unreadable.
std::string ReadRememberedFolder(const std::string &file);
// Writes exactly 260 bytes. False when the folder does not fit (259 bytes at most) or the file
// cannot be written.
bool WriteRememberedFolder(const std::string &file, const std::string &folder);

// Whether a file name is listed: ends in ".mp4" in any letter case and is not hidden.
bool IsRecordingName(const std::string &name);

// The recordings of a folder: plain regular files with a recording name, as names relative to
// the folder, in no particular order. Returns false when the folder cannot be read.
bool ListRecordingNames(const std::string &folder, std::vector<std::string> *names);

}  // namespace vt::app
