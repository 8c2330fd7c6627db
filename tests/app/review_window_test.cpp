// The review keys and marks in the main window: real widgets on the offscreen platform, the
// scripted engine, the bundled samples as the listed recordings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <filesystem>
#include <memory>

#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/review/keypanel.h"
#include "app/skinbutton.h"
#include "app/skinlistbox.h"
#include "app/skinslider.h"
#include "app/videowindow.h"
#include "app/wait.h"
#include "drivedata/sensor_rows.h"
#include "drivedata/track.h"
#include "tests/app/app_env.h"
#include "tests/app/fake_engine.h"
#include "tests/common/testutil.h"

namespace vt::test {
namespace {

namespace fs = std::filesystem;
using app::CPlayerDlg;
using app::review::EventKind;
using app::review::EventMark;

class ReviewWindow : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();
        if (!fs::exists(SamplesDir() / "20261108_083000.mp4")) GTEST_SKIP() << "samples/ missing";
        Engine().Reset();
        dlg = std::make_unique<CPlayerDlg>(nullptr,
                                           QString::fromStdString(program_dir.path().string()));
        dlg->SetMessageSink([this](const QString &t) { messages << t; });
        dlg->SetSnapshotFolder(QString::fromStdString(pictures.path().string()));
        // Defaults (1 G, km/h) whatever the user running the tests has set.
        dlg->SetSettingsFile(QString::fromStdString((program_dir / "none.ini").string()));
        dlg->show();
        PumpEvents();
        dlg->OpenFolder(QString::fromStdString(SamplesDir().string()));
        PumpEvents();
        ASSERT_TRUE(dlg->Loaded());
    }
    void TearDown() override {
        dlg.reset();
        PumpEvents();
    }
    static FakeEngine &Engine() { return FakeEngine::Get(); }
    void Tick(int32_t position, int32_t state = STATE_PLAYING) {
        Engine().Tick(position, state);
        PumpEvents();
    }
    // A key pressed and released where the platform would send it: the widget with the focus.
    void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, bool repeat = false) {
        QWidget *to =
            QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : dlg.get();
        QKeyEvent press(QEvent::KeyPress, key, mods, QString(), repeat);
        QApplication::sendEvent(to, &press);
        QKeyEvent release(QEvent::KeyRelease, key, mods, QString(), repeat);
        QApplication::sendEvent(to, &release);
        PumpEvents();
    }
    app::CVideoWindow *Video() const { return dlg->VideoWindow(); }
    // A picture as the engine would present it.
    void Present(QSize size, QColor colour = QColor(90, 90, 90)) {
        QImage img(size, QImage::Format_RGB32);
        img.fill(colour);
        Video()->Deliver(img);
        PumpEvents();
    }

    TempDir program_dir, pictures;
    std::unique_ptr<CPlayerDlg> dlg;
    QStringList messages;
};

TEST_F(ReviewWindow, ArrowPressesLeaveTheFocusAndTheSelectedRecordingAlone) {
    QWidget *focus = QApplication::focusWidget();
    ASSERT_EQ(focus, dlg->PlayButton()) << "opening puts the focus on play";
    for (int i = 0; i < 3; ++i) Press(Qt::Key_Up);
    EXPECT_EQ(dlg->List()->CurrentIndex(), 0);
    EXPECT_EQ(Engine().opens, 1);
    EXPECT_EQ(QApplication::focusWidget(), focus);
    for (int i = 0; i < 3; ++i) Press(Qt::Key_Down);
    EXPECT_EQ(dlg->Volume(), 70) << "the arrows still act, on release";
    for (int i = 0; i < 4; ++i) Press(Qt::Key_Right);
    EXPECT_EQ(QApplication::focusWidget(), focus);
    EXPECT_EQ(dlg->List()->CurrentIndex(), 0);
    // Even with the focus in the list, Up is the volume, not the previous entry.
    dlg->List()->SetCurrentIndex(1);
    PumpEvents();
    const int opens = Engine().opens;
    dlg->List()->setFocus();
    PumpEvents();
    Press(Qt::Key_Up);
    Press(Qt::Key_Up);
    EXPECT_EQ(dlg->List()->CurrentIndex(), 1);
    EXPECT_EQ(Engine().opens, opens);
}

