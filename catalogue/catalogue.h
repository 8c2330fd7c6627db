#pragma once
// The catalogue: what has already been read from each recording (start, duration, model check,
// distance, top speed and G, events, a thinned track), kept in an SQLite file so that a folder of
// thousands of recordings is summarised once and then listed at once. No UI.
//
// A row is keyed by the recording's folder and name and trusted only while the file still has the
// size and modification time it had when read, and the event threshold is the same; anything else
// is read again from the recording. A row whose checksum does not match is read again too, and a
// file that fails SQLite's checks or has another schema version is thrown away and started anew:
// the catalogue is a cache, never the truth.
//
// Several processes may share one file: SQLite's locking in WAL mode, a busy timeout, and writes
// in short transactions. One Catalogue object is used by one thread at a time.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drivedata/trips.h"

struct sqlite3;

namespace vt::catalogue {

// Bumped whenever the tables or the row encoding change; a file of another version is rebuilt.
inline constexpr int kSchemaVersion = 1;
// How long a writer waits for another process's lock before it gives up on the cache.
inline constexpr int kBusyTimeoutMs = 5000;
// Thinned tracks keep about one fix per this many milliseconds (and every fix around a GPS jump).
inline constexpr int64_t kThinStepMs = 1000;

// "catalogue.sqlite" in the program's cache folder (beside the executable when portable).
std::string DefaultFile();

// Called with (recordings done, recordings in the folder) as the reading goes on.
using Progress = std::function<void(size_t done, size_t total)>;

class Catalogue {
public:
    Catalogue() = default;
    ~Catalogue();
    Catalogue(const Catalogue &) = delete;
    Catalogue &operator=(const Catalogue &) = delete;

    // Opens `file`, creating it when missing and rebuilding it when damaged. False (with a reason)
    // only when no usable file can be had at all; the callers then read without a cache.
    bool Open(const std::string &file, std::string *error);
    bool IsOpen() const { return m_db != nullptr; }
    // Whether Open (or a later query) found the file damaged and started it anew.
    bool Rebuilt() const { return m_rebuilt; }

    // The summaries of every recording of `folder` (names as ListRecordingNames gives them, the
    // refused ones left out), from the catalogue where it still holds, read from the file and
    // stored otherwise. Rows of files that are gone are dropped. The summaries come back without
    // record_times and with thinned tracks. False when the folder cannot be read or `cancel` was
    // set (what was read so far is kept).
    bool ReadFolder(const std::string &folder, double threshold_g,
                    std::vector<drivedata::RecordingSummary> *out, std::string *error,
                    const std::atomic<bool> *cancel = nullptr, const Progress &progress = {});

    // Rows held for a folder (for tests and the benchmark).
    size_t RowCount(const std::string &folder);
    // Recordings read from their files (not the catalogue) by the last ReadFolder.
    size_t LastReadCount() const { return m_last_read; }

private:
    bool OpenChecked(const std::string &file);
    void Close();
    bool StartAnew(const std::string &file);

    sqlite3 *m_db = nullptr;
    std::string m_file;
    bool m_rebuilt = false;
    size_t m_last_read = 0;
};

// The folder's trips through `cat` (may be null or closed: then every recording is read). The
// trip distance is the recordings' own distances plus the steps between them, as if the whole
// track had been kept.
bool ReadFolderTrips(Catalogue *cat, const std::string &folder, double threshold_g,
                     std::vector<drivedata::Trip> *trips, std::string *error,
                     const std::atomic<bool> *cancel = nullptr, const Progress &progress = {});

// The fixes worth keeping of a track: the first and the last, one at least kThinStepMs after the
// previous kept one, and both ends of every GPS jump.
drivedata::Track ThinTrack(const drivedata::Track &track);

}  // namespace vt::catalogue
