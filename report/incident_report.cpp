// The incident report page: gathers the facts of the moment from the file and its sensor records,
// decodes the picture, and lays everything out on one A4 page of a PDF.
#include "report/incident_report.h"

#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <memory>

#include "codec/mpeg4v/mpeg4v.h"
#include "drivedata/events.h"
#include "drivedata/sensor_rows.h"
#include "drivedata/sensordata.h"
#include "drivedata/track.h"
#include "engine/core/sha256.h"
#include "engine/writer/mp4_index.h"

#ifndef VT_REPORT_VERSION
#define VT_REPORT_VERSION ""
#endif

namespace vt::report {
namespace {

using drivedata::SensorRow;

constexpr int kDpi = 300;
constexpr double kPageWidthMm = 210, kPageHeightMm = 297, kMarginMm = 15;
constexpr double kContentMm = kPageWidthMm - 2 * kMarginMm;

QString ProgramLine() {
    QString version = QStringLiteral(VT_REPORT_VERSION);
    return QStringLiteral("Vantrec Player ") +
           (version.isEmpty() ? QStringLiteral("(development build)") : version);
}

QString Clock(int64_t ms) {
    const int64_t m = ms / 60000, s = ms / 1000 % 60, f = ms % 1000;
    return QString::asprintf("%02lld:%02lld.%03lld", static_cast<long long>(m),
                             static_cast<long long>(s), static_cast<long long>(f));
}

QString SizeText(uint64_t bytes) {
    return QString::asprintf("%llu bytes (%.1f MB)", static_cast<unsigned long long>(bytes),
                             bytes / 1e6);
}

// The record whose 100 ms slot holds `at_ms` (the last one starting at or before it).
const SensorRow *RowAt(const std::vector<SensorRow> &rows, int64_t at_ms) {
    const SensorRow *best = nullptr;
    for (const SensorRow &r : rows)
        if (static_cast<int64_t>(r.time_ms) <= at_ms) best = &r;
    return best;
}

// --- picture ----------------------------------------------------------------------------------

struct Decoder {
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint8_t> frames;
    Mp4vDecMemBlock mem[4]{};
    void *handle = nullptr;
    ~Decoder() {
        if (handle) Mp4vDecRelease(handle, mem);
    }
};

bool ToImage(const Mp4vDecOutput &o, QImage *picture) {
    if (!o.pY || o.uWidth == 0 || o.uHeight == 0) return false;
    QImage img(static_cast<int>(o.uWidth), static_cast<int>(o.uHeight), QImage::Format_RGB32);
    // Blue, green, red and 255 per pixel: Format_RGB32 as it lies in memory on this platform.
    Mp4vDecYuvToRgb32(o.pY, o.pU, o.pV, static_cast<int32_t>(o.uPitch),
                      static_cast<int32_t>(o.uWidth), static_cast<int32_t>(o.uHeight), img.bits(),
                      static_cast<int32_t>(img.bytesPerLine()), 1);
    *picture = img;
    return true;
}

}  // namespace

bool DecodePictureAt(const std::string &recording, int64_t at_ms, QImage *picture,
                     int64_t *picture_ms, std::string *error) {
    Mp4Index idx;
    const char *detail = nullptr;
    if (MeFailed(Mp4IndexRead(recording.c_str(), &idx, &detail))) {
        *error = detail ? detail : "cannot read the file";
        return false;
    }
    const IndexTrack &v = idx.video;
    if (!v.kind || v.sizes.empty()) {
        *error = "the recording has no video";
        return false;
    }
    // The picture on screen at `at_ms`, and the key frame its decoding starts from.
    size_t target = 0, key = 0;
    uint64_t dts = 0, target_dts = 0;
    for (size_t i = 0; i < v.sizes.size(); dts += v.durations[i], ++i) {
        if (static_cast<int64_t>(dts * 1000 / v.timescale) > at_ms) break;
        target = i, target_dts = dts;
    }
    for (size_t i = 0; i <= target; ++i)
        if (v.sync[i]) key = i;
    *picture_ms = static_cast<int64_t>(target_dts * 1000 / v.timescale);

    const bool h263 = std::string(v.format) == "s263";
    const uint32_t max_w = (std::max<uint32_t>(v.width, 16) + 15) & ~15u;
    const uint32_t max_h = (std::max<uint32_t>(v.height, 16) + 15) & ~15u;
    if (max_w > 4096 || max_h > 4096) {
        *error = "picture size not supported";
        return false;
    }
    Decoder d;
    constexpr uint32_t kBuffers = 3;
    const size_t y_size = size_t(max_w) * max_h + 16, c_size = size_t(max_w / 2) * (max_h / 2) + 16;
    d.frames.resize(kBuffers * (y_size + 2 * c_size));
    Mp4vDecFrmBuffer bufs[kBuffers];
    for (uint32_t i = 0; i < kBuffers; ++i) {
        uint8_t *base = d.frames.data() + i * (y_size + 2 * c_size);
        bufs[i] = Mp4vDecFrmBuffer{base, base + y_size, base + y_size + c_size, 0};
    }
    Mp4vDecConfigInfo ci{};
    ci.pConfigData = v.config.empty() ? nullptr : v.config.data();
    ci.uConfigDataLen = static_cast<uint32_t>(v.config.size());
    ci.iIsShortHdrMode = h263 ? 1 : (v.config.empty() ? 0 : -1);
    Mp4vDecConfig cfg{&ci, bufs, kBuffers, max_w, max_h, nullptr};
    Mp4vDecQueryMem(&cfg, d.mem);
    d.blocks.resize(4);
    for (int i = 0; i < 4; ++i) {
        d.blocks[i].resize(d.mem[i].uSize);
        d.mem[i].pBlock = d.blocks[i].data();
    }
    int32_t is_short = 0;
    Mp4vDecInitResult init{&is_short, 0, 0};
    d.handle = Mp4vDecInit(d.mem, &cfg, &init);
    if (!d.handle) {
        *error = "cannot start the video decoder";
        return false;
    }
    FILE *f = std::fopen(recording.c_str(), "rb");
    if (!f) {
        *error = "cannot open the file";
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE *)> guard(f, std::fclose);
    std::vector<uint8_t> unit;
    int32_t info[2];
    bool have = false;
    // The camera writes I and P pictures only, so the last picture out is the target's.
    for (size_t i = key; i <= target; ++i) {
        unit.resize(v.sizes[i]);
        if (std::fseek(f, static_cast<long>(v.offsets[i]), SEEK_SET) != 0 ||
            std::fread(unit.data(), 1, unit.size(), f) != unit.size()) {
            *error = "read error";
            return false;
        }
        Mp4vDecInput in{0, unit.data(), static_cast<uint32_t>(unit.size()), 1, 0, 0};
        Mp4vDecOutput out{};
        out.piPicInfo = info;
        Mp4vDecDecode(d.handle, &in, &out);
        have = ToImage(out, picture) || have;
    }
    Mp4vDecInput flush{};
    Mp4vDecOutput out{};
    out.piPicInfo = info;
    Mp4vDecDecode(d.handle, &flush, &out);
    have = ToImage(out, picture) || have;
    if (!have) {
        *error = "the picture could not be decoded";
        return false;
    }
    return true;
}

namespace {

// --- drawing ----------------------------------------------------------------------------------

class Page {
public:
    explicit Page(QPainter *p) : m_p(p) {}
    static double Mm(double mm) { return mm * kDpi / 25.4; }
    QRectF Rect(double x, double y, double w, double h) const {
        return {Mm(x), Mm(y), Mm(w), Mm(h)};
    }