TEST_F(ReviewWindow, StepsPauseFirstAndRepeatWhileHeld) {
    Tick(5000);
    Press(Qt::Key_Period);
    EXPECT_EQ(Engine().pauses, 1) << "paused before stepping";
    EXPECT_EQ(Engine().steps_forward, 1);
    EXPECT_EQ(dlg->LastKnownState(), app::kStatePaused);
    EXPECT_EQ(dlg->PlayButton()->CurrentFrame(), 0) << "the button shows play again";
    Press(Qt::Key_Period, Qt::NoModifier, true);
    EXPECT_EQ(Engine().steps_forward, 2) << "a held key keeps stepping";
    Press(Qt::Key_Comma);
    Press(Qt::Key_Comma, Qt::NoModifier, true);
    EXPECT_EQ(Engine().steps_back, 2);
    EXPECT_EQ(Engine().pauses, 1) << "already paused";
    EXPECT_EQ(Engine().position, 5000);
    EXPECT_EQ(dlg->LabelText(app::IDC_POSITION_TEXT), "00:05");
}

TEST_F(ReviewWindow, SpeedKeysStepShowTheSpeedAndCarryOverToTheNextRecording) {
    Press(Qt::Key_BracketRight);
    EXPECT_EQ(Engine().speed, 150);
    EXPECT_EQ(Video()->Notice(), "1.5x");
    for (int i = 0; i < 4; ++i) Press(Qt::Key_BracketRight);
    EXPECT_EQ(Engine().speed, 400);
    EXPECT_EQ(Video()->Notice(), "4x");
    for (int i = 0; i < 8; ++i) Press(Qt::Key_BracketLeft);
    EXPECT_EQ(Engine().speed, 25);
    EXPECT_EQ(Video()->Notice(), "0.25x");
    Press(Qt::Key_BracketRight);
    const int calls = Engine().speed_calls;
    Press(Qt::Key_N, Qt::ControlModifier);  // next recording: the engine starts at normal speed
    ASSERT_EQ(Engine().opens, 2);
    EXPECT_EQ(Engine().speed, 50);
    EXPECT_GT(Engine().speed_calls, calls);
    Press(Qt::Key_Equal);
    EXPECT_EQ(Engine().speed, 100);
    EXPECT_EQ(Video()->Notice(), "1x");
    // The notice is short-lived.
    EXPECT_TRUE(app::Wait(3000, app::WaitStyle::kResponsive,
                          [this] { return Video()->Notice().isEmpty(); }));
}

TEST_F(ReviewWindow, FullScreenByKeyOrDoubleClickAndEscapeLeavesItFirst) {
    Press(Qt::Key_F);
    ASSERT_TRUE(dlg->IsFullScreen());
    EXPECT_TRUE(Video()->isWindow());
    EXPECT_TRUE(Video()->FullScreenLook());
    EXPECT_TRUE(Video()->isVisible());
    // Keys keep working from the full-screen window.
    Press(Qt::Key_BracketRight);
    EXPECT_EQ(Engine().speed, 150);
    Press(Qt::Key_Escape);
    EXPECT_FALSE(dlg->IsFullScreen());
    EXPECT_EQ(Engine().pauses, 0) << "Esc only left full screen";
    EXPECT_FALSE(dlg->windowState() & Qt::WindowMinimized);
    EXPECT_EQ(Video()->parentWidget(), dlg.get());
    EXPECT_EQ(Video()->geometry(), QRect(13, 42, 640, 480));
    EXPECT_TRUE(Video()->isVisible());

    QTest::mouseDClick(Video(), Qt::LeftButton, {}, QPoint(100, 100));
    PumpEvents();
    EXPECT_TRUE(dlg->IsFullScreen());
    QTest::mouseDClick(Video(), Qt::LeftButton, {}, QPoint(100, 100));
    PumpEvents();
    EXPECT_FALSE(dlg->IsFullScreen());

    // Esc outside full screen is the classic pause and minimise.
    Press(Qt::Key_Escape);
    EXPECT_EQ(Engine().pauses, 1);
    EXPECT_TRUE(dlg->windowState() & Qt::WindowMinimized);
}

