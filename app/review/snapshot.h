#pragma once
// Snapshots: the decoded picture, at its own size and without the text drawn over it, saved as a
// PNG in the user's Pictures folder under a name that tells the recording and the moment.
#include <QImage>
#include <QString>
#include <cstdint>

namespace vt::app::review {

// The user's Pictures folder (created when missing); empty when the system names none.
QString DefaultSnapshotFolder();

// "20261108_083000_01m02.345s.png" for recording "20261108_083000.mp4" at 62345 ms.
QString SnapshotName(const QString &recording, int32_t position_ms);

// Writes the picture into `folder` under SnapshotName, adding "-2", "-3"... instead of replacing
// a file already there. The path written, or empty on failure.
QString SaveSnapshot(const QImage &picture, const QString &folder, const QString &recording,
                     int32_t position_ms);

}  // namespace vt::app::review
