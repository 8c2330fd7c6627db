#include "catalogue/catalogue.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unordered_map>

namespace vt::catalogue {
namespace {

namespace fs = std::filesystem;
using drivedata::RecordingSummary;

// "VTCA": tells our file from any other SQLite database that happens to sit at the path.
constexpr int kApplicationId = 0x56544341;
// Rows are written in batches this large, each batch a short transaction of its own.
constexpr size_t kWriteBatch = 64;

const char kCreateSchema[] =
    "CREATE TABLE IF NOT EXISTS recording("
    " folder TEXT NOT NULL, name TEXT NOT NULL, size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL,"
    " threshold REAL NOT NULL, data BLOB NOT NULL, checksum INTEGER NOT NULL,"
    " PRIMARY KEY(folder, name)) WITHOUT ROWID;";

bool IsDamage(int rc) {
    rc &= 0xff;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB || rc == SQLITE_FORMAT;
}

class Statement {
public:
    Statement(sqlite3 *db, const char *sql) {
        m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    bool Ok() const { return m_rc == SQLITE_OK && m_stmt != nullptr; }
    int PrepareCode() const { return m_rc; }
    sqlite3_stmt *get() const { return m_stmt; }

private:
    sqlite3_stmt *m_stmt = nullptr;
    int m_rc = SQLITE_OK;
};

// Runs SQL without results; the SQLite result code.
int Exec(sqlite3 *db, const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// A single integer from a PRAGMA; false on any error.
bool PragmaInt(sqlite3 *db, const char *sql, int64_t *value, int *rc_out) {
    Statement st(db, sql);
    if (!st.Ok()) {
        *rc_out = st.PrepareCode();
        return false;
    }
    const int rc = sqlite3_step(st.get());
    *rc_out = rc;
    if (rc != SQLITE_ROW) return false;
    *value = sqlite3_column_int64(st.get(), 0);
    return true;
}

// --- the row's encoding: little-endian fixed-size fields ---------------------------------------

class Writer {
public:
    void U8(uint8_t v) { m_bytes.push_back(v); }
    void U32(uint32_t v) { Raw(&v, 4); }
    void I64(int64_t v) { Raw(&v, 8); }
    void F64(double v) { Raw(&v, 8); }
    const std::vector<uint8_t> &Bytes() const { return m_bytes; }

private:
    void Raw(const void *p, size_t n) {
        // The build targets little-endian machines only; the schema version guards the layout.
        const auto *b = static_cast<const uint8_t *>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
    }
    std::vector<uint8_t> m_bytes;
};

class Reader {
public:
    Reader(const uint8_t *p, size_t n) : m_p(p), m_left(n) {}
    bool U8(uint8_t *v) { return Raw(v, 1); }
    bool U32(uint32_t *v) { return Raw(v, 4); }
    bool I64(int64_t *v) { return Raw(v, 8); }
    bool F64(double *v) { return Raw(v, 8); }
    size_t Left() const { return m_left; }

private:
    bool Raw(void *out, size_t n) {
        if (m_left < n) return false;
        std::memcpy(out, m_p, n);
        m_p += n;
        m_left -= n;
        return true;
    }
    const uint8_t *m_p;
    size_t m_left;
};

constexpr size_t kEventBytes = 8 + 8 + 1 + 1 + 8 + 8;
constexpr size_t kFixBytes = 8 + 8 + 8;

std::vector<uint8_t> Encode(const RecordingSummary &s) {
    Writer w;
    w.U8(s.usable ? 1 : 0);
    w.U8(s.has_speed ? 1 : 0);
    w.I64(s.duration_ms);
    w.F64(s.distance_m);
    w.F64(s.max_speed_kmh);
    w.F64(s.max_g);
    w.U32(static_cast<uint32_t>(s.events.size()));
    for (const drivedata::Event &e : s.events) {
        w.I64(e.time_ms);
        w.F64(e.peak_g);
        w.U8(static_cast<uint8_t>(e.axis));
        w.U8(static_cast<uint8_t>(e.kind));
        w.I64(e.begin_ms);
        w.I64(e.last_ms);
    }
    const auto &fixes = s.track.Fixes();
    w.U32(static_cast<uint32_t>(fixes.size()));
    for (const drivedata::Fix &f : fixes) {
        w.I64(f.time_ms);
        w.F64(f.latitude);
        w.F64(f.longitude);
    }
    return w.Bytes();
}

bool Decode(const uint8_t *p, size_t n, const std::string &name, RecordingSummary *s) {
    *s = RecordingSummary{};
    s->name = name;
    s->has_start = drivedata::StartFromName(name, &s->start);
    Reader r(p, n);
    uint8_t usable = 0, has_speed = 0;
    uint32_t count = 0;
    if (!r.U8(&usable) || !r.U8(&has_speed) || !r.I64(&s->duration_ms) || !r.F64(&s->distance_m) ||
        !r.F64(&s->max_speed_kmh) || !r.F64(&s->max_g) || !r.U32(&count))
        return false;
    if (usable > 1 || has_speed > 1 || count > r.Left() / kEventBytes) return false;
    s->usable = usable != 0;
    s->has_speed = has_speed != 0;
    s->events.resize(count);
    for (drivedata::Event &e : s->events) {
        uint8_t axis = 0, kind = 0;
        if (!r.I64(&e.time_ms) || !r.F64(&e.peak_g) || !r.U8(&axis) || !r.U8(&kind) ||
            !r.I64(&e.begin_ms) || !r.I64(&e.last_ms) || axis > 2 || kind > 1)
            return false;
        e.axis = static_cast<drivedata::Axis>(axis);
        e.kind = static_cast<drivedata::EventKind>(kind);
    }
    if (!r.U32(&count) || count > r.Left() / kFixBytes) return false;
    for (uint32_t i = 0; i < count; ++i) {
        drivedata::Fix f;
        if (!r.I64(&f.time_ms) || !r.F64(&f.latitude) || !r.F64(&f.longitude)) return false;
        s->track.Add(f);
    }
    return r.Left() == 0;
}

// FNV-1a over the row's key and data: a row that SQLite's checks pass but whose bytes were
// changed on disk is caught here.
uint64_t Checksum(const std::string &folder, const std::string &name, int64_t size, int64_t mtime,
                  double threshold, const uint8_t *data, size_t n) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](const void *p, size_t len) {
        const auto *b = static_cast<const uint8_t *>(p);
        for (size_t i = 0; i < len; ++i) h = (h ^ b[i]) * 1099511628211ull;
    };
    mix(folder.data(), folder.size());
    mix("", 1);
    mix(name.data(), name.size());
    mix("", 1);
    mix(&size, sizeof size);
    mix(&mtime, sizeof mtime);
    mix(&threshold, sizeof threshold);
    mix(data, n);
    return h;
}

struct FileKey {
    int64_t size = 0;
    int64_t mtime_ns = 0;
};

bool StatFile(const std::string &path, FileKey *key) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    key->size = static_cast<int64_t>(st.st_size);
    key->mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

std::string FolderKey(const std::string &folder) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(folder), ec);
    if (ec) return folder;
    fs::path c = fs::weakly_canonical(p, ec);
    std::string s = (ec ? p : c).lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

struct Pending {
    std::string name;
    FileKey key;
    std::vector<uint8_t> data;
};

}  // namespace

