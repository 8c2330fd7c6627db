#include "app/skin/artwork.h"

#include <cmath>

#include <QFont>
#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace vt::app::skin {
namespace {

// One palette for the whole window: near-black surfaces, one blue accent.
const QColor kBase(18, 19, 21);
const QColor kBarTop(36, 38, 43);
const QColor kBarBottom(22, 23, 26);
const QColor kTimeStrip(25, 25, 25);  // behind the position and duration texts
const QColor kEdge(44, 47, 52);
const QColor kShadow(8, 8, 9);
const QColor kWell(12, 13, 15);  // recessed areas: the list, the video
const QColor kLabel(128, 135, 145);
const QColor kIcon(206, 210, 216);
const QColor kIconHover(255, 255, 255);
const QColor kAccent(0, 150, 255);
const QColor kKey(255, 0, 255);  // transparent colour of the volume channels

constexpr int kWindowW = kWindowWidth, kWindowH = kWindowHeight;

QFont Font(int pixels, int weight = QFont::Normal, qreal spacing = 0) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setHintingPreference(QFont::PreferFullHinting);
    if (spacing != 0) f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return f;
}

void FillVertical(QPainter *p, const QRect &r, const QColor &top, const QColor &bottom) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p->fillRect(r, g);
}

// The lens of the word mark: a ringed blue lens (its gradient reaching one sample past the ring),
// a dark pupil and, on the larger mark, a highlight.
void DrawLensMark(QPainter *p, QPointF c, qreal radius, qreal pupil, bool highlight) {
    p->setRenderHint(QPainter::Antialiasing);
    QRadialGradient lens(c, radius + 1);
    lens.setColorAt(0, QColor(90, 200, 255));
    lens.setColorAt(0.45, kAccent);
    lens.setColorAt(1, QColor(0, 60, 110));
    p->setPen(QPen(QColor(210, 215, 222), 2));
    p->setBrush(lens);
    p->drawEllipse(c, radius, radius);
    p->setPen(Qt::NoPen);
    p->setBrush(QColor(10, 12, 14));
    p->drawEllipse(c, pupil, pupil);
    if (highlight) {
        p->setBrush(QColor(255, 255, 255, 170));
        p->drawEllipse(c - QPointF(2.5, 2.5), 1.6, 1.6);
    }
    p->setRenderHint(QPainter::Antialiasing, false);
}

void Label(QPainter *p, const QRect &r, const QString &text, int flags, int px = 10,
           const QColor &c = kLabel) {
    p->setFont(Font(px, QFont::Bold, 1.2));
    p->setPen(c);
    p->drawText(r, flags, text);
}

