#pragma once
// The incident report: one A4 page for an insurer, the police or a court, about one moment of a
// recording. It shows the picture of that moment at full resolution, what identifies the file
// (name, size, SHA-256), the time, place, speed and G values the camera recorded then, the G
// curves of the whole recording with the moment marked, the recording's events and a sketch of the
// track. All text is text in the PDF, so it can be searched and copied.
//
// Needs a QGuiApplication (fonts); the offscreen platform is enough. Runs on the calling thread;
// the window calls it on its UI thread, vantrec-tool from main().
#include <QDateTime>
#include <QImage>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace vt::report {

struct ReportRequest {
    std::string recording;
    int64_t at_ms = 0;         // time in the recording
    std::string output;        // the PDF; written through a temporary file beside it
    double threshold_g = 1.0;  // events threshold
    QDateTime made;            // when the report is made; invalid: now
};

// What went onto the page, as printed (for the caller's messages and for tests).
struct ReportFacts {
    std::string file_name;
    uint64_t file_size = 0;
    std::string sha256;
    QString date_time;       // from the data text of the moment's record ("--" without one)
    QString position;        // "46.948433, 7.448011" or "no GPS fix"
    QString speed;           // "52.3 km/h" or "--"
    QString g_values;        // "X +0.22 G  Y +0.06 G  Z +0.00 G"
    int64_t picture_ms = 0;  // time of the picture shown
    int picture_width = 0, picture_height = 0;
    size_t events = 0;
};

// Decodes the picture shown at `at_ms` (the last one starting at or before it) at its full size.
bool DecodePictureAt(const std::string &recording, int64_t at_ms, QImage *picture,
                     int64_t *picture_ms, std::string *error);

// Writes the report. False with a one-line reason when the recording cannot be read (or is not
// the camera's: the model check fails), the time lies outside it, or the PDF cannot be written;
// no partial PDF is left behind then.
bool WriteIncidentReport(const ReportRequest &request, ReportFacts *facts, std::string *error);

}  // namespace vt::report