TEST_F(ReviewWindow, FullScreenDrawsTheReadoutsAndThePositionBarOverTheFittedPicture) {
    dlg->SetEvents({{30000, EventKind::kImpact, 2.0}});
    Tick(15000);
    Present(QSize(640, 480), QColor(90, 90, 90));
    dlg->SetFullScreen(true);
    PumpEvents();
    const app::review::HudState hud = dlg->Hud();
    ASSERT_EQ(hud.readouts.size(), 4);
    EXPECT_TRUE(hud.readouts[0].text.startsWith("X "));
    EXPECT_EQ(hud.readouts[3].text, "-- km/h");
    EXPECT_EQ(hud.position_ms, 15000);
    const QImage shot = Video()->grab().toImage();
    const QRectF fitted = Video()->PictureRect();
    EXPECT_NEAR(fitted.width() / fitted.height(), 4.0 / 3.0, 0.01) << "the shape is kept";
    EXPECT_TRUE(std::abs(fitted.height() - Video()->height()) < 1 ||
                std::abs(fitted.width() - Video()->width()) < 1)
        << "fills the screen one way";
    EXPECT_NEAR(fitted.center().x(), Video()->width() / 2.0, 1.0);
    EXPECT_NEAR(fitted.center().y(), Video()->height() / 2.0, 1.0);
    EXPECT_EQ(Video()->size(), dlg->screen()->geometry().size());
    // The bar: played part blue up to a quarter, the event's triangle at the half.
    const QRectF bar = app::review::PositionBarRect(QRectF(Video()->rect()));
    const QColor played =
        shot.pixelColor(int(bar.left() + bar.width() * 0.1), int(bar.center().y()));
    EXPECT_GT(played.blue(), 150);
    const QColor unplayed =
        shot.pixelColor(int(bar.left() + bar.width() * 0.4), int(bar.center().y()));
    EXPECT_LT(unplayed.blue(), 150);
    const QColor mark = shot.pixelColor(int(bar.center().x()), int(bar.top() - 5));
    EXPECT_GT(mark.red(), 200);
    EXPECT_LT(mark.blue(), 100);
    dlg->SetFullScreen(false);
}