drivedata::Track ThinTrack(const drivedata::Track &track) {
    const auto &fixes = track.Fixes();
    drivedata::Track out;
    int64_t last_kept = 0;
    for (size_t i = 0; i < fixes.size(); ++i) {
        const bool keep = i == 0 || i + 1 == fixes.size() ||
                          fixes[i].time_ms >= last_kept + kThinStepMs || track.JumpInto(i) ||
                          (i + 1 < fixes.size() && track.JumpInto(i + 1));
        if (!keep) continue;
        out.Add(fixes[i]);
        last_kept = fixes[i].time_ms;
    }
    return out;
}

Catalogue::~Catalogue() { Close(); }

void Catalogue::Close() {
    if (m_db != nullptr) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool Catalogue::OpenChecked(const std::string &file) {
    Close();
    if (sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        Close();
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(m_db, 1);
    int rc = 0;
    int64_t id = 0, version = 0;
    if (!PragmaInt(m_db, "PRAGMA application_id", &id, &rc) ||
        !PragmaInt(m_db, "PRAGMA user_version", &version, &rc))
        return false;
    if (id == 0 && version == 0) {
        // A new file, or one another process is creating right now: set it up under the write lock.
        if (Exec(m_db, "BEGIN IMMEDIATE") != SQLITE_OK) return false;
        if (!PragmaInt(m_db, "PRAGMA application_id", &id, &rc) ||
            !PragmaInt(m_db, "PRAGMA user_version", &version, &rc)) {
            Exec(m_db, "ROLLBACK");
            return false;
        }
        if (id == 0 && version == 0) {
            int64_t tables = 0;
            if (!PragmaInt(m_db, "SELECT count(*) FROM sqlite_schema", &tables, &rc) ||
                tables != 0) {
                Exec(m_db, "ROLLBACK");
                return false;  // someone else's database, or ours with its header damaged
            }
            const std::string setup = std::string(kCreateSchema) +
                                      "PRAGMA application_id=" + std::to_string(kApplicationId) +
                                      ";PRAGMA user_version=" + std::to_string(kSchemaVersion) +
                                      ";";
            if (Exec(m_db, setup.c_str()) != SQLITE_OK) {
                Exec(m_db, "ROLLBACK");
                return false;
            }
            id = kApplicationId;
            version = kSchemaVersion;
        }
        if (Exec(m_db, "COMMIT") != SQLITE_OK) return false;
    }
    if (id != kApplicationId || version != kSchemaVersion) return false;

    // Never trusted: SQLite's own structural check over every page before anything is used.
    {
        Statement st(m_db, "PRAGMA quick_check");
        if (!st.Ok() || sqlite3_step(st.get()) != SQLITE_ROW) return false;
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(st.get(), 0));
        if (text == nullptr || std::strcmp(text, "ok") != 0) return false;
    }
    // WAL lets readers go on while another process writes; a failure here (a file system without
    // shared memory) leaves the rollback journal, which is as safe, only slower to share.
    Exec(m_db, "PRAGMA journal_mode=WAL");
    Exec(m_db, "PRAGMA synchronous=NORMAL");
    return true;
}

bool Catalogue::StartAnew(const std::string &file) {
    Close();
    m_rebuilt = true;
    for (const char *suffix : {"", "-wal", "-shm", "-journal"}) {
        std::error_code ec;
        fs::remove(file + suffix, ec);
    }
    return OpenChecked(file);
}

bool Catalogue::Open(const std::string &file, std::string *error) {
    m_file = file;
    m_rebuilt = false;
    std::error_code ec;
    const fs::path parent = fs::path(file).parent_path();
    if (!parent.empty()) fs::create_directories(parent, ec);
    if (OpenChecked(file)) return true;
    // A lock held longer than the busy timeout is not damage: leave the file to its owner.
    if (m_db != nullptr && (sqlite3_errcode(m_db) & 0xff) == SQLITE_BUSY) {
        if (error) *error = "the catalogue " + file + " is busy";
        Close();
        return false;
    }
    if (StartAnew(file)) return true;
    if (error) *error = "cannot use the catalogue " + file;
    Close();
    return false;
}

size_t Catalogue::RowCount(const std::string &folder) {
    if (m_db == nullptr) return 0;
    Statement st(m_db, "SELECT count(*) FROM recording WHERE folder=?1");
    if (!st.Ok()) return 0;
    const std::string key = FolderKey(folder);
    sqlite3_bind_text(st.get(), 1, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    return sqlite3_step(st.get()) == SQLITE_ROW
               ? static_cast<size_t>(sqlite3_column_int64(st.get(), 0))
               : 0;
}

bool Catalogue::ReadFolder(const std::string &folder, double threshold_g,
                           std::vector<RecordingSummary> *out, std::string *error,
                           const std::atomic<bool> *cancel, const Progress &progress) {
    out->clear();
    m_last_read = 0;
    std::vector<std::string> listed;
    if (!drivedata::ListRecordingNames(folder, &listed)) {
        if (error) *error = "cannot read the folder " + folder;
        return false;
    }
    std::vector<std::string> names;
    for (std::string &n : listed)
        if (!drivedata::IsRefusedName(n)) names.push_back(std::move(n));
    std::sort(names.begin(), names.end(), drivedata::ListOrderLess);
    const std::string key = FolderKey(folder);

    struct Cached {
        FileKey file;
        double threshold = 0;
        std::vector<uint8_t> data;
        uint64_t checksum = 0;
    };
    std::unordered_map<std::string, Cached> cached;
    bool damaged = false;
    if (m_db != nullptr) {
        Statement st(m_db,
                     "SELECT name, size, mtime_ns, threshold, data, checksum FROM recording "
                     "WHERE folder=?1");
        if (st.Ok()) {
            sqlite3_bind_text(st.get(), 1, key.c_str(), static_cast<int>(key.size()),
                              SQLITE_TRANSIENT);
            int rc;
            while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
                const auto *name = reinterpret_cast<const char *>(sqlite3_column_text(st.get(), 0));
                if (name == nullptr) continue;
                Cached c;
                c.file.size = sqlite3_column_int64(st.get(), 1);
                c.file.mtime_ns = sqlite3_column_int64(st.get(), 2);
                c.threshold = sqlite3_column_double(st.get(), 3);
                const auto *blob = static_cast<const uint8_t *>(sqlite3_column_blob(st.get(), 4));
                const int bytes = sqlite3_column_bytes(st.get(), 4);
                if (blob != nullptr && bytes > 0) c.data.assign(blob, blob + bytes);
                c.checksum = static_cast<uint64_t>(sqlite3_column_int64(st.get(), 5));
                cached[name] = std::move(c);
            }
            damaged = IsDamage(rc);
        } else {
            damaged = IsDamage(st.PrepareCode());
        }
    }
    if (damaged) {
        cached.clear();
        if (!StartAnew(m_file)) Close();
    }

    std::vector<Pending> pending;
    auto flush = [this, &pending, &key, threshold_g] {
        if (m_db == nullptr || pending.empty()) {
            pending.clear();
            return;
        }
        // A write that cannot get the lock within the busy timeout is simply not cached this time.
        if (Exec(m_db, "BEGIN IMMEDIATE") == SQLITE_OK) {
            Statement st(m_db,
                         "INSERT OR REPLACE INTO recording"
                         "(folder, name, size, mtime_ns, threshold, data, checksum) "
                         "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
            bool ok = st.Ok();
            for (size_t i = 0; ok && i < pending.size(); ++i) {
                const Pending &p = pending[i];
                const uint64_t sum = Checksum(key, p.name, p.key.size, p.key.mtime_ns, threshold_g,
                                              p.data.data(), p.data.size());
                sqlite3_reset(st.get());
                sqlite3_bind_text(st.get(), 1, key.c_str(), static_cast<int>(key.size()),
                                  SQLITE_STATIC);
                sqlite3_bind_text(st.get(), 2, p.name.c_str(), static_cast<int>(p.name.size()),
                                  SQLITE_STATIC);
                sqlite3_bind_int64(st.get(), 3, p.key.size);
                sqlite3_bind_int64(st.get(), 4, p.key.mtime_ns);
                sqlite3_bind_double(st.get(), 5, threshold_g);
                sqlite3_bind_blob(st.get(), 6, p.data.data(), static_cast<int>(p.data.size()),
                                  SQLITE_STATIC);
                sqlite3_bind_int64(st.get(), 7, static_cast<int64_t>(sum));
                ok = sqlite3_step(st.get()) == SQLITE_DONE;
            }
            if (Exec(m_db, ok ? "COMMIT" : "ROLLBACK") != SQLITE_OK) Exec(m_db, "ROLLBACK");
        }
        pending.clear();
    };

    auto scratch = std::make_unique<drivedata::SensorData>();
    const std::string base = folder.empty() ? std::string() : folder + "/";
    auto last_flush = std::chrono::steady_clock::now();
    bool cancelled = false;
    out->reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            cancelled = true;
            break;
        }
        const std::string &name = names[i];
        FileKey fk;
        if (!StatFile(base + name, &fk)) continue;  // gone since the listing
        RecordingSummary s;
        bool have = false;
        auto it = cached.find(name);
        if (it != cached.end()) {
            const Cached &c = it->second;
            have = c.file.size == fk.size && c.file.mtime_ns == fk.mtime_ns &&
                   c.threshold == threshold_g &&
                   c.checksum == Checksum(key, name, c.file.size, c.file.mtime_ns, c.threshold,
                                          c.data.data(), c.data.size()) &&
                   Decode(c.data.data(), c.data.size(), name, &s);
            cached.erase(it);
        }
        if (!have) {
            drivedata::SummariseRecording(scratch.get(), folder, name, threshold_g, &s);
            s.track = ThinTrack(s.track);
            s.record_times.clear();
            s.record_times.shrink_to_fit();
            ++m_last_read;
            // A file written to while it was read is not remembered with the older key.
            FileKey after;
            if (StatFile(base + name, &after) && after.size == fk.size &&
                after.mtime_ns == fk.mtime_ns)
                pending.push_back({name, fk, Encode(s)});
            const auto now = std::chrono::steady_clock::now();
            if (pending.size() >= kWriteBatch ||
                now - last_flush > std::chrono::milliseconds(500)) {
                flush();
                last_flush = now;
            }
        }
        out->push_back(std::move(s));
        if (progress) progress(i + 1, names.size());
    }
    flush();

    // What is left of the cached rows belongs to files that are no longer there.
    if (!cancelled && m_db != nullptr && !cached.empty() &&
        Exec(m_db, "BEGIN IMMEDIATE") == SQLITE_OK) {
        Statement st(m_db, "DELETE FROM recording WHERE folder=?1 AND name=?2");
        bool ok = st.Ok();
        for (auto c = cached.begin(); ok && c != cached.end(); ++c) {
            sqlite3_reset(st.get());
            sqlite3_bind_text(st.get(), 1, key.c_str(), static_cast<int>(key.size()),
                              SQLITE_STATIC);
            sqlite3_bind_text(st.get(), 2, c->first.c_str(), static_cast<int>(c->first.size()),
                              SQLITE_STATIC);
            ok = sqlite3_step(st.get()) == SQLITE_DONE;
        }
        if (Exec(m_db, ok ? "COMMIT" : "ROLLBACK") != SQLITE_OK) Exec(m_db, "ROLLBACK");
    }
    if (cancelled) {
        if (error) *error = "cancelled";
        return false;
    }
    return true;
}