// The whole window behind its controls; the four panels are cut from it, so their seams match.
QImage RenderBackground() {
    QImage img(kWindowW, kWindowH, QImage::Format_RGB32);
    img.fill(kBase);
    QPainter p(&img);

    // Title bar with the word mark.
    FillVertical(&p, QRect(0, 0, kWindowW, 42), kBarTop, kBarBottom);
    p.fillRect(0, 41, kWindowW, 1, kShadow);
    p.fillRect(0, 0, kWindowW, 1, QColor(58, 62, 68));
    DrawLensMark(&p, QPointF(28, 21), 10, 4, true);
    p.setFont(Font(17, QFont::Bold, 1.5));
    p.setPen(QColor(232, 234, 237));
    p.drawText(QRect(46, 0, 200, 42), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("VANTREC"));
    p.setFont(Font(17, QFont::Normal, 1.5));
    p.setPen(kAccent);
    p.drawText(QRect(136, 0, 200, 42), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("PLAYER"));

    // Left rail and the frame around the video area.
    p.fillRect(0, 42, 13, kWindowH - 42, QColor(16, 17, 19));
    p.fillRect(12, 41, 642, 1, kShadow);

    // Transport strip: time texts and seek bar above the buttons.
    p.fillRect(0, 630, 654, 86, kBase);
    p.fillRect(13, 631, 640, 22, kTimeStrip);
    p.fillRect(13, 630, 640, 1, kShadow);
    p.fillRect(13, 653, 640, 1, QColor(34, 36, 40));
    p.fillRect(0, 705, 654, 11, QColor(15, 16, 18));

    // Right column.
    p.fillRect(653, 42, 303, kWindowH - 42, QColor(20, 21, 24));
    p.fillRect(653, 42, 1, kWindowH - 42, kShadow);
    p.fillRect(654, 42, 1, kWindowH - 42, QColor(33, 35, 39));
    Label(&p, QRect(666, 46, 274, 18), QStringLiteral("RECORDINGS"),
          Qt::AlignLeft | Qt::AlignVCenter);
    p.fillRect(664, 65, 278, 403, kEdge);
    p.fillRect(665, 66, 276, 401, kShadow);
    p.fillRect(666, 67, 274, 399, kWell);
    Label(&p, QRect(800, 475, 118, 17), QStringLiteral("REPEAT"),
          Qt::AlignRight | Qt::AlignVCenter);

    // G-sensor readouts around an axis sketch: X to the left, Y towards the viewer, Z up.
    p.fillRect(664, 499, 278, 1, kEdge);
    Label(&p, QRect(666, 503, 200, 16), QStringLiteral("G-SENSOR"),
          Qt::AlignLeft | Qt::AlignVCenter);
    const QPointF origin(800, 583);
    struct AxisArt {
        QPointF tip;
        QColor colour;
        QString name;
        QRect readout;
        QPointF name_at;
    };
    const AxisArt axes[3] = {
        {{745, 581}, QColor(255, 0, 0), QStringLiteral("X"), {681, 573, 58, 16}, {681, 569}},
        {{856, 611}, QColor(255, 255, 0), QStringLiteral("Y"), {865, 606, 58, 15}, {865, 602}},
        {{805, 538}, QColor(0, 136, 0), QStringLiteral("Z"), {825, 529, 58, 15}, {825, 525}},
    };
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(70, 74, 80), 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(origin, 42, 15);
    for (const AxisArt &a : axes) {
        QColor c = a.colour;
        p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(origin, a.tip);
        QLineF dir(a.tip, origin);
        dir.setLength(7);
        QLineF w1 = dir, w2 = dir;
        w1.setAngle(dir.angle() + 25);
        w2.setAngle(dir.angle() - 25);
        QPolygonF head{a.tip, w1.p2(), w2.p2()};
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawPolygon(head);
    }
    p.setBrush(QColor(200, 204, 210));
    p.drawEllipse(origin, 3, 3);
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const AxisArt &a : axes) {
        QRect box = a.readout.adjusted(-1, -1, 1, 1);
        p.fillRect(box, QColor(40, 43, 48));
        p.fillRect(a.readout, Qt::black);
        p.setFont(Font(9, QFont::Bold));
        p.setPen(a.colour);
        p.drawText(QRect(a.readout.left() - 12, a.readout.top(), 10, a.readout.height()),
                   Qt::AlignRight | Qt::AlignVCenter, a.name);
    }

    // Volume, print and set-up row.
    p.fillRect(664, 648, 278, 1, kEdge);
    p.fillRect(859, 660, 1, 38, kEdge);
    return img;
}

const QImage &Background() {
    static const QImage img = RenderBackground();
    return img;
}

void Triangle(QPainter *p, QPointF a, QPointF b, QPointF c) { p->drawPolygon(QPolygonF{a, b, c}); }

