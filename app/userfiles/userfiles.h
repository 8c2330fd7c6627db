#pragma once
// Where the program keeps its own files, and the user's settings.
//
// Portable: when the program's folder can be written (a build folder, a copy on a stick), every
// file stays beside the executable, as the classic program kept them. Installed: the remembered
// folders and settings.ini go to the user's config folder, the capture, the print bitmap and the
// caches to the user's cache folder. Qt Core only; safe to call from any thread once the
// environment is settled (nothing here is cached).
#include <QString>
#include <string>

namespace vt::userfiles {

// Folder name under the XDG base folders.
inline constexpr char kFolderName[] = "vantrec-player";

// The folder of the running executable (/proc/self/exe), without a trailing separator.
QString ProgramDir();

// Whether `dir` counts as a portable program folder: it can be written by this user and is not
// the bin/ folder of an installed copy (one with share/applications/vantrec-player.desktop beside
// it). The second test keeps root, who may write anywhere, and a user who installed under a
// prefix of their own from scattering files into a bin/ folder.
bool IsPortableDir(const QString &dir);
// IsPortableDir(ProgramDir()).
bool Portable();

// $XDG_CONFIG_HOME/vantrec-player and $XDG_CACHE_HOME/vantrec-player; the defaults
// ~/.config and ~/.cache apply when the variable is unset, empty or not an absolute path. The
// folder is created when missing (a failure shows when a file is written into it).
QString XdgConfigDir();
QString XdgCacheDir();

// Portable: the program folder; else XdgConfigDir() / XdgCacheDir().
QString ConfigDir();
QString CacheDir();

// ConfigDir()/settings.ini.
QString SettingsFile();

struct Settings {
    QString tileUrl;          // XYZ template with {z}, {x} and {y}; empty: no tiles
    QString mbtiles;          // offline tile file; empty: none
    bool speedMph = false;    // speeds in mph instead of km/h
    double thresholdG = 1.0;  // event threshold in G, > 0
};

// Reads `file` (INI format): [map] tile_url, [map] mbtiles, [units] speed = kmh|mph,
// [events] threshold_g. A missing file, an unreadable or malformed file, and any value that is
// not of its kind give the default for that value; VANTREC_TILE_URL, when set and not empty,
// replaces the tile URL. Never fails.
Settings LoadSettingsFrom(const QString &file);
// LoadSettingsFrom(SettingsFile()).
Settings LoadSettings();

// A remembered folder (openpath.dat, opensetpath.dat). A folder of up to 259 bytes is stored in
// the classic form: exactly 260 bytes, the text, a NUL and zero padding. A longer folder is
// stored as its text and one NUL, so nothing is lost to the old limit. Reading stops at the first
// NUL; a file without any NUL gives its first 260 bytes, as the classic form defines.
std::string ReadFolderFile(const QString &file);
// False when the folder holds a NUL or the file cannot be written whole.
bool WriteFolderFile(const QString &file, const std::string &folder);

}  // namespace vt::userfiles
