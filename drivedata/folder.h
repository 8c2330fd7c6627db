#pragma once
// Which files of a folder are recordings, and what their names tell: the one rule shared by the
// window's recording list, the trips and the tools.
#include <cstdint>
#include <string>
#include <vector>

#include "drivedata/sensor_rows.h"

namespace vt::drivedata {

// Listed: a name ending in ".mp4" in any letter case, not hidden (no leading dot).
bool IsRecordingName(const std::string &name);
// Listed but never opened: the camera's names beginning "HDA".
bool IsRefusedName(const std::string &name);

// The recordings of a folder: regular files with a recording name, as names relative to the
// folder, in no particular order. False when the folder cannot be read.
bool ListRecordingNames(const std::string &folder, std::vector<std::string> *names);

// The list's order: letter case ignored (ASCII), then byte order so that the order is total.
bool ListOrderLess(const std::string &a, const std::string &b);

// The recording's start from a name "YYYYMMDD_HHMMSS.mp4" (any letter case in the extension;
// a leading folder is ignored), as the camera's local time. False for any other name or an
// impossible date.
bool StartFromName(const std::string &name, DateTime *start);

// Seconds of a local date and time counted from 1970-01-01 00:00:00 of the same clock (no zone).
int64_t LocalSeconds(const DateTime &t);
// The inverse of LocalSeconds.
DateTime FromLocalSeconds(int64_t seconds);
// "2026-11-08T08:30:00" (ISO 8601 without a zone: the camera's clock has none).
std::string FormatIsoLocal(const DateTime &t);

}  // namespace vt::drivedata