// The glyph of a transport button inside its frame; `alt` draws the pause glyph of the play strip.
void TransportGlyph(QPainter *p, int id, bool alt, const QRectF &r) {
    const QPointF c = r.center();
    switch (id) {
        case kPlayStrip:
            if (alt) {
                p->drawRect(QRectF(c.x() - 8, c.y() - 10, 5, 20));
                p->drawRect(QRectF(c.x() + 3, c.y() - 10, 5, 20));
            } else {
                Triangle(p, {c.x() - 7, c.y() - 11}, {c.x() - 7, c.y() + 11}, {c.x() + 11, c.y()});
            }
            break;
        case kStopStrip: p->drawRect(QRectF(c.x() - 8, c.y() - 8, 16, 16)); break;
        case kForwardStrip:
            Triangle(p, {c.x() - 13, c.y() - 9}, {c.x() - 13, c.y() + 9}, {c.x(), c.y()});
            Triangle(p, {c.x(), c.y() - 9}, {c.x(), c.y() + 9}, {c.x() + 13, c.y()});
            break;
        case kRewindStrip:
            Triangle(p, {c.x() + 13, c.y() - 9}, {c.x() + 13, c.y() + 9}, {c.x(), c.y()});
            Triangle(p, {c.x(), c.y() - 9}, {c.x(), c.y() + 9}, {c.x() - 13, c.y()});
            break;
        case kOpenStrip: {
            QPainterPath folder;
            folder.moveTo(c.x() - 13, c.y() + 9);
            folder.lineTo(c.x() - 13, c.y() - 9);
            folder.lineTo(c.x() - 5, c.y() - 9);
            folder.lineTo(c.x() - 2, c.y() - 6);
            folder.lineTo(c.x() + 11, c.y() - 6);
            folder.lineTo(c.x() + 11, c.y() - 2);
            folder.lineTo(c.x() - 7, c.y() - 2);
            folder.lineTo(c.x() - 11, c.y() + 9);
            folder.closeSubpath();
            p->drawPath(folder);
            QPainterPath front;
            front.moveTo(c.x() - 7, c.y());
            front.lineTo(c.x() + 14, c.y());
            front.lineTo(c.x() + 10, c.y() + 9);
            front.lineTo(c.x() - 11, c.y() + 9);
            front.closeSubpath();
            p->drawPath(front);
            break;
        }
        default: break;
    }
}

void Speaker(QPainter *p, QPointF c, qreal s) {
    QPolygonF body{{c.x() - 5 * s, c.y() - 2.5 * s}, {c.x() - 2 * s, c.y() - 2.5 * s},
                   {c.x() + 2 * s, c.y() - 6 * s},   {c.x() + 2 * s, c.y() + 6 * s},
                   {c.x() - 2 * s, c.y() + 2.5 * s}, {c.x() - 5 * s, c.y() + 2.5 * s}};
    p->drawPolygon(body);
}

void SmallGlyph(QPainter *p, int id, const QRectF &r, const QColor &ink) {
    const QPointF c = r.center();
    p->setBrush(ink);
    p->setPen(Qt::NoPen);
    switch (id) {
        case kExitStrip: {
            p->setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
            p->drawLine(QPointF(c.x() - 4.5, c.y() - 4.5), QPointF(c.x() + 4.5, c.y() + 4.5));
            p->drawLine(QPointF(c.x() - 4.5, c.y() + 4.5), QPointF(c.x() + 4.5, c.y() - 4.5));
            break;
        }
        case kMinimiseStrip: p->fillRect(QRectF(c.x() - 5, c.y() + 3, 10, 2), ink); break;
        case kVolumeDownStrip:
            Speaker(p, QPointF(c.x() - 3, c.y()), 1.0);
            p->fillRect(QRectF(c.x() + 3, c.y() - 1, 7, 2), ink);
            break;
        case kVolumeUpStrip:
            Speaker(p, QPointF(c.x() - 5, c.y()), 1.3);
            p->fillRect(QRectF(c.x() + 3, c.y() - 1, 10, 2), ink);
            p->fillRect(QRectF(c.x() + 7, c.y() - 5, 2, 10), ink);
            break;
        case kPrintStrip: {
            p->setBrush(Qt::NoBrush);
            p->setPen(QPen(ink, 1.6));
            p->drawRoundedRect(QRectF(c.x() - 12, c.y() - 4, 24, 11), 2, 2);
            p->drawRect(QRectF(c.x() - 7, c.y() - 11, 14, 7));
            p->setBrush(ink);
            p->drawRect(QRectF(c.x() - 7, c.y() + 3, 14, 8));
            p->setPen(Qt::NoPen);
            p->setBrush(kAccent);
            p->drawEllipse(QPointF(c.x() + 8, c.y() - 0.5), 1.3, 1.3);
            break;
        }
        case kSetupStrip: {
            QPainterPath gear;
            const int teeth = 8;
            for (int i = 0; i < teeth * 2; ++i) {
                qreal a = i * 3.14159265 / teeth;
                qreal rad = (i % 2 == 0) ? 11.5 : 8.5;
                qreal a0 = a - 0.22, a1 = a + 0.22;
                QPointF p0(c.x() + rad * std::cos(a0), c.y() + rad * std::sin(a0));
                QPointF p1(c.x() + rad * std::cos(a1), c.y() + rad * std::sin(a1));
                if (i == 0) gear.moveTo(p0);
                else gear.lineTo(p0);
                gear.lineTo(p1);
            }
            gear.closeSubpath();
            gear.addEllipse(c, 4, 4);
            gear.setFillRule(Qt::OddEvenFill);
            p->drawPath(gear);
            break;
        }
        default: break;
    }
}