bool ReadFolderTrips(Catalogue *cat, const std::string &folder, double threshold_g,
                     std::vector<drivedata::Trip> *trips, std::string *error,
                     const std::atomic<bool> *cancel, const Progress &progress) {
    trips->clear();
    std::vector<RecordingSummary> summaries;
    Catalogue none;
    if (!(cat != nullptr ? cat : &none)
             ->ReadFolder(folder, threshold_g, &summaries, error, cancel, progress))
        return false;
    *trips = drivedata::GroupTrips(std::move(summaries));
    // The thinned tracks lose the bends between kept fixes: the distance is each recording's own
    // (measured on its whole track) plus the steps that join one recording to the next.
    for (drivedata::Trip &trip : *trips) {
        double distance = 0;
        bool have_last = false;
        drivedata::Fix last;
        for (const drivedata::TripFile &f : trip.files) {
            distance += f.recording.distance_m;
            const auto &fixes = f.recording.track.Fixes();
            if (fixes.empty()) continue;
            drivedata::Fix first = fixes.front();
            first.time_ms += f.offset_ms;
            if (have_last && first.time_ms > last.time_ms && !drivedata::IsGpsJump(last, first))
                distance += drivedata::GreatCircleM(last, first);
            last = fixes.back();
            last.time_ms += f.offset_ms;
            have_last = true;
        }
        trip.distance_m = distance;
    }
    return true;
}

}  // namespace vt::catalogue
