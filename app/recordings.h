#pragma once
// The folder side of the recording list: the program's own folder, the two remembered folders
// beside it, which files of a folder are recordings, and the list's grouping by trip.
#include <cstdint>
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

class CSkinListBox;

// "2026-11-08 08:30:00 · 14:05 · 12.3 km": a trip's header line in the recording list; with
// `miles`, "· 7.6 mi" (or feet under a tenth of a mile).
std::string TripHeaderText(const std::string &iso_start, int64_t duration_ms, double distance_m,
                           bool miles = false);

// Groups the list's entries by trip: reads the recordings of `folder` on a worker thread (only
// their sensor records, a few kilobytes each) and, once every trip is known, puts a header line
// above each trip's first recording, and one above recordings that follow a trip but belong to
// none. A later call for the same list abandons an earlier reading; so does the list's end.
void GroupListByTrip(CSkinListBox *list, const std::string &folder);

}  // namespace vt::app
