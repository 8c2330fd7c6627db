#include "drivedata/track.h"

#include <algorithm>
#include <cmath>

namespace vt::drivedata {
namespace {

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;

}  // namespace

double GreatCircleM(double lat1, double lon1, double lat2, double lon2) {
    const double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad;
    const double dp = p2 - p1, dl = (lon2 - lon1) * kDegToRad;
    const double s1 = std::sin(dp / 2), s2 = std::sin(dl / 2);
    double h = s1 * s1 + std::cos(p1) * std::cos(p2) * s2 * s2;
    // Rounding can push h a hair past 1 for antipodal points.
    h = std::clamp(h, 0.0, 1.0);
    return 2 * kEarthRadiusM * std::asin(std::sqrt(h));
}

bool IsGpsJump(const Fix &a, const Fix &b) {
    const double elapsed = static_cast<double>(b.time_ms - a.time_ms);
    return GreatCircleM(a, b) > kGpsJumpMetresPerMs * std::max(elapsed, 0.0);
}

void Track::Add(const Fix &fix) {
    if (!std::isfinite(fix.latitude) || !std::isfinite(fix.longitude)) return;
    if (!m_fixes.empty() && fix.time_ms <= m_fixes.back().time_ms) return;
    uint32_t jumps = m_jumps.empty() ? 0 : m_jumps.back();
    if (!m_fixes.empty()) {
        if (IsGpsJump(m_fixes.back(), fix)) ++jumps;
        else m_distance += GreatCircleM(m_fixes.back(), fix);
    }
    m_fixes.push_back(fix);
    m_jumps.push_back(jumps);
    m_cumulative.push_back(m_distance);
}

void Track::AddRows(const std::vector<SensorRow> &rows, int64_t offset_ms) {
    for (const SensorRow &r : rows) {
        if (!r.has_position) continue;
        Add({static_cast<int64_t>(r.time_ms) + offset_ms, r.latitude, r.longitude});
    }
}

void Track::Clear() {
    m_fixes.clear();
    m_jumps.clear();
    m_cumulative.clear();
    m_distance = 0;
}

bool Track::JumpInto(size_t i) const {
    return i > 0 && i < m_jumps.size() && m_jumps[i] != m_jumps[i - 1];
}

ptrdiff_t Track::IndexAt(int64_t time_ms) const {
    ptrdiff_t i = IndexAtOrBefore(time_ms);
    return i >= 0 && m_fixes[static_cast<size_t>(i)].time_ms == time_ms ? i : -1;
}

ptrdiff_t Track::IndexAtOrBefore(int64_t time_ms) const {
    auto it = std::upper_bound(m_fixes.begin(), m_fixes.end(), time_ms,
                               [](int64_t t, const Fix &f) { return t < f.time_ms; });
    return (it - m_fixes.begin()) - 1;
}

bool Track::SpeedKmhAt(int64_t time_ms, double *kmh) const {
    const ptrdiff_t a = IndexAt(time_ms - kSpeedHalfSpanMs);
    const ptrdiff_t b = IndexAt(time_ms + kSpeedHalfSpanMs);
    if (a < 0 || b < 0) return false;
    if (m_jumps[static_cast<size_t>(b)] != m_jumps[static_cast<size_t>(a)]) return false;
    const double metres =
        GreatCircleM(m_fixes[static_cast<size_t>(a)], m_fixes[static_cast<size_t>(b)]);
    const double seconds = 2.0 * kSpeedHalfSpanMs / 1000.0;
    *kmh = metres / seconds * 3.6;
    return true;
}

bool Track::MaxSpeedKmh(const std::vector<int64_t> &record_times, double *kmh) const {
    bool any = false;
    double best = 0;
    for (int64_t t : record_times) {
        double v;
        if (!SpeedKmhAt(t, &v)) continue;
        if (!any || v > best) best = v;
        any = true;
    }
    if (any) *kmh = best;
    return any;
}

std::vector<int64_t> RecordTimes(const std::vector<SensorRow> &rows, int64_t offset_ms) {
    std::vector<int64_t> out;
    out.reserve(rows.size());
    for (const SensorRow &r : rows) out.push_back(static_cast<int64_t>(r.time_ms) + offset_ms);
    return out;
}

double MaxAbsG(const std::vector<SensorRow> &rows) {
    double best = 0;
    for (const SensorRow &r : rows) {
        const double x = r.accel[0] / 128.0, y = r.accel[1] / 128.0, z = r.accel[2] / 128.0;
        best = std::max(best, std::sqrt(x * x + y * y + z * z));
    }
    return best;
}

}  // namespace vt::drivedata
