#pragma once
// The subtitle (SubRip) and map (GPX) files that go beside an exported clip, made from the sensor
// records copied into the clip, so their times are the clip's own. Any thread; no Qt needed.
#include <string>

namespace vt::report {

// Reads the clip's records and writes both files, each through a temporary file renamed into
// place. False with a one-line reason (nothing left behind) when the clip's records cannot be
// read or a file cannot be written.
bool WriteClipSidecars(const std::string &clip, const std::string &srt, const std::string &gpx,
                       std::string *error);

}  // namespace vt::report