QImage RenderStrip(const ButtonPlace &b) {
    const int h = b.rect.height();
    QImage img(b.frame_width * b.frames, h, QImage::Format_RGB32);
    QPainter p(&img);
    const QImage behind = Background().copy(b.rect.left(), b.rect.top(), b.frame_width, h);
    const bool transport = b.rect.height() == 51;
    for (int f = 0; f < b.frames; ++f) {
        const int state = f % 3;  // 0 normal, 1 hover, 2 pressed
        const bool alt = f >= 3;
        const QRect fr(f * b.frame_width, 0, b.frame_width, h);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.drawImage(fr.topLeft(), behind);
        QColor ink = state == 0 ? kIcon : (state == 1 ? kIconHover : kAccent);
        if (transport) {
            // A key of the transport bar: raised face, dark seam on its right.
            QRect face = fr.adjusted(1, 2, -1, -2);
            if (state == 2) FillVertical(&p, face, QColor(16, 17, 20), QColor(26, 28, 32));
            else if (state == 1) FillVertical(&p, face, QColor(50, 54, 61), QColor(32, 35, 40));
            else FillVertical(&p, face, QColor(40, 43, 49), QColor(26, 28, 32));
            p.fillRect(face.left(), face.top(), face.width(), 1,
                       state == 2 ? kShadow : QColor(66, 70, 78));
            p.fillRect(face.left(), face.bottom(), face.width(), 1, kShadow);
            p.fillRect(face.right(), face.top(), 1, face.height(), kShadow);
            p.fillRect(face.left(), face.top(), 1, face.height(), QColor(46, 49, 55));
            if (state == 1)
                p.fillRect(face.left() + 1, face.bottom() - 1, face.width() - 2, 1, kAccent);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(ink);
            QRectF glyph = QRectF(fr).translated(0, state == 2 ? 1 : 0);
            TransportGlyph(&p, b.strip, alt, glyph);
        } else {
            if (state > 0) {
                p.setRenderHint(QPainter::Antialiasing);
                p.setPen(Qt::NoPen);
                p.setBrush(state == 1 ? QColor(255, 255, 255, 24) : QColor(0, 0, 0, 90));
                QRectF pad = QRectF(fr).adjusted(1, 1, -1, -1);
                if (b.strip == kExitStrip) pad.setWidth(b.rect.width() - 2);
                p.drawRoundedRect(pad, 4, 4);
            }
            if (b.strip == kExitStrip && state > 0)
                ink = state == 1 ? QColor(255, 90, 90) : QColor(200, 40, 40);
            p.setRenderHint(QPainter::Antialiasing);
            QRectF glyph =
                QRectF(fr.left(), 0, b.strip == kExitStrip ? b.rect.width() : b.frame_width, h);
            SmallGlyph(&p, b.strip, glyph.translated(0, state == 2 ? 1 : 0), ink);
        }
    }
    return img;
}