TEST_F(ReviewWindow, ZoomStepsToEightTimesPansAndResetsPausedOrPlaying) {
    Present(QSize(640, 480));
    for (int i = 0; i < 9; ++i) Press(Qt::Key_Plus, Qt::ShiftModifier, i > 0);
    EXPECT_EQ(Video()->Zoom().Level(), app::review::kMaxZoomLevel);
    EXPECT_EQ(Video()->PictureRect().size(), QSizeF(5120, 3840));
    for (int i = 0; i < 4; ++i) Press(Qt::Key_Minus);
    EXPECT_DOUBLE_EQ(Video()->Zoom().Factor(), 2.0);
    // New pictures while playing keep the zoom.
    Tick(1000);
    Present(QSize(640, 480));
    EXPECT_DOUBLE_EQ(Video()->Zoom().Factor(), 2.0);
    Press(Qt::Key_0);
    EXPECT_EQ(Video()->PictureRect(), QRectF(0, 0, 640, 480));

    // Ctrl+wheel zooms around the cursor; a plain wheel does not zoom.
    const QPointF at(480, 120);
    QWheelEvent plain(at, Video()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Video(), &plain);
    EXPECT_FALSE(Video()->Zoom().Zoomed());
    QWheelEvent wheel(at, Video()->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Video(), &wheel);
    EXPECT_DOUBLE_EQ(Video()->Zoom().Factor(), 2.0);
    const QRectF r = Video()->PictureRect();
    EXPECT_NEAR(r.left() + 0.75 * r.width(), at.x(), 0.5) << "the point under the cursor stays";
    EXPECT_NEAR(r.top() + 0.25 * r.height(), at.y(), 0.5);

    // Dragging pans, as far as the edges; the window itself does not move.
    const QPoint window_at = dlg->pos();
    QTest::mousePress(Video(), Qt::LeftButton, {}, QPoint(300, 300));
    QTest::mouseMove(Video(), QPoint(250, 280));
    QTest::mouseRelease(Video(), Qt::LeftButton, {}, QPoint(250, 280));
    const QRectF panned = Video()->PictureRect();
    EXPECT_NEAR(panned.left(), r.left() - 50, 0.5);
    EXPECT_NEAR(panned.top(), r.top() - 20, 0.5);
    EXPECT_EQ(dlg->pos(), window_at);
    QTest::mousePress(Video(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(Video(), QPoint(630, 470));
    QTest::mouseRelease(Video(), Qt::LeftButton, {}, QPoint(630, 470));
    EXPECT_EQ(Video()->PictureRect().topLeft(), QPointF(0, 0));

    // Paused, in full screen: the same keys, the picture fitted to the screen first.
    Press(Qt::Key_Space);
    ASSERT_EQ(dlg->LastKnownState(), app::kStatePaused);
    dlg->SetFullScreen(true);
    PumpEvents();
    EXPECT_FALSE(Video()->Zoom().Zoomed()) << "full screen starts from the whole picture";
    const QRectF fitted = Video()->PictureRect();
    Press(Qt::Key_Plus);
    Press(Qt::Key_Plus);
    EXPECT_NEAR(Video()->PictureRect().width(), fitted.width() * 2, 0.5);
    Press(Qt::Key_0);
    EXPECT_EQ(Video()->PictureRect(), fitted);
    dlg->SetFullScreen(false);
}

TEST_F(ReviewWindow, EventMarksSitAtTheirTimesOnTheSeekBarAndTheGraph) {
    dlg->SetEvents({{45000, EventKind::kHarsh, 0.9}, {15000, EventKind::kImpact, 2.5}});
    PumpEvents();
    ASSERT_EQ(dlg->Events().size(), 2);
    EXPECT_EQ(dlg->Events()[0].time_ms, 15000) << "kept in time order";
    const auto &marks = dlg->SeekBar()->Marks();
    ASSERT_EQ(marks.size(), 2);
    EXPECT_DOUBLE_EQ(marks[0].fraction, 0.25);
    EXPECT_DOUBLE_EQ(marks[1].fraction, 0.75);

    const QImage bar = dlg->SeekBar()->grab().toImage();
    const double x1 = dlg->SeekBar()->PixelOfFraction(0.25),
                 x2 = dlg->SeekBar()->PixelOfFraction(0.75);
    EXPECT_NEAR(x1, 561 * 0.25, 1.0);
    const QColor impact = app::review::EventColour(EventKind::kImpact);
    const QColor harsh = app::review::EventColour(EventKind::kHarsh);
    auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                   std::abs(a.blue() - b.blue()) <
               40;
    };
    EXPECT_TRUE(near(bar.pixelColor(int(x1), 2), impact));
    EXPECT_TRUE(near(bar.pixelColor(int(x2), 2), harsh));
    EXPECT_FALSE(near(bar.pixelColor(int(x1) + 40, 2), impact));

    // On the graph, at the column the time cursor would have at those times.
    const QImage window = dlg->grab().toImage();
    const int g1 = 57 + 593 / 4, g2 = 57 + 593 * 3 / 4;
    EXPECT_TRUE(near(window.pixelColor(g1, 526), impact))
        << window.pixelColor(g1, 526).name().toStdString();
    EXPECT_TRUE(near(window.pixelColor(g2, 526), harsh));
    EXPECT_FALSE(near(window.pixelColor(g1 + 30, 526), impact));

    // A new recording has events of its own: these marks go, its own come.
    Press(Qt::Key_N, Qt::ControlModifier);
    ASSERT_EQ(dlg->Events().size(), 2);
    EXPECT_EQ(dlg->Events()[0].time_ms, 9100);
    EXPECT_EQ(dlg->Events()[1].time_ms, 11500);
    EXPECT_EQ(dlg->SeekBar()->Marks().size(), 2);
}

TEST_F(ReviewWindow, NextAndPreviousEventJumpBeforeThePeakAndStopAtTheEnds) {
    dlg->SetEvents({{10000, EventKind::kImpact, 1.2},
                    {30000, EventKind::kHarsh, 1.1},
                    {50000, EventKind::kImpact, 3}});
    Press(Qt::Key_P);
    EXPECT_TRUE(Engine().seeks.size() == 1) << "nothing before the first event";
    EXPECT_EQ(Video()->Notice(), "No earlier event");
    std::vector<int32_t> landed;
    for (int i = 0; i < 4; ++i) {
        const size_t before = Engine().seeks.size();
        Press(Qt::Key_N);
        if (Engine().seeks.size() > before) landed.push_back(Engine().seeks.back());
        Tick(Engine().position);
    }
    EXPECT_EQ(landed, (std::vector<int32_t>{8000, 28000, 48000}));
    EXPECT_EQ(Video()->Notice(), "No later event");
    Tick(55000);
    Press(Qt::Key_P);
    EXPECT_EQ(Engine().seeks.back(), 48000) << "after the last: back to its lead-in";
    Tick(48000);
    Press(Qt::Key_P);
    EXPECT_EQ(Engine().seeks.back(), 28000);
}

TEST_F(ReviewWindow, MuteSnapshotAndKeyPanel) {
    Press(Qt::Key_M);
    EXPECT_EQ(Engine().mute, 1);
    EXPECT_EQ(Video()->Notice(), "Mute");
    Press(Qt::Key_M);
    EXPECT_EQ(Engine().mute, 0);

    // The snapshot is the engine's decoded picture at its own size, without the overlay.
    Engine().capture_width = 352;
    Engine().capture_height = 288;
    Present(QSize(640, 480), Qt::red);  // what the window shows (text drawn in) is not it
    Tick(62345 % 60000);
    Press(Qt::Key_S);
    const QDir folder(QString::fromStdString(pictures.path().string()));
    const QStringList files = folder.entryList({"*.png"});
    ASSERT_EQ(files, QStringList{"20261108_083000_00m02.345s.png"});
    const QImage png(folder.filePath(files[0]));
    EXPECT_EQ(png.size(), QSize(352, 288));
    const QColor c = png.pixelColor(100, 100);
    EXPECT_LT(std::abs(c.green() - 0xC8) + std::abs(c.red() - 0x20), 12);
    EXPECT_EQ(Engine().pauses, 0) << "a snapshot does not stop playback";
    EXPECT_TRUE(Video()->Notice().startsWith("Saved "));

    // An engine that never writes the picture: a clear notice and no file.
    Engine().capture_width = 0;
    EXPECT_TRUE(dlg->TakeSnapshot().isEmpty());
    EXPECT_EQ(Video()->Notice(), "Snapshot failed");
    EXPECT_EQ(folder.entryList({"*.png"}).size(), 1);

    Press(Qt::Key_F1);
    ASSERT_NE(dlg->KeyPanel(), nullptr);
    EXPECT_TRUE(dlg->KeyPanel()->isVisible());
    EXPECT_EQ(dlg->KeyPanel()->Rows(), app::review::KeyTable().size());
    dlg->KeyPanel()->close();
    PumpEvents();
    Press(Qt::Key_Question, Qt::ShiftModifier);
    ASSERT_NE(dlg->KeyPanel(), nullptr);
    EXPECT_TRUE(dlg->KeyPanel()->isVisible());

    QMenu menu;
    dlg->FillContextMenu(&menu);
    const QList<QAction *> actions = menu.actions();
    ASSERT_GE(actions.size(), 3);
    EXPECT_EQ(actions.at(actions.size() - 3)->text(), "Keys");
    EXPECT_TRUE(actions.at(actions.size() - 2)->isSeparator());
}

TEST_F(ReviewWindow, LiveSpeedInTheChosenUnitOrDashesWithoutAFix) {
    EXPECT_EQ(dlg->LabelText(app::IDC_LIVE_SPEED), "-- km/h");
    dlg->SetSpeedLookup([](int32_t ms) -> std::optional<double> {
        if (ms < 10000) return std::nullopt;
        return 80.4672;  // 50 mph
    });
    Tick(5000);
    EXPECT_EQ(dlg->LabelText(app::IDC_LIVE_SPEED), "-- km/h");
    Tick(12000);
    EXPECT_EQ(dlg->LabelText(app::IDC_LIVE_SPEED), "80 km/h");
    dlg->SetSpeedInMph(true);
    Tick(12100);
    EXPECT_EQ(dlg->LabelText(app::IDC_LIVE_SPEED), "50 mph");
    Tick(3000);
    EXPECT_EQ(dlg->LabelText(app::IDC_LIVE_SPEED), "-- mph");
}

TEST_F(ReviewWindow, StatusReportsDoNotPullTheThumbBackDuringADrag) {
    app::CSkinSlider *bar = dlg->SeekBar();
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(420, 3));
    PumpEvents();
    const int dragged = bar->GetValue();
    ASSERT_GT(dragged, 60);
    Tick(6000);  // the engine still reports the old position
    Tick(6100);
    EXPECT_EQ(bar->GetValue(), dragged);
    QTest::mouseMove(bar, QPoint(480, 3));
    PumpEvents();
    const int moved = bar->GetValue();
    EXPECT_GT(moved, dragged);
    Tick(6200);
    EXPECT_EQ(bar->GetValue(), moved);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(480, 3));
    PumpEvents();
    Tick(30000);
    EXPECT_EQ(bar->GetValue(), 50) << "after the drag the thumb follows the player again";
}

