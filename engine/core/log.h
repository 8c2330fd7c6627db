#pragma once
// The engine's diagnostic log: one line per event worth explaining (why an open, a seek or a
// decoder start failed). Off by default; VANTREC_LOG=1 in the environment sends the lines to
// stderr. A program or a test may install a sink of its own instead.
#include <cstdarg>

// Receives one finished line, without its line break. Called on whichever thread logs.
using MeLogSink = void (*)(const char *line);

// Installs a sink (null: back to the default, stderr when VANTREC_LOG=1, else nothing).
void MeLogSetSink(MeLogSink sink);
// True when a line would go anywhere.
bool MeLogEnabled();
// printf-style; lines longer than 512 bytes are cut.
void MeLog(const char *format, ...) __attribute__((format(printf, 1, 2)));
