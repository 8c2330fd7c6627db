#include "engine/core/log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void StderrSink(const char *line) { std::fprintf(stderr, "vantrec: %s\n", line); }

MeLogSink DefaultSink() {
    static const MeLogSink sink = [] {
        const char *v = std::getenv("VANTREC_LOG");
        return (v && std::strcmp(v, "1") == 0) ? StderrSink : nullptr;
    }();
    return sink;
}

std::atomic<MeLogSink> g_sink{nullptr};

MeLogSink CurrentSink() {
    MeLogSink s = g_sink.load(std::memory_order_acquire);
    return s ? s : DefaultSink();
}

}  // namespace

void MeLogSetSink(MeLogSink sink) { g_sink.store(sink, std::memory_order_release); }

bool MeLogEnabled() { return CurrentSink() != nullptr; }

void MeLog(const char *format, ...) {
    MeLogSink sink = CurrentSink();
    if (!sink) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    sink(line);
}