TEST_F(ReviewWindow, AShortRecordingReachesItsEnd) {
    // Under a second: a hundredth of it rounds to nothing, so the bar never showed progress.
    dlg.reset();
    Engine().Reset();
    Engine().duration_ms = 80;
    dlg =
        std::make_unique<CPlayerDlg>(nullptr, QString::fromStdString(program_dir.path().string()));
    dlg->show();
    dlg->OpenFolder(QString::fromStdString(SamplesDir().string()));
    PumpEvents();
    ASSERT_TRUE(dlg->Loaded());
    Tick(40);
    EXPECT_EQ(Engine().opens, 1);
    Tick(80);
    EXPECT_EQ(Engine().opens, 2) << "the next recording opens";
    EXPECT_EQ(dlg->List()->CurrentIndex(), 1);
}

TEST_F(ReviewWindow, TheRecordingsOwnEventsAndSpeedFollowTheSettings) {
    // No settings file: threshold 1 G and km/h. The first sample has one bump of just over 1 G.
    ASSERT_EQ(Engine().last_path, "20261108_083000.mp4");
    ASSERT_EQ(dlg->Events().size(), 1);
    EXPECT_EQ(dlg->Events()[0].time_ms, 7500);
    EXPECT_EQ(dlg->Events()[0].kind, EventKind::kImpact);
    EXPECT_DOUBLE_EQ(dlg->Events()[0].peak_g, 1.02);
    EXPECT_EQ(dlg->SeekBar()->Marks().size(), 1);

    // The speed at the record under the position, from the same track the tools use.
    drivedata::SensorData sd;
    drivedata::BeginOpen(&sd);
    ASSERT_EQ(drivedata::OpenRecording(&sd, (SamplesDir() / "20261108_083000.mp4").c_str()),
              drivedata::OpenResult::kOk);
    std::vector<drivedata::SensorRow> rows;
    drivedata::CollectSensorRows(&sd, &rows);
    drivedata::Track track;
    track.AddRows(rows);
    double kmh = 0;
    ASSERT_TRUE(track.SpeedKmhAt(3000, &kmh));
    ASSERT_GT(kmh, 5.0);
    Tick(3050);
    EXPECT_EQ(dlg->LabelText(app::IDC_LIVE_SPEED), QString::number(kmh, 'f', 0) + " km/h");
    Tick(200);
    EXPECT_EQ(dlg->LabelText(app::IDC_LIVE_SPEED), "-- km/h")
        << "no fix 500 ms before the first records";

    // A lower threshold and miles per hour, read when a recording opens.
    const fs::path ini = program_dir / "settings.ini";
    {
        QFile f(QString::fromStdString(ini.string()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[units]\nspeed=mph\n[events]\nthreshold_g=0.3\n");
    }
    dlg->SetSettingsFile(QString::fromStdString(ini.string()));
    Press(Qt::Key_N, Qt::ControlModifier);
    Press(Qt::Key_B, Qt::ControlModifier);
    ASSERT_EQ(dlg->Events().size(), 2);
    EXPECT_EQ(dlg->Events()[0].time_ms, 4400);
    EXPECT_EQ(dlg->Events()[0].kind, EventKind::kHarsh);
    Tick(3050);
    EXPECT_EQ(dlg->LabelText(app::IDC_LIVE_SPEED),
              QString::number(kmh / 1.609344, 'f', 0) + " mph");
}

TEST(WaitHelper, RespondsToTimersOnlyWhenAskedTo) {
    EnsureQtApp();
    int fired = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++fired; });
    timer.start(10);
    app::Wait(200);
    EXPECT_EQ(fired, 0) << "the classic pause sleeps";
    app::Wait(200, app::WaitStyle::kResponsive);
    EXPECT_GE(fired, 5);
    fired = 0;
    EXPECT_TRUE(app::Wait(5000, app::WaitStyle::kResponsive, [&] { return fired >= 3; }));
    EXPECT_FALSE(app::Wait(30, app::WaitStyle::kSleep, [] { return false; }));
}

}  // namespace
}  // namespace vt::test
