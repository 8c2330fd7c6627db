#include "app/userfiles/userfiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace vt::userfiles {
namespace {

// The classic remembered-folder file: 259 bytes of text at most, then a NUL and padding.
constexpr qsizetype kClassicBytes = 260;
// No path on Linux is longer than this; a bigger file is not one of ours.
constexpr qsizetype kMaxFolderFileBytes = 64 * 1024;

QString BaseDir(const char *variable, const char *fallback_under_home) {
    const QString set = qEnvironmentVariable(variable);
    if (!set.isEmpty() && QDir::isAbsolutePath(set)) return QDir::cleanPath(set);
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(fallback_under_home);
}

QString MadeDir(const QString &dir) {
    QDir().mkpath(dir);
    return dir;
}

bool HasAllPlaceholders(const QString &url) {
    return url.contains(QLatin1String("{z}")) && url.contains(QLatin1String("{x}")) &&
           url.contains(QLatin1String("{y}"));
}

}  // namespace

QString ProgramDir() {
    const QFileInfo self(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    const QString dir = self.absolutePath();
    return dir.isEmpty() ? QStringLiteral(".") : dir;
}

bool IsPortableDir(const QString &dir) {
    const QByteArray native = QFile::encodeName(dir);
    // The effective user's rights, and a read-only mount counts as not writable even for root.
    if (faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) != 0) return false;
    return !QFileInfo::exists(dir +
                              QStringLiteral("/../share/applications/vantrec-player.desktop"));
}

bool Portable() { return IsPortableDir(ProgramDir()); }

QString XdgConfigDir() {
    return MadeDir(BaseDir("XDG_CONFIG_HOME", ".config") + QLatin1Char('/') +
                   QLatin1String(kFolderName));
}

QString XdgCacheDir() {
    return MadeDir(BaseDir("XDG_CACHE_HOME", ".cache") + QLatin1Char('/') +
                   QLatin1String(kFolderName));
}

QString ConfigDir() { return Portable() ? ProgramDir() : XdgConfigDir(); }

QString CacheDir() { return Portable() ? ProgramDir() : XdgCacheDir(); }

QString SettingsFile() { return ConfigDir() + QStringLiteral("/settings.ini"); }

Settings LoadSettingsFrom(const QString &file) {
    Settings s;
    if (QFileInfo(file).isFile()) {
        QSettings ini(file, QSettings::IniFormat);
        if (ini.status() == QSettings::NoError) {
            // QSettings splits an unquoted value at its commas (a tile URL with a query may
            // have them); put it back together.
            auto text = [&ini](const char *key) {
                const QVariant v = ini.value(QLatin1String(key));
                if (v.typeId() == QMetaType::QStringList)
                    return v.toStringList().join(QLatin1Char(',')).trimmed();
                return v.typeId() == QMetaType::QString ? v.toString().trimmed() : QString();
            };
            const QString url = text("map/tile_url");
            if (HasAllPlaceholders(url)) s.tileUrl = url;
            s.mbtiles = text("map/mbtiles");
            const QString units = text("units/speed").toLower();
            if (units == QLatin1String("mph")) s.speedMph = true;
            bool ok = false;
            const double g = text("events/threshold_g").toDouble(&ok);
            if (ok && std::isfinite(g) && g > 0) s.thresholdG = g;
        }
    }
    const QString env = qEnvironmentVariable("VANTREC_TILE_URL").trimmed();
    if (HasAllPlaceholders(env)) s.tileUrl = env;
    return s;
}

Settings LoadSettings() { return LoadSettingsFrom(SettingsFile()); }

std::string ReadFolderFile(const QString &file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = f.read(kMaxFolderFileBytes);
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0) return std::string(bytes.constData(), static_cast<size_t>(nul));
    return std::string(bytes.constData(),
                       static_cast<size_t>(std::min(bytes.size(), kClassicBytes)));
}

bool WriteFolderFile(const QString &file, const std::string &folder) {
    if (folder.find('\0') != std::string::npos) return false;
    if (static_cast<qsizetype>(folder.size()) >= kMaxFolderFileBytes) return false;
    QByteArray bytes(folder.data(), static_cast<qsizetype>(folder.size()));
    bytes.append('\0');
    if (bytes.size() < kClassicBytes) bytes.append(kClassicBytes - bytes.size(), '\0');
    // Written aside and renamed, so a full disk never leaves half a path behind.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

}  // namespace vt::userfiles
