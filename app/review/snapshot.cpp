#include "app/review/snapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>

namespace vt::app::review {

QString DefaultSnapshotFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty()) return {};
    QDir().mkpath(folder);
    return folder;
}

QString SnapshotName(const QString &recording, int32_t position_ms) {
    QString stem = QFileInfo(recording).completeBaseName();
    if (stem.isEmpty()) stem = QStringLiteral("snapshot");
    const int32_t ms = std::max<int32_t>(0, position_ms);
    return stem + QString::asprintf("_%02dm%02d.%03ds.png", ms / 60000, ms / 1000 % 60, ms % 1000);
}

QString SaveSnapshot(const QImage &picture, const QString &folder, const QString &recording,
                     int32_t position_ms) {
    if (picture.isNull() || folder.isEmpty()) return {};
    const QDir dir(folder);
    const QString name = SnapshotName(recording, position_ms);
    QString path = dir.filePath(name);
    for (int n = 2; QFileInfo::exists(path); ++n) {
        QString numbered = name;
        numbered.insert(name.size() - 4, QStringLiteral("-%1").arg(n));
        path = dir.filePath(numbered);
    }
    return picture.save(path, "PNG") ? path : QString();
}

}  // namespace vt::app::review