    void Font(double points, bool bold = false, bool mono = false) {
        QFont f(mono ? QStringLiteral("Liberation Mono") : QStringLiteral("Liberation Sans"));
        if (mono) f.setStyleHint(QFont::Monospace);
        f.setPointSizeF(points);
        f.setBold(bold);
        m_p->setFont(f);
    }
    void Text(double x, double y, double w, double h, const QString &text,
              int flags = Qt::AlignLeft | Qt::AlignVCenter) {
        m_p->drawText(Rect(x, y, w, h), flags, text);
    }
    // A label in bold and its value after it.
    void Fact(double x, double y, const QString &label, const QString &value, bool mono = false) {
        Font(8.5, true);
        Text(x, y, 28, 5, label);
        Font(mono ? 7.5 : 8.5, false, mono);
        Text(x + 28, y, kContentMm - 28, 5, value);
    }
    QPainter *p() { return m_p; }

private:
    QPainter *m_p;
};

void DrawGraph(Page &page, double x, double y, double w, double h,
               const std::vector<SensorRow> &rows, const std::vector<drivedata::Event> &events,
               int64_t at_ms) {
    QPainter *p = page.p();
    const QRectF box = page.Rect(x, y, w, h);
    p->setPen(QPen(QColor(120, 120, 120), Page::Mm(0.2)));
    p->setBrush(Qt::NoBrush);
    p->drawRect(box);
    if (rows.empty()) return;
    const double t0 = static_cast<double>(rows.front().time_ms);
    const double t1 = std::max(t0 + 100, static_cast<double>(rows.back().time_ms) + 100);
    double peak = 1.0;
    for (const SensorRow &r : rows)
        for (int a = 0; a < 3; ++a) peak = std::max(peak, std::fabs(r.accel[a] / 128.0));
    const double range = std::ceil(peak * 2) / 2;  // to the next half G
    auto px = [&](double t) { return box.left() + (t - t0) / (t1 - t0) * box.width(); };
    auto py = [&](double g) { return box.center().y() - g / range * box.height() / 2; };

    // Zero line and the scale.
    p->setPen(QPen(QColor(190, 190, 190), Page::Mm(0.15), Qt::DashLine));
    p->drawLine(QPointF(box.left(), py(0)), QPointF(box.right(), py(0)));
    page.Font(6.5);
    p->setPen(Qt::black);
    p->drawText(
        QRectF(box.left() - Page::Mm(12), py(range) - Page::Mm(2), Page::Mm(11), Page::Mm(4)),
        Qt::AlignRight | Qt::AlignVCenter, QString::asprintf("+%.1f G", range));
    p->drawText(
        QRectF(box.left() - Page::Mm(12), py(-range) - Page::Mm(2), Page::Mm(11), Page::Mm(4)),
        Qt::AlignRight | Qt::AlignVCenter, QString::asprintf("-%.1f G", range));

    const QColor colours[3] = {QColor(200, 30, 30), QColor(20, 140, 40), QColor(30, 70, 200)};
    for (int a = 0; a < 3; ++a) {
        QPainterPath path;
        for (size_t i = 0; i < rows.size(); ++i) {
            QPointF pt(px(static_cast<double>(rows[i].time_ms)), py(rows[i].accel[a] / 128.0));
            if (i == 0) path.moveTo(pt);
            else path.lineTo(pt);
        }
        p->setPen(QPen(colours[a], Page::Mm(0.25)));
        p->drawPath(path);
    }
    // Events as small marks on the top edge, the moment as a bold line.
    p->setPen(Qt::NoPen);
    p->setBrush(QColor(230, 140, 0));
    for (const auto &e : events) {
        const double ex = px(static_cast<double>(e.time_ms));
        QPolygonF tri;
        tri << QPointF(ex, box.top() + Page::Mm(2)) << QPointF(ex - Page::Mm(1), box.top())
            << QPointF(ex + Page::Mm(1), box.top());
        p->drawPolygon(tri);
    }
    const double mx = px(static_cast<double>(at_ms));
    p->setPen(QPen(Qt::black, Page::Mm(0.5)));
    p->drawLine(QPointF(mx, box.top()), QPointF(mx, box.bottom()));

    // Legend under the box.
    page.Font(7);
    const char *names[3] = {"X (forward)", "Y (right)", "Z (up)"};
    for (int a = 0; a < 3; ++a) {
        p->setPen(colours[a]);
        page.Text(x + 30 * a, y + h + 0.5, 30, 4, QString::fromLatin1(names[a]));
    }
    p->setPen(Qt::black);
    page.Text(x + 90, y + h + 0.5, w - 90, 4,
              QStringLiteral("black line: the moment, %1; orange marks: events").arg(Clock(at_ms)),
              Qt::AlignRight | Qt::AlignVCenter);
}

void DrawTrack(Page &page, double x, double y, double w, double h, const drivedata::Track &track,
               int64_t at_ms) {
    QPainter *p = page.p();
    const QRectF box = page.Rect(x, y, w, h);
    p->setPen(QPen(QColor(120, 120, 120), Page::Mm(0.2)));
    p->setBrush(Qt::NoBrush);
    p->drawRect(box);
    const auto &fixes = track.Fixes();
    page.Font(7);
    p->setPen(Qt::black);
    if (fixes.empty()) {
        p->drawText(box, Qt::AlignCenter, QStringLiteral("no GPS fixes"));
        return;
    }
    // Equirectangular projection around the track's middle latitude, fitted with a margin.
    double lat_min = 90, lat_max = -90, lon_min = 180, lon_max = -180;
    for (const auto &f : fixes) {
        lat_min = std::min(lat_min, f.latitude), lat_max = std::max(lat_max, f.latitude);
        lon_min = std::min(lon_min, f.longitude), lon_max = std::max(lon_max, f.longitude);
    }
    const double k = std::cos((lat_min + lat_max) / 2 * M_PI / 180);
    const double span_x = std::max((lon_max - lon_min) * k, 1e-6),
                 span_y = std::max(lat_max - lat_min, 1e-6);
    const QRectF inner = box.adjusted(Page::Mm(4), Page::Mm(4), -Page::Mm(4), -Page::Mm(8));
    const double scale = std::min(inner.width() / span_x, inner.height() / span_y);
    const double ox = inner.center().x() - span_x * scale / 2,
                 oy = inner.center().y() + span_y * scale / 2;
    auto map = [&](const drivedata::Fix &f) {
        return QPointF(ox + (f.longitude - lon_min) * k * scale,
                       oy - (f.latitude - lat_min) * scale);
    };
    QPainterPath path;
    for (size_t i = 0; i < fixes.size(); ++i) {
        if (i == 0 || track.JumpInto(i)) path.moveTo(map(fixes[i]));
        else path.lineTo(map(fixes[i]));
    }
    p->setPen(QPen(QColor(30, 70, 200), Page::Mm(0.4)));
    p->drawPath(path);
    p->setPen(Qt::NoPen);
    p->setBrush(QColor(20, 140, 40));
    p->drawEllipse(map(fixes.front()), Page::Mm(0.9), Page::Mm(0.9));
    ptrdiff_t at = track.IndexAtOrBefore(at_ms);
    if (at >= 0) {
        p->setBrush(QColor(210, 20, 20));
        p->drawEllipse(map(fixes[static_cast<size_t>(at)]), Page::Mm(1.4), Page::Mm(1.4));
    }
    // A scale bar of a round length near a quarter of the box.
    const double metres_per_unit = drivedata::kEarthRadiusM * M_PI / 180;  // one degree of latitude
    double want = inner.width() / 4 / scale * metres_per_unit;
    double bar = std::pow(10, std::floor(std::log10(std::max(want, 1.0))));
    if (bar * 5 <= want) bar *= 5;
    else if (bar * 2 <= want) bar *= 2;
    const double bar_px = bar / metres_per_unit * scale;
    p->setPen(QPen(Qt::black, Page::Mm(0.3)));
    const double by = box.bottom() - Page::Mm(3);
    p->drawLine(QPointF(box.left() + Page::Mm(3), by),
                QPointF(box.left() + Page::Mm(3) + bar_px, by));
    p->drawText(
        QRectF(box.left() + Page::Mm(4) + bar_px, by - Page::Mm(2), Page::Mm(20), Page::Mm(4)),
        Qt::AlignLeft | Qt::AlignVCenter,
        bar >= 1000 ? QString::asprintf("%g km", bar / 1000) : QString::asprintf("%g m", bar));
    p->drawText(box.adjusted(0, Page::Mm(1), -Page::Mm(2), 0), Qt::AlignRight | Qt::AlignTop,
                QStringLiteral("north up; red: the moment"));
}

}  // namespace

bool WriteIncidentReport(const ReportRequest &req, ReportFacts *facts, std::string *error) {
    ReportFacts f;
    QFileInfo info(QString::fromStdString(req.recording));
    f.file_name = info.fileName().toStdString();
    f.file_size = static_cast<uint64_t>(info.size());

    auto sd = std::make_unique<drivedata::SensorData>();
    if (drivedata::OpenRecordingMp4(sd.get(), req.recording.c_str()) !=
        drivedata::OpenResult::kOk) {
        *error = req.recording +
                 ": not a recording of this camera, or its sensor records cannot be read";
        return false;
    }
    std::vector<SensorRow> rows;
    drivedata::CollectSensorRows(sd.get(), &rows);
    if (rows.empty()) {
        *error = req.recording + ": no sensor records";
        return false;
    }
    const int64_t end_ms = static_cast<int64_t>(rows.back().time_ms) + 100;
    if (req.at_ms < 0 || req.at_ms >= end_ms) {
        *error = "--at " + std::to_string(req.at_ms) + " lies outside the recording (0 to " +
                 std::to_string(end_ms - 1) + " ms)";
        return false;
    }
    QImage picture;
    if (!DecodePictureAt(req.recording, req.at_ms, &picture, &f.picture_ms, error)) {
        *error = req.recording + ": " + *error;
        return false;
    }
    f.picture_width = picture.width(), f.picture_height = picture.height();
    char hex[kSha256HexSize];
    if (!Sha256File(req.recording.c_str(), hex)) {
        *error = "cannot read " + req.recording;
        return false;
    }
    f.sha256 = hex;

    drivedata::Track track;
    track.AddRows(rows);
    const std::vector<drivedata::Event> events = drivedata::FindEvents(rows, req.threshold_g);
    f.events = events.size();
    const SensorRow *row = RowAt(rows, req.at_ms);
    if (row && row->has_time) {
        const auto &t = row->time;
        f.date_time = QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                                        t.hour, t.minute, t.second);
    } else {
        f.date_time =
            row && !row->text.empty() ? QString::fromStdString(row->text) : QStringLiteral("--");
    }
    f.position = row && row->has_position
                     ? QString::asprintf("%.6f, %.6f", row->latitude, row->longitude)
                     : QStringLiteral("no GPS fix");
    double kmh = 0;
    f.speed = row && track.SpeedKmhAt(static_cast<int64_t>(row->time_ms), &kmh)
                  ? QString::asprintf("%.1f km/h", kmh)
                  : QStringLiteral("--");
    if (row)
        f.g_values = QString::asprintf("X %+.2f G   Y %+.2f G   Z %+.2f G", row->accel[0] / 128.0,
                                       row->accel[1] / 128.0, row->accel[2] / 128.0);
    const QDateTime made = req.made.isValid() ? req.made : QDateTime::currentDateTime();