QImage RenderSeek(bool active) {
    QImage img(561, 7, QImage::Format_RGB32);
    QPainter p(&img);
    p.fillRect(img.rect(), kTimeStrip);
    p.fillRect(0, 1, 561, 5, kShadow);
    if (active) {
        FillVertical(&p, QRect(1, 2, 559, 3), QColor(70, 185, 255), QColor(0, 120, 215));
        p.fillRect(0, 1, 561, 1, QColor(0, 90, 160));
        p.fillRect(0, 5, 561, 1, QColor(0, 70, 130));
    } else {
        p.fillRect(1, 2, 559, 3, QColor(48, 51, 56));
    }
    return img;
}

// A wedge that grows to the right; the key colour around it is drawn transparently.
QImage RenderVolume(bool active) {
    QImage img(111, 7, QImage::Format_RGB32);
    img.fill(kKey);
    for (int x = 0; x < 111; ++x) {
        int h = 1 + x * 6 / 110;  // 1 to 7 rows
        for (int y = 7 - h; y < 7; ++y) {
            QColor c = active ? QColor(0, 150 + (x * 80) / 110 / 2, 255) : QColor(52, 55, 61);
            if (x % 4 == 3) c = active ? QColor(0, 85, 150) : QColor(30, 32, 36);
            img.setPixelColor(x, y, c);
        }
    }
    return img;
}

QImage RenderVideoFrame() {
    QImage img(640, 480, QImage::Format_RGB32);
    QPainter p(&img);
    QRadialGradient g(QPointF(320, 230), 420);
    g.setColorAt(0, QColor(20, 22, 25));
    g.setColorAt(1, QColor(6, 6, 7));
    p.fillRect(img.rect(), g);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(44, 47, 52), 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(270, 180, 76, 52), 8, 8);
    p.drawEllipse(QPointF(308, 206), 15, 15);
    p.drawLine(QPointF(346, 196), QPointF(370, 184));
    p.drawLine(QPointF(370, 184), QPointF(370, 228));
    p.drawLine(QPointF(370, 228), QPointF(346, 216));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setFont(Font(13, QFont::Bold, 1.5));
    p.setPen(QColor(70, 75, 82));
    p.drawText(QRect(0, 250, 640, 20), Qt::AlignCenter, QStringLiteral("NO RECORDING"));
    p.setFont(Font(12));
    p.setPen(QColor(58, 62, 68));
    p.drawText(QRect(0, 272, 640, 20), Qt::AlignCenter,
               QStringLiteral("Open the folder of your recordings  (F2 or Ctrl+O)"));
    p.fillRect(0, 0, 640, 1, QColor(30, 32, 36));
    return img;
}

// The key beside the graph: one colour swatch per curve, level with the graph's grid lines.
QImage RenderLegend() {
    QImage img(44, 109, QImage::Format_RGB32);
    QPainter p(&img);
    p.fillRect(img.rect(), QColor(26, 27, 30));
    p.fillRect(43, 0, 1, 109, QColor(42, 42, 42));
    p.setFont(Font(9, QFont::Bold, 1));
    p.setPen(kLabel);
    p.drawText(QRect(0, 2, 42, 12), Qt::AlignCenter, QStringLiteral("G"));
    struct Key {
        int y;
        QColor c;
        const char *name;
    };
    const Key keys[3] = {
        {34, QColor(255, 0, 0), "X"}, {54, QColor(255, 255, 0), "Y"}, {76, QColor(0, 255, 0), "Z"}};
    for (const Key &k : keys) {
        p.fillRect(7, k.y - 1, 14, 2, k.c);
        p.setFont(Font(11, QFont::Bold));
        p.setPen(k.c);
        p.drawText(QRect(24, k.y - 7, 16, 14), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(k.name));
    }
    return img;
}

QImage RenderIcon() {
    QImage img(64, 64, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 4, 0, 60);
    body.setColorAt(0, QColor(52, 56, 63));
    body.setColorAt(1, QColor(20, 21, 24));
    p.setBrush(body);
    p.setPen(QPen(QColor(80, 85, 93), 1.5));
    p.drawRoundedRect(QRectF(4, 4, 56, 56), 12, 12);
    QRadialGradient lens(QPointF(32, 32), 18);
    lens.setColorAt(0, QColor(90, 200, 255));
    lens.setColorAt(0.5, kAccent);
    lens.setColorAt(1, QColor(0, 50, 100));
    p.setBrush(lens);
    p.setPen(QPen(QColor(215, 220, 226), 3));
    p.drawEllipse(QPointF(32, 32), 16, 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(8, 10, 12));
    p.drawEllipse(QPointF(32, 32), 6.5, 6.5);
    p.setBrush(QColor(255, 255, 255, 180));
    p.drawEllipse(QPointF(27, 27), 2.5, 2.5);
    p.setBrush(QColor(255, 60, 60));
    p.drawEllipse(QPointF(50, 14), 3, 3);
    return img;
}

