// The review pieces on their own: zoom and pan arithmetic, the speed steps, the event jumps, the
// key table and snapshot files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QSet>

#include "app/review/events.h"
#include "app/review/keypanel.h"
#include "app/review/keys.h"
#include "app/review/snapshot.h"
#include "app/review/speed.h"
#include "app/review/zoomview.h"
#include "tests/common/testutil.h"

// fontconfig keeps its caches until the process ends; that is not ours to free.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace vt::test {
namespace {

using namespace vt::app::review;

void StartQt() {
    if (QCoreApplication::instance() != nullptr) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "review_tests";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// Where a picture point (in fractions of the picture) is drawn.
QPointF Drawn(const QRectF &target, QPointF fraction) {
    return target.topLeft() +
           QPointF(fraction.x() * target.width(), fraction.y() * target.height());
}

TEST(Zoom, StepsFromOneToEightTimesAndNoFurther) {
    const QRectF base(0, 0, 640, 480);
    ZoomView z;
    EXPECT_FALSE(z.ZoomBy(-1, base.center(), base)) << "already whole";
    int steps = 0;
    while (z.ZoomBy(1, base.center(), base)) ++steps;
    EXPECT_EQ(steps, 6);
    EXPECT_DOUBLE_EQ(z.Factor(), 8.0);
    EXPECT_EQ(z.Target(base).size(), QSizeF(5120, 3840));
    EXPECT_FALSE(z.ZoomBy(3, base.center(), base));
    EXPECT_TRUE(z.ZoomBy(-2, base.center(), base));
    EXPECT_DOUBLE_EQ(z.Factor(), 4.0);
    EXPECT_TRUE(z.ZoomBy(-100, base.center(), base)) << "a big step stops at 1x";
    EXPECT_EQ(z.Target(base), base);
    z.ZoomBy(4, QPointF(10, 10), base);
    z.Reset();
    EXPECT_EQ(z.Level(), 0);
    EXPECT_EQ(z.Target(base), base);
}

TEST(Zoom, KeepsThePointUnderTheAnchorAndNeverUncoversAnEdge) {
    const QRectF base(100, 50, 640, 360);  // a fitted picture inside a larger area
    ZoomView z;
    const QPointF anchor(300, 200);
    const QPointF fraction((anchor.x() - base.left()) / base.width(),
                           (anchor.y() - base.top()) / base.height());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(z.ZoomBy(1, anchor, base));
        const QPointF at = Drawn(z.Target(base), fraction);
        EXPECT_NEAR(at.x(), anchor.x(), 1e-6);
        EXPECT_NEAR(at.y(), anchor.y(), 1e-6);
    }
    // Zooming near a corner would pull the picture away from the edge: it stays covering.
    ZoomView corner;
    corner.ZoomBy(2, QPointF(base.left() + 1, base.top() + 1), base);
    QRectF t = corner.Target(base);
    EXPECT_LE(t.left(), base.left());
    EXPECT_LE(t.top(), base.top());
    EXPECT_GE(t.right(), base.right());
    EXPECT_GE(t.bottom(), base.bottom());

    // Panning stops at the edges; unzoomed there is nothing to pan.
    EXPECT_TRUE(corner.PanBy(QPointF(-10000, -10000), base));
    t = corner.Target(base);
    EXPECT_DOUBLE_EQ(t.right(), base.right());
    EXPECT_DOUBLE_EQ(t.bottom(), base.bottom());
    EXPECT_FALSE(corner.PanBy(QPointF(-5, -5), base));
    EXPECT_TRUE(corner.PanBy(QPointF(10000, 0), base));
    EXPECT_DOUBLE_EQ(corner.Target(base).left(), base.left());
    ZoomView whole;
    EXPECT_FALSE(whole.PanBy(QPointF(30, 30), base));
}

TEST(Zoom, BaseRectangleFitsTheScreenOrKeepsThePictureSize) {
    EXPECT_EQ(BaseRect(QSizeF(640, 480), QRectF(0, 0, 640, 480), false), QRectF(0, 0, 640, 480));
    EXPECT_EQ(BaseRect(QSizeF(320, 240), QRectF(0, 0, 640, 480), false), QRectF(0, 0, 320, 240));
    // 4:3 on a 16:9 screen: full height, centred with bands left and right.
    EXPECT_EQ(BaseRect(QSizeF(640, 480), QRectF(0, 0, 1920, 1080), true),
              QRectF(240, 0, 1440, 1080));
    EXPECT_EQ(BaseRect(QSizeF(640, 240), QRectF(0, 0, 1280, 1024), true),
              QRectF(0, 272, 1280, 480));
}

TEST(Speed, StepsThroughTheTableAndStopsAtItsEnds) {
    int s = kNormalSpeed;
    QStringList seen;
    for (int i = 0; i < 5; ++i) seen << SpeedText(s = FasterSpeed(s));
    EXPECT_EQ(seen, (QStringList{"1.5x", "2x", "4x", "4x", "4x"}));
    seen.clear();
    for (int i = 0; i < 6; ++i) seen << SpeedText(s = SlowerSpeed(s));
    EXPECT_EQ(seen, (QStringList{"2x", "1.5x", "1x", "0.5x", "0.25x", "0.25x"}));
    EXPECT_EQ(FasterSpeed(120), 150) << "between steps: the next one up";
    EXPECT_EQ(SlowerSpeed(120), 100);
}

TEST(EventJumps, LandTwoSecondsBeforeEachPeakAndStopAtTheEnds) {
    const QVector<EventMark> events = {{1200, EventKind::kImpact, 2.1},
                                       {10000, EventKind::kHarsh, 0.8},
                                       {30000, EventKind::kImpact, 1.5}};
    // Forward from the start: the first event's lead-in is cut at 0, where we already are.
    EXPECT_EQ(NextEventTarget(events, 0), 8000);
    EXPECT_EQ(NextEventTarget(events, 8000), 28000) << "landed on one: next moves on";
    EXPECT_EQ(NextEventTarget(events, 7400), 28000) << "a seek that fell short counts as landed";
    EXPECT_EQ(NextEventTarget(events, 6000), 8000);
    EXPECT_EQ(NextEventTarget(events, 28000), std::nullopt) << "after the last";
    EXPECT_EQ(PreviousEventTarget(events, 28000), 8000);
    EXPECT_EQ(PreviousEventTarget(events, 40000), 28000) << "past the last: back to its lead-in";
    EXPECT_EQ(PreviousEventTarget(events, 8000), 0);
    EXPECT_EQ(PreviousEventTarget(events, 800), std::nullopt) << "before the first";
    EXPECT_EQ(NextEventTarget({}, 0), std::nullopt);
    EXPECT_EQ(PreviousEventTarget({}, 50000), std::nullopt);
}

TEST(KeyTable, EveryReviewActionHasOneUnambiguousKey) {
    StartQt();  // key events register their device with the application
    QSet<QPair<int, int>> keys;
    QSet<int> actions;
    for (const KeyBinding &b : KeyTable()) {
        EXPECT_FALSE(keys.contains({b.key, int(b.modifiers)})) << b.key_text << " twice";
        keys.insert({b.key, int(b.modifiers)});
        actions.insert(int(b.action));
        EXPECT_STRNE(b.help, "");
    }
    for (int a = int(Action::kStepForward); a <= int(Action::kKeyPanel); ++a)
        EXPECT_TRUE(actions.contains(a)) << "action " << a << " has no key";

    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        Action want;
    };
    const Case cases[] = {
        {Qt::Key_Period, Qt::NoModifier, Action::kStepForward},
        {Qt::Key_Plus, Qt::ShiftModifier, Action::kZoomIn},   // Shift+= on a US layout
        {Qt::Key_Plus, Qt::KeypadModifier, Action::kZoomIn},  // the keypad's plus
        {Qt::Key_Question, Qt::ShiftModifier, Action::kKeyPanel},
        {Qt::Key_N, Qt::NoModifier, Action::kNextEvent},
        {Qt::Key_N, Qt::ControlModifier, Action::kNone},  // the classic next recording
        {Qt::Key_Space, Qt::NoModifier, Action::kNone},   // classic keys stay classic
        {Qt::Key_F, Qt::AltModifier, Action::kNone},
    };
    for (const Case &c : cases) {
        const QKeyEvent e(QEvent::KeyPress, c.key, c.mods);
        EXPECT_EQ(ReviewActionOf(e), c.want) << c.key;
    }
    EXPECT_TRUE(ActsOnRepeat(Action::kStepBack));
    EXPECT_FALSE(ActsOnRepeat(Action::kFullScreen));
}

