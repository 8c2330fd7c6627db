#pragma once
// Read faults for tests: a card whose sector cannot be read, a file that shrinks or disappears
// while it is played, a device that hands back short reads. Faults are kept per path: every file
// opened on a watched path (the clones of a stream included) follows the fault set on it, and the
// fault may be set, changed or cleared while those files are being read from several threads.
// Without any watched path the file object pays one atomic load per open and one null test per
// read.
#include <cstdint>

enum class FileFaultKind {
    kEio,         // reads touching [at, at + length) fail with EIO (length <= 0: to the end)
    kShortReads,  // reads at or past `at` return at most `length` bytes (at least 1)
    kShrink,      // the first read touching `at` or beyond cuts the file to `length` bytes
    kVanish,      // the first read touching `at` or beyond pulls the card: every later read
                  // fails with EIO, the size reads 0 and the path no longer opens
};

struct FileFault {
    FileFaultKind kind = FileFaultKind::kEio;
    int64_t at = 0;
    int64_t length = 0;
};

// Files opened on the path from now on can be given a fault later (a card pulled while paused).
void FileFaultWatch(const char *path);
// Watches the path and sets its fault; files already open on a watched path see it at once.
void FileFaultSet(const char *path, const FileFault &fault);
// Ends the fault on the path; its files read normally again.
void FileFaultClear(const char *path);
// Reads of the path the fault has changed or refused so far (0 when none is set).
int FileFaultHits(const char *path);

// --- used by the file object only --------------------------------------------------------------

struct FileFaultState;
// The fault set on the path, or null (the usual case); may refuse the open itself.
FileFaultState *FileFaultFor(const char *path, bool *refuse_open);
// Before a read of `*length` bytes at `pos`: false = fail the read with EIO; otherwise `*length`
// may have been shortened (to 0 past a shrunk end).
bool FileFaultBeforeRead(FileFaultState *st, int64_t pos, uint32_t *length);
// The file size as the fault lets it be seen.
int64_t FileFaultSize(FileFaultState *st, int64_t real_size);