// The camera settings dialog: title bar, the strip behind its three buttons, the four rows of
// codes and the clock. Labels are part of the picture; the dialog puts bare indicators and edits
// on top of it.
QImage RenderSetupBackground() {
    QImage img(kSetupWidth, kSetupHeight, QImage::Format_RGB32);
    img.fill(kBase);
    QPainter p(&img);
    FillVertical(&p, QRect(0, 0, kSetupWidth, 38), kBarTop, kBarBottom);
    p.fillRect(0, 0, kSetupWidth, 1, QColor(58, 62, 68));
    p.fillRect(0, 37, kSetupWidth, 1, kShadow);
    DrawLensMark(&p, QPointF(24, 19), 8, 3, false);
    p.setFont(Font(15, QFont::Bold, 1.5));
    p.setPen(QColor(232, 234, 237));
    p.drawText(QRect(40, 0, 200, 38), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("CAMERA"));
    p.setFont(Font(15, QFont::Normal, 1.5));
    p.setPen(kAccent);
    p.drawText(QRect(122, 0, 200, 38), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("SETTINGS"));

    // The button strip and its well.
    p.fillRect(89, 44, 317, 35, kShadow);
    p.fillRect(90, 45, 315, 33, kBarBottom);
    p.fillRect(0, 88, kSetupWidth, 1, kEdge);

    struct Row {
        const char *name;
        const char *codes[3];
    };
    const Row rows[4] = {
        {"QUALITY", {"Fine", "Normal", "Economy"}},
        {"FRAME", {"30 fps", "15 fps", "10 fps"}},
        {"SOUND", {"High", "Medium", "Low"}},
        {"SENSITIVITY", {"High", "Medium", "Low"}},
    };
    for (int r = 0; r < 4; ++r) {
        const int top = kSetupRowTop[r];
        // Hairlines between the rows; a tinted band would show the controls' black squares.
        if (r > 0) p.fillRect(24, top - 7, kSetupWidth - 48, 1, QColor(30, 32, 36));
        Label(&p, QRect(24, top, 130, kSetupIndicator), QString::fromLatin1(rows[r].name),
              Qt::AlignLeft | Qt::AlignVCenter);
        for (int c = 0; c < 3; ++c) {
            p.setFont(Font(13));
            p.setPen(QColor(214, 218, 224));
            p.drawText(QRect(kSetupColumnLeft[c] + kSetupIndicator + 7, top, 84, kSetupIndicator),
                       Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(rows[r].codes[c]));
        }
    }
    p.fillRect(0, 232, kSetupWidth, 1, kEdge);

    // The clock: the check box's label, the separators between the edits and their captions.
    Label(&p, QRect(46, kSetupClockTop, 300, kSetupIndicator),
          QStringLiteral("SET THE CAMERA CLOCK"), Qt::AlignLeft | Qt::AlignVCenter);
    const char *separators[5] = {"-", "-", "", ":", ":"};
    const char *captions[6] = {"YEAR", "MONTH", "DAY", "HOUR", "MIN", "SEC"};
    for (int i = 0; i < 6; ++i) {
        const QRect edit(kSetupEditLeft[i], kSetupEditTop, kSetupEditWidth[i], kSetupEditHeight);
        p.fillRect(edit.adjusted(-1, -1, 1, 1), kEdge);
        p.setFont(Font(8, QFont::Bold, 0.6));
        p.setPen(QColor(96, 102, 110));
        p.drawText(QRect(edit.left() - 8, edit.bottom() + 3, edit.width() + 16, 12),
                   Qt::AlignHCenter | Qt::AlignTop, QString::fromLatin1(captions[i]));
        if (i < 5 && separators[i][0] != 0) {
            p.setFont(Font(15, QFont::Bold));
            p.setPen(kLabel);
            p.drawText(QRect(edit.right() + 1, kSetupEditTop,
                             kSetupEditLeft[i + 1] - edit.right() - 1, kSetupEditHeight),
                       Qt::AlignCenter, QString::fromLatin1(separators[i]));
        }
    }
    p.setFont(Font(11));
    p.setPen(QColor(96, 102, 110));
    p.drawText(QRect(24, 318, kSetupWidth - 48, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral(
                   "Choose the settings folder on the camera's card, set the codes, then write."));
    p.fillRect(0, kSetupHeight - 1, kSetupWidth, 1, kShadow);
    p.fillRect(kSetupWidth - 1, 0, 1, kSetupHeight, kShadow);
    p.fillRect(0, 0, 1, kSetupHeight, QColor(44, 47, 52));
    return img;
}

const QImage &SetupBackground() {
    static const QImage img = RenderSetupBackground();
    return img;
}

// A text key of the settings dialog (105 x 33, three frames) with a small glyph before its word.
QImage RenderSetupStrip(int id, int left) {
    const int w = kSetupButtonWidth, h = kSetupButtonHeight;
    QImage img(w * 3, h, QImage::Format_RGB32);
    QPainter p(&img);
    const QImage behind = SetupBackground().copy(left, kSetupButtonTop, w, h);
    const QString word = id == kSetupFolderStrip  ? QStringLiteral("FOLDER")
                         : id == kSetupWriteStrip ? QStringLiteral("WRITE")
                                                  : QStringLiteral("CLOSE");
    for (int state = 0; state < 3; ++state) {
        const QRect fr(state * w, 0, w, h);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.drawImage(fr.topLeft(), behind);
        const QRect face = fr.adjusted(2, 2, -2, -2);
        if (state == 2) FillVertical(&p, face, QColor(16, 17, 20), QColor(26, 28, 32));
        else if (state == 1) FillVertical(&p, face, QColor(50, 54, 61), QColor(32, 35, 40));
        else FillVertical(&p, face, QColor(40, 43, 49), QColor(26, 28, 32));
        p.fillRect(face.left(), face.top(), face.width(), 1,
                   state == 2 ? kShadow : QColor(66, 70, 78));
        p.fillRect(face.left(), face.bottom(), face.width(), 1, kShadow);
        if (state == 1)
            p.fillRect(face.left() + 1, face.bottom() - 1, face.width() - 2, 1, kAccent);
        const QColor ink = state == 0 ? kIcon : (state == 1 ? kIconHover : kAccent);
        const int dy = state == 2 ? 1 : 0;
        const QPointF c(fr.left() + 22, h / 2.0 + dy);
        p.setRenderHint(QPainter::Antialiasing);
        if (id == kSetupFolderStrip) {
            p.setPen(Qt::NoPen);
            p.setBrush(ink);
            QPainterPath folder;
            folder.moveTo(c.x() - 8, c.y() + 6);
            folder.lineTo(c.x() - 8, c.y() - 6);
            folder.lineTo(c.x() - 3, c.y() - 6);
            folder.lineTo(c.x() - 1, c.y() - 4);
            folder.lineTo(c.x() + 8, c.y() - 4);
            folder.lineTo(c.x() + 8, c.y() + 6);
            folder.closeSubpath();
            p.drawPath(folder);
        } else if (id == kSetupWriteStrip) {
            // A card with an arrow going in.
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(ink, 1.6));
            p.drawRect(QRectF(c.x() - 6, c.y() - 7, 12, 14));
            p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(c.x(), c.y() - 4), QPointF(c.x(), c.y() + 3));
            p.drawLine(QPointF(c.x() - 3, c.y()), QPointF(c.x(), c.y() + 3));
            p.drawLine(QPointF(c.x() + 3, c.y()), QPointF(c.x(), c.y() + 3));
        } else {
            p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(c.x() - 5, c.y() - 5), QPointF(c.x() + 5, c.y() + 5));
            p.drawLine(QPointF(c.x() - 5, c.y() + 5), QPointF(c.x() + 5, c.y() - 5));
        }
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setFont(Font(12, QFont::Bold, 1.2));
        p.setPen(ink);
        p.drawText(QRect(fr.left() + 36, dy, w - 40, h), Qt::AlignLeft | Qt::AlignVCenter, word);
    }
    return img;
}

}  // namespace

