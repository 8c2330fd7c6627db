#pragma once
// Clip export: a stretch of one recording or of the recordings of a trip, copied sample by sample
// (never re-encoded) into a new file in the camera's layout, and the SHA-256 manifest that goes
// with it. The sources are opened read-only and an output that is one of them is refused.
//
// Times are trip times: milliseconds from the start of the first recording; each recording starts
// at its own offset (see ClipOffsetsFromNames). The clip begins at the key frame at or before
// `from_ms` and holds, of every track, the samples that start before `to_ms`; audio frames and
// sensor records are taken from the one nearest that key frame on. In the clip the recordings'
// samples follow each other without a gap, each keeping its own duration.
//
// Runs on the caller's thread; the progress callback (optional) is called on it too.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/result.h"

struct ClipRequest {
    std::vector<std::string> sources;  // taken in trip-time order, whatever the order here
    std::vector<int64_t> offsets_ms;   // each source's start in trip time; empty: from the names
    int64_t from_ms = 0;
    int64_t to_ms = 0;
    std::string output;
    // Bytes written and the clip's size; a nonzero return cancels the export (ME_FAIL).
    int (*progress)(void *ctx, uint64_t done, uint64_t total) = nullptr;
    void *progress_ctx = nullptr;
};

struct ClipResult {
    int64_t start_ms = 0;     // trip time of the clip's first picture (its first sample)
    int64_t end_ms = 0;       // trip time at which the clip's last sample ends
    int64_t duration_ms = 0;  // the clip's longest track
    uint32_t video = 0, audio = 0, data = 0;  // samples copied
    uint64_t bytes = 0;                       // size of the written file
    std::vector<size_t> used;                 // indices of the sources that gave samples
    std::string error;                        // one line, set on failure
};

// Start of each recording in trip time from names of the form YYYYMMDD_HHMMSS[...]: the difference
// of its name's time to the earliest one's. When a name is not a time, the recordings follow each
// other end to end in the order given (durations_ms). Both vectors have one entry per source.
std::vector<int64_t> ClipOffsetsFromNames(const std::vector<std::string> &sources,
                                          const std::vector<int64_t> &durations_ms);

// ME_OK; ME_ERR_INVALID_REQUEST for an empty range, a range with no samples, sources whose codec
// set-ups differ or an output that would replace a source; the index reader's codes for a source
// that cannot be read; the writer's codes otherwise (ME_FAIL: cancelled). result->error explains.
MeResult ClipExport(const ClipRequest &request, ClipResult *result);

// Writes a manifest `sha256sum -c` checks: one line per file, "HASH  NAME". Files in the
// manifest's own folder are named relative to it, others by their absolute path, so the check is
// made from that folder. Written through a temporary file and renamed. ME_OK, ME_ERR_FILE_NOT_FOUND
// when a listed file cannot be read (*error names it), ME_ERR_FILE_CREATE / ME_ERR_FILE_IO.
MeResult WriteSha256Manifest(const std::string &manifest, const std::vector<std::string> &files,
                             std::string *error);
