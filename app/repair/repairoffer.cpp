#include "app/repair/repairoffer.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>

#include "engine/repair/repair.h"

namespace vt::app {

namespace {

bool AskUser(QWidget *owner, const QString &question) {
    return QMessageBox::question(owner, QStringLiteral("Vantrec Player"), question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

QString PickFolder(QWidget *owner, const QString &title, const QString &start) {
    return QFileDialog::getExistingDirectory(owner, title, start);
}

// Keeps the wait cursor up while the copy is written.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

}  // namespace

bool IsCutOffRecording(const QString &path) {
    return !path.isEmpty() && RepairIndexMissing(QFile::encodeName(path).constData());
}

QString DefaultRepairFolder() {
    QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return videos.isEmpty() ? QDir::homePath() : videos;
}

QString RepairedCopyPath(const QString &broken, const QString &folder) {
    const QFileInfo original(broken);
    const QDir dir(folder);
    QString path = dir.filePath(original.fileName());
    const auto taken = [&](const QString &p) {
        return QFileInfo::exists(p) ||
               QFileInfo(p).absoluteFilePath() == original.absoluteFilePath();
    };
    for (int n = 1; taken(path); ++n) {
        QString suffix =
            n == 1 ? QStringLiteral("-repaired") : QStringLiteral("-repaired-%1").arg(n);
        path = dir.filePath(original.completeBaseName() + suffix + QStringLiteral(".") +
                            original.suffix());
    }
    return path;
}

QString OfferRepair(QWidget *owner, const QString &broken, const RepairPrompts &prompts,
                    QString *error) {
    error->clear();
    const auto ask = prompts.ask ? prompts.ask : AskUser;
    const auto choose = prompts.choose_folder ? prompts.choose_folder : PickFolder;
    if (!ask(owner, QString::fromLatin1(kRepairQuestion))) return {};
    const QString folder =
        choose(owner, QStringLiteral("Where should the repaired copy go?"), DefaultRepairFolder());
    if (folder.isEmpty()) return {};
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("The folder %1 cannot be written.").arg(folder);
        return {};
    }

    BusyCursor busy;
    const QByteArray in = QFile::encodeName(QFileInfo(broken).absoluteFilePath());
    RepairLayout layout;
    const std::string reference = RepairFindReference(in.constData());
    const bool have_reference =
        !reference.empty() && RepairLearnLayout(reference.c_str(), &layout) == ME_OK;
    RepairScan scan;
    MeResult r = RepairScanFile(in.constData(), have_reference ? &layout : nullptr, &scan);
    if (r != ME_OK) {
        *error = QStringLiteral("The recording could not be read: %1")
                     .arg(QString::fromLatin1(MeErrorText(r)));
        return {};
    }
    if (scan.outcome != REPAIR_REBUILT) {
        *error = QStringLiteral("Nothing of the recording could be recovered.");
        return {};
    }
    const QString out = RepairedCopyPath(broken, folder);
    const char *detail = nullptr;
    r = RepairWriteFile(in.constData(), &scan, QFile::encodeName(out).constData(), &detail);
    if (r != ME_OK) {
        *error = QStringLiteral("The repaired copy could not be written: %1")
                     .arg(QString::fromLatin1(detail ? detail : MeErrorText(r)));
        return {};
    }
    return out;
}

}  // namespace vt::app