TEST(KeyTable, ThePanelListsEveryRow) {
    StartQt();
    CKeyPanel panel;
    ASSERT_EQ(panel.Rows(), KeyTable().size());
    const QStringList lines = KeyHelpLines();
    for (int i = 0; i < panel.Rows(); ++i)
        EXPECT_EQ(panel.KeyAt(i) + "\t" + panel.HelpAt(i), lines[i]);
}

TEST(KeyTable, ThePanelComesBackWhereItWasLeft) {
    StartQt();
    TempDir dir;
    const QString ini = QString::fromStdString((dir / "settings.ini").string());
    {
        CKeyPanel panel(nullptr, ini);
        panel.show();
        panel.setGeometry(120, 90, 380, 300);
        QApplication::processEvents();
        panel.close();
    }
    CKeyPanel again(nullptr, ini);
    EXPECT_EQ(again.size(), QSize(380, 300));
    CKeyPanel fresh(nullptr, QString::fromStdString((dir / "other.ini").string()));
    EXPECT_EQ(fresh.size(), QSize(460, 640)) << "nothing remembered yet";
}

TEST(Snapshot, NamedAfterRecordingAndMomentWithoutReplacingAnother) {
    StartQt();
    EXPECT_EQ(SnapshotName("20261108_083000.mp4", 62345), "20261108_083000_01m02.345s.png");
    EXPECT_EQ(SnapshotName("", -5), "snapshot_00m00.000s.png");
    TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(10, 20, 30));
    const QString first = SaveSnapshot(picture, folder, "a.mp4", 1000);
    const QString second = SaveSnapshot(picture, folder, "a.mp4", 1000);
    EXPECT_EQ(QFileInfo(first).fileName(), "a_00m01.000s.png");
    EXPECT_EQ(QFileInfo(second).fileName(), "a_00m01.000s-2.png");
    const QImage back(second);
    EXPECT_EQ(back.size(), QSize(64, 48));
    EXPECT_EQ(back.pixelColor(5, 5), QColor(10, 20, 30)) << "PNG keeps the pixels exactly";
    EXPECT_TRUE(SaveSnapshot(QImage(), folder, "a.mp4", 0).isEmpty());
    EXPECT_TRUE(SaveSnapshot(picture, folder + "/missing/deeper", "a.mp4", 0).isEmpty());
}

}  // namespace
}  // namespace vt::test