QImage Render(int id) {
    for (const ButtonPlace &b : kButtonPlaces)
        if (b.strip == id) return RenderStrip(b);
    switch (id) {
        case kSeekChannel: return RenderSeek(false);
        case kSeekActive: return RenderSeek(true);
        case kVolumeChannel: return RenderVolume(false);
        case kVolumeActive: return RenderVolume(true);
        case kVideoFrame: return RenderVideoFrame();
        case kLegend: return RenderLegend();
        case kTopPanel: return Background().copy(0, 0, kWindowW, 42);
        case kLeftPanel: return Background().copy(0, 0, 13, kWindowH);
        case kBottomPanel: return Background().copy(0, 630, 654, 86);
        case kRightPanel: return Background().copy(653, 0, 303, kWindowH);
        case kAppIcon: return RenderIcon();
        case kSetupBackground: return SetupBackground();
        case kSetupFolderStrip: return RenderSetupStrip(id, kSetupButtonLeft[0]);
        case kSetupWriteStrip: return RenderSetupStrip(id, kSetupButtonLeft[1]);
        case kSetupCloseStrip: return RenderSetupStrip(id, kSetupButtonLeft[2]);
        default: return {};
    }
}

const ButtonPlace &ButtonPlaceOf(int strip) {
    for (const ButtonPlace &b : kButtonPlaces)
        if (b.strip == strip) return b;
    return kButtonPlaces[0];
}

