#include "drivedata/gsensor.h"

#include <algorithm>
#include <cstdio>

namespace vt::drivedata {
namespace {

int CurveY(int32_t raw) {
    int v = std::clamp<int32_t>(raw, -kCurveClamp, kCurveClamp);
    return kGraphZeroY - v / kUnitsPerPixel;
}

// Where the value of slot g comes from, for one axis.
enum class SlotValue { kValue, kZero, kBad };

SlotValue ReadSlot(const SensorData *sd, uint64_t g, Axis axis, int32_t *raw) {
    const uint8_t *rec;
    if (!sd->mp4_layout) {
        if (!FindBlockRecord(sd, g * 100, &rec)) return SlotValue::kZero;
        *raw = ReadLe16(rec + kBlockAccelOffset[axis]);
        return SlotValue::kValue;
    }
    switch (FindEntry(sd, g, &rec)) {
        case Lookup::kFound: *raw = RecordAccel(rec, axis); return SlotValue::kValue;
        case Lookup::kBadOffset: return SlotValue::kBad;
        case Lookup::kPastTable:
        case Lookup::kOutsideData: break;
    }
    return SlotValue::kZero;
}

// First slot from which every later slot is past the data (and so on the zero line).
uint64_t FirstSlotPastData(const SensorData *sd) {
    if (sd->mp4_layout) return EntryCount(sd);
    if (sd->block_length < kBlockRecordEnd) return 0;
    return (sd->block_length - kBlockRecordEnd) / kBlockRecordStride + 1;
}

}  // namespace

GraphResult ComputeGraphCurves(const SensorData *sd, int64_t duration_ms, GraphCurves *out) {
    for (auto &p : out->points) p.clear();
    if (!sd->loaded) return GraphResult::kEmptyGrid;
    int64_t s = duration_ms / 1000;
    if (s <= 0) return GraphResult::kNoDuration;

    // Slots run while g < duration div 100 and are skipped past 10 s, so the last one is 10 s.
    uint64_t slots = static_cast<uint64_t>(std::min(duration_ms / 100, 10 * s + 1));
    int64_t span = sd->mp4_layout ? 591 : 585;
    int64_t x0 = sd->mp4_layout ? 4 : 10;
    uint64_t past = FirstSlotPastData(sd);

    for (Axis axis : kCurveDrawOrder) {
        std::vector<GraphPoint> &pts = out->points[axis];
        pts.reserve(static_cast<size_t>(std::min<uint64_t>(slots, past + 1)) + 2);
        pts.push_back({0, kGraphZeroY});
        for (uint64_t g = 0; g < slots; ++g) {
            int y = kGraphZeroY;
            int32_t raw = 0;
            switch (ReadSlot(sd, g, axis, &raw)) {
                case SlotValue::kValue: y = CurveY(raw); break;
                case SlotValue::kBad: return GraphResult::kBadOffset;
                case SlotValue::kZero: break;
            }
            // 128-bit product: the player's duration is not trusted to be small.
            int x = static_cast<int>((static_cast<__int128>(g) + 1) * span / (10 * s) + x0);
            pts.push_back({x, y});
            // Past the data the curve is a straight run on the zero line: its last point is
            // enough, however long the player says the recording is.
            if (g >= past && g + 1 < slots) {
                g = slots - 2;
            }
        }
    }
    return GraphResult::kCurves;
}

bool TimeCursorX(const SensorData *sd, int64_t duration_ms, uint32_t position_ms, int *x) {
    if (!sd->loaded) return false;
    int64_t s = duration_ms / 1000;
    if (s <= 0) return false;
    float t = static_cast<float>(position_ms) / 1000.0f;
    float ten_s = static_cast<float>(10 * s);
    if (10.0f * t <= ten_s) *x = static_cast<int>(10.0f * t * 593.0f / ten_s + 57.0f);
    else *x = kCursorPastEndX;
    return true;
}

std::string FormatGReadout(int16_t raw) {
    int m = raw * 1000 / 128;  // thousandths of G, truncated toward zero
    char buf[16];
    if (m < 0) std::snprintf(buf, sizeof buf, "-%d.%02dG", -m / 1000, (-m % 1000) / 10);
    else std::snprintf(buf, sizeof buf, "%d.%02dG", m / 1000, (m % 1000) / 10);
    return buf;
}

void UpdateReadouts(SensorData *sd, bool player_exists, int64_t duration_ms, int64_t seconds,
                    uint64_t position_ms, ReadoutTexts *texts) {
    sd->readouts_frozen = true;
    if (!player_exists) return;
    if (!sd->loaded) {
        for (auto &t : texts->text) t = "0G";
        return;
    }
    if (!sd->mp4_layout) {
        // The block carries raw values; they are shown as they are.
        const uint8_t *rec;
        bool found = FindBlockRecord(sd, position_ms, &rec);
        for (int a = 0; a < 3; ++a)
            texts->text[a] = found ? std::to_string(ReadLe16(rec + kBlockAccelOffset[a])) : "0";
        sd->readouts_frozen = false;
        return;
    }
    for (Axis axis : {kAxisX, kAxisY, kAxisZ}) {
        if (__int128{10} * seconds > duration_ms / 100) return;
        const uint8_t *rec;
        switch (FindRecord(sd, position_ms, &rec)) {
            case Lookup::kFound: texts->text[axis] = FormatGReadout(RecordAccel(rec, axis)); break;
            case Lookup::kBadOffset: return;
            case Lookup::kPastTable:
            case Lookup::kOutsideData:
                for (auto &t : texts->text) t = "0G";
                break;
        }
    }
    sd->readouts_frozen = false;
}

}  // namespace vt::drivedata