    // The page goes to a temporary file beside the PDF, renamed once the painter has finished.
    const QString out = QString::fromStdString(req.output);
    const QString temp = out + QStringLiteral(".part-%1").arg(::getpid());
    bool painted = false;
    {
        QPdfWriter pdf(temp);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(kDpi);
        pdf.setTitle(
            QStringLiteral("Incident report: %1 at %2").arg(info.fileName(), Clock(req.at_ms)));
        pdf.setCreator(ProgramLine());
        QPainter painter;
        if (painter.begin(&pdf)) {
            Page page(&painter);
            const double x = kMarginMm;
            page.Font(16, true);
            page.Text(x, 12, kContentMm, 8, QStringLiteral("Incident report"));
            page.Font(8.5);
            page.Text(x, 12, kContentMm, 8, ProgramLine(), Qt::AlignRight | Qt::AlignVCenter);
            page.Font(10);
            page.Text(x, 20, kContentMm, 6,
                      QStringLiteral("%1 at %2 into the recording")
                          .arg(info.fileName(), Clock(req.at_ms)));

            // The picture at full resolution, fitted into 160 x 120 mm without changing its shape.
            double pw = 160, ph = 160.0 * picture.height() / std::max(1, picture.width());
            if (ph > 120) pw = pw * 120 / ph, ph = 120;
            const double pic_y = 27;
            // The picture is evidence: stored losslessly, its pixels exactly as decoded (the PDF
            // engine would otherwise re-encode it as JPEG).
            painter.setRenderHint(QPainter::LosslessImageRendering);
            painter.drawImage(page.Rect(x + (kContentMm - pw) / 2, pic_y, pw, ph), picture);
            page.Font(7.5);
            page.Text(
                x, pic_y + ph + 0.5, kContentMm, 4,
                QStringLiteral("Picture at %1 (%2 x %3 pixels, as decoded from the recording)")
                    .arg(Clock(f.picture_ms))
                    .arg(picture.width())
                    .arg(picture.height()),
                Qt::AlignHCenter | Qt::AlignVCenter);

            double fy = pic_y + ph + 6;
            page.Fact(x, fy, QStringLiteral("File"), info.fileName());
            page.Fact(x, fy += 5, QStringLiteral("Size"), SizeText(f.file_size));
            page.Fact(x, fy += 5, QStringLiteral("SHA-256"), QString::fromStdString(f.sha256),
                      true);
            page.Fact(x, fy += 5, QStringLiteral("Moment"),
                      QStringLiteral("%1 into the recording (%2 ms)")
                          .arg(Clock(req.at_ms))
                          .arg(req.at_ms));
            page.Fact(x, fy += 5, QStringLiteral("Date and time"),
                      f.date_time + QStringLiteral("  (from the camera's data text)"));
            page.Fact(x, fy += 5, QStringLiteral("Position"), f.position);
            page.Fact(x, fy += 5, QStringLiteral("Speed"), f.speed);
            page.Fact(x, fy += 5, QStringLiteral("G values"),
                      f.g_values.isEmpty() ? QStringLiteral("--") : f.g_values);

            // The sketch sits right of the facts, below the fingerprint's line.
            const double track_x = x + 135, track_y = pic_y + ph + 6 + 15,
                         track_w = kContentMm - 135;
            DrawTrack(page, track_x, track_y, track_w, fy + 5 - track_y, track, req.at_ms);

            const double gy = fy + 10;
            page.Font(8.5, true);
            page.Text(x, gy - 5, kContentMm, 5, QStringLiteral("G sensor, whole recording"));
            DrawGraph(page, x + 13, gy, kContentMm - 13, 40, rows, events, req.at_ms);

            double ey = gy + 46;
            page.Font(8.5, true);
            page.Text(
                x, ey, kContentMm, 5,
                QStringLiteral("Events of the recording (threshold %1 G): %2")
                    .arg(req.threshold_g, 0, 'f', 2)
                    .arg(events.empty() ? QStringLiteral("none") : QString::number(events.size())));
            ey += 5;
            page.Font(7.5);
            const double bottom = kPageHeightMm - kMarginMm - 6;
            const int per_column = std::max(1, static_cast<int>((bottom - ey) / 3.6));
            const int columns = 3, shown_max = per_column * columns;
            for (size_t i = 0; i < events.size(); ++i) {
                const int slot = static_cast<int>(i);
                const auto &e = events[i];
                QString line = QStringLiteral("%1  %2  %3 G  axis %4")
                                   .arg(Clock(e.time_ms),
                                        QString::fromLatin1(drivedata::EventKindName(e.kind)))
                                   .arg(drivedata::RoundG(e.peak_g), 0, 'f', 2)
                                   .arg(QString::fromLatin1(drivedata::AxisName(e.axis)));
                if (slot == shown_max - 1 && events.size() > static_cast<size_t>(shown_max))
                    line = QStringLiteral("... and %1 more").arg(events.size() - i);
                page.Text(x + (slot / per_column) * (kContentMm / columns),
                          ey + (slot % per_column) * 3.6, kContentMm / columns, 3.6, line);
                if (slot == shown_max - 1) break;
            }

            page.Font(7);
            page.Text(
                x, kPageHeightMm - kMarginMm - 4, kContentMm, 4,
                QStringLiteral("Report made %1 by %2. Check the fingerprint with: sha256sum %3")
                    .arg(made.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) +
                             made.timeZoneAbbreviation(),
                         ProgramLine(), info.fileName()));
            painted = painter.end();
        }
    }
    // A full disk can cut the file short without the painter noticing: a complete PDF ends in
    // its end-of-file marker.
    if (painted) {
        QFile check(temp);
        painted = check.open(QIODevice::ReadOnly) && check.size() > 16 &&
                  check.seek(check.size() - 16) && check.read(16).contains("%%EOF");
    }
    if (!painted) {
        QFile::remove(temp);
        *error = "cannot write " + req.output;
        return false;
    }
    if (std::rename(temp.toLocal8Bit().constData(), req.output.c_str()) != 0) {
        QFile::remove(temp);
        *error = "cannot write " + req.output;
        return false;
    }
    if (facts) *facts = f;
    return true;
}

}  // namespace vt::report