QPixmap Bitmap(int id) {
    static QHash<int, QPixmap> cache;
    auto it = cache.find(id);
    if (it != cache.end()) return *it;
    QImage img = Render(id);
    QPixmap pm = img.isNull() ? QPixmap() : QPixmap::fromImage(img);
    cache.insert(id, pm);
    return pm;
}

QList<int> AllIds() {
    QList<int> ids;
    for (const ButtonPlace &b : kButtonPlaces) ids << b.strip;
    ids << kSeekChannel << kSeekActive << kVolumeChannel << kVolumeActive << kVideoFrame << kLegend
        << kTopPanel << kLeftPanel << kBottomPanel << kRightPanel << kAppIcon << kSetupBackground
        << kSetupFolderStrip << kSetupWriteStrip << kSetupCloseStrip;
    return ids;
}

QString Name(int id) {
    static const QHash<int, QString> names = {
        {kPlayStrip, "play"},
        {kOpenStrip, "open"},
        {kStopStrip, "stop"},
        {kForwardStrip, "forward"},
        {kRewindStrip, "rewind"},
        {kExitStrip, "exit"},
        {kVolumeDownStrip, "voldown"},
        {kVolumeUpStrip, "volup"},
        {kMinimiseStrip, "minimise"},
        {kSetupStrip, "setup"},
        {kPrintStrip, "print"},
        {kSeekChannel, "seek"},
        {kSeekActive, "seek_active"},
        {kVolumeActive, "volume_active"},
        {kVolumeChannel, "volume"},
        {kVideoFrame, "video_frame"},
        {kLegend, "legend"},
        {kTopPanel, "panel_top"},
        {kLeftPanel, "panel_left"},
        {kBottomPanel, "panel_bottom"},
        {kRightPanel, "panel_right"},
        {kAppIcon, "icon"},
        {kSetupBackground, "setup_background"},
        {kSetupFolderStrip, "setup_folder"},
        {kSetupWriteStrip, "setup_write"},
        {kSetupCloseStrip, "setup_close"},
    };
    return names.value(id, QStringLiteral("bitmap")) + QLatin1Char('_') + QString::number(id);
}

}  // namespace vt::app::skin
