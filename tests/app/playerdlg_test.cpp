// The main window through its real widgets on the offscreen platform, with the scripted engine
// in place of the media engine and the bundled sample recordings as input.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <memory>

#include "app/aboutdlg.h"
#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/skinbutton.h"
#include "app/skinlistbox.h"
#include "app/skinslider.h"
#include "app/videowindow.h"
#include "tests/app/app_env.h"
#include "tests/app/fake_engine.h"
#include "tests/common/testutil.h"

namespace vt::test {
namespace {

namespace fs = std::filesystem;
using app::CPlayerDlg;

const char kFirst[] = "20261108_083000.mp4";
const char kSecond[] = "20261108_083015.mp4";
const char kThird[] = "20261108_083030.mp4";

class PlayerWindow : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();
        Engine().Reset();
        for (int i = 0; i < 20; ++i)
            Engine().data.push_back({i * 100, "text " + std::to_string(i)});
        MakeWindow();
    }
    void TearDown() override {
        dlg.reset();
        PumpEvents();
    }
    void MakeWindow() {
        dlg = std::make_unique<CPlayerDlg>(nullptr,
                                           QString::fromStdString(program_dir.path().string()));
        dlg->SetMessageSink([this](const QString &t) { messages << t; });
        dlg->SetFolderChooser([this](QWidget *, const QString &title, const QString &) {
            chooser_titles << title;
            return chosen_folder;
        });
        dlg->show();
        PumpEvents();
    }
    static FakeEngine &Engine() { return FakeEngine::Get(); }
    bool HaveSamples() const { return fs::exists(SamplesDir() / kFirst); }
    void ListSamples() {
        dlg->OpenFolder(QString::fromStdString(SamplesDir().string()));
        PumpEvents();
    }
    void Tick(int32_t position, int32_t state = STATE_PLAYING) {
        Engine().Tick(position, state);
        PumpEvents();
    }
    // Keys go where the platform would send them: the widget with the focus.
    void Key(Qt::Key key, bool press, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget *to =
            QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : dlg.get();
        if (press) QTest::keyPress(to, key, mods);
        else QTest::keyRelease(to, key, mods);
        PumpEvents();
    }
    QString Text(int id) const { return dlg->LabelText(id); }
    bool VideoShown() const { return dlg->VideoWindow()->isVisible(); }

    TempDir program_dir;
    std::unique_ptr<CPlayerDlg> dlg;
    QStringList messages;
    QStringList chooser_titles;
    QString chosen_folder;
};

TEST_F(PlayerWindow, StartsIdleWithEveryControlAtItsRectangle) {
    EXPECT_EQ(dlg->size(), QSize(956, 716));
    EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dlg->windowTitle(), "Vantrec Player");
    struct Place {
        int id, l, t, r, b;
    };
    const Place places[] = {
        {app::IDC_VIDEO, 13, 42, 653, 522},         {app::IDC_LIST, 666, 67, 940, 466},
        {app::IDC_REWIND, 12, 654, 140, 705},       {app::IDC_PLAY, 140, 654, 269, 705},
        {app::IDC_STOP, 269, 654, 397, 705},        {app::IDC_FORWARD, 397, 654, 526, 705},
        {app::IDC_OPEN, 526, 654, 654, 705},        {app::IDC_SEEK_BAR, 89, 639, 650, 646},
        {app::IDC_POSITION_TEXT, 18, 636, 44, 647}, {app::IDC_DURATION_TEXT, 46, 636, 77, 647},
        {app::IDC_VOLUME_DOWN, 661, 669, 687, 692}, {app::IDC_VOLUME_BAR, 689, 676, 800, 683},
        {app::IDC_VOLUME_UP, 804, 661, 841, 698},   {app::IDC_PRINT, 866, 661, 909, 696},
        {app::IDC_SETUP, 913, 662, 948, 697},       {app::IDC_MINIMISE, 900, 5, 922, 27},
        {app::IDC_EXIT, 925, 5, 947, 27},           {app::IDC_REPEAT, 924, 477, 937, 490},
        {app::IDC_G_X, 681, 573, 739, 589},         {app::IDC_G_Y, 865, 606, 923, 621},
        {app::IDC_G_Z, 825, 529, 883, 544},
    };
    for (const Place &p : places) {
        QWidget *w = dlg->Control(p.id);
        ASSERT_NE(w, nullptr) << p.id;
        EXPECT_EQ(w->geometry(), QRect(p.l, p.t, p.r - p.l, p.b - p.t)) << p.id;
    }
    EXPECT_FALSE(dlg->List()->isEnabled());
    EXPECT_FALSE(dlg->SeekBar()->IsEnabled());
    EXPECT_EQ(dlg->SeekBar()->Maximum(), 99);
    EXPECT_FALSE(VideoShown());
    EXPECT_EQ(Text(app::IDC_POSITION_TEXT), "00:00");
    EXPECT_EQ(Text(app::IDC_DURATION_TEXT), "/ 00:00");
    EXPECT_EQ(dlg->Volume(), 100);
    EXPECT_EQ(Engine().volume, 0xFFFFFFFFu);
    EXPECT_EQ(Engine().window, dlg->VideoWindow());
    EXPECT_TRUE(dlg->GraphShown()) << "the empty grid";
    EXPECT_EQ(Engine().opens, 0) << "nothing is listed or opened at start";
}

TEST_F(PlayerWindow, ListingSamplesOpensTheFirstRecording) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    ListSamples();
    ASSERT_EQ(dlg->List()->Count(), 3);
    EXPECT_EQ(dlg->List()->Text(0), kFirst);
    EXPECT_EQ(dlg->List()->Text(2), kThird);
    EXPECT_TRUE(dlg->List()->isEnabled());
    EXPECT_EQ(dlg->List()->CurrentIndex(), 0);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    EXPECT_TRUE(dlg->Loaded());
    EXPECT_EQ(Engine().opens, 1);
    EXPECT_EQ(Engine().last_path, kFirst);
    EXPECT_TRUE(VideoShown());
    EXPECT_TRUE(dlg->SeekBar()->IsEnabled());
    EXPECT_EQ(dlg->VolumeBar()->GetValue(), 100);
    EXPECT_EQ(Text(app::IDC_DURATION_TEXT), "/ 01:00");
    EXPECT_EQ(dlg->LastKnownState(), app::kStatePlaying);
    EXPECT_EQ(dlg->PlayButton()->CurrentFrame(), 3) << "pause picture while playing";
    EXPECT_TRUE(Engine().has_text_provider);
    EXPECT_EQ(dlg->Player()->DataTrack().count, 20);
    for (int id : {app::IDC_G_X, app::IDC_G_Y, app::IDC_G_Z})
        EXPECT_TRUE(Text(id).endsWith('G')) << id;

    // The panel carries the three curves.
    const QImage graph = dlg->GraphImage();
    int red = 0, yellow = 0, green = 0;
    for (int y = 0; y < graph.height(); ++y)
        for (int x = 0; x < graph.width(); ++x) {
            const QRgb c = graph.pixel(x, y) & 0xFFFFFF;
            red += c == 0xFF0000;
            yellow += c == 0xFFFF00;
            green += c == 0x00FF00;
        }
    EXPECT_GT(red, 300);
    EXPECT_GT(yellow, 50);
    EXPECT_GT(green, 50);
}

TEST_F(PlayerWindow, KeysDriveThePlayer) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    ListSamples();
    ASSERT_TRUE(dlg->Loaded());

    Key(Qt::Key_Space, true);
    EXPECT_EQ(Engine().pauses, 1);
    EXPECT_EQ(dlg->LastKnownState(), app::kStatePaused);
    EXPECT_EQ(dlg->PlayButton()->CurrentFrame(), 0);
    Key(Qt::Key_Space, true);
    EXPECT_EQ(Engine().plays, 1);
    EXPECT_EQ(dlg->LastKnownState(), app::kStatePlaying);
    EXPECT_EQ(dlg->PlayButton()->CurrentFrame(), 3);

    Tick(10000);
    Key(Qt::Key_Right, false);
    EXPECT_EQ(Engine().seeks.back(), 12000);
    Tick(1500);
    Key(Qt::Key_Left, false);
    EXPECT_EQ(Engine().seeks.back(), 0) << "rewind near the start seeks to 0";
    Tick(59000);
    Key(Qt::Key_Right, false);
    EXPECT_EQ(Engine().seeks.back(), 60000) << "forward near the end seeks to the end";

    Tick(20000);
    Key(Qt::Key_Backspace, false);
    EXPECT_EQ(Engine().seeks.back(), 0);
    EXPECT_EQ(dlg->LastKnownState(), app::kStatePaused);
    Tick(0, STATE_PAUSED);
    EXPECT_EQ(dlg->SeekBar()->GetValue(), 0);
    EXPECT_EQ(Text(app::IDC_POSITION_TEXT), "00:00");

    Key(Qt::Key_Down, false);
    EXPECT_EQ(dlg->Volume(), 90);
    Key(Qt::Key_Up, false);
    EXPECT_EQ(dlg->Volume(), 100);

    chosen_folder.clear();
    Key(Qt::Key_F2, false);
    Key(Qt::Key_O, true, Qt::ControlModifier);
    EXPECT_EQ(chooser_titles, (QStringList{"Select Fold", "Select Fold"}));
    EXPECT_TRUE(dlg->Loaded()) << "a cancelled choice changes nothing";
}

TEST_F(PlayerWindow, EscapePausesThenMinimises) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    ListSamples();
    ASSERT_EQ(dlg->Player()->GetState(), app::kStatePlaying);
    Key(Qt::Key_Escape, true);
    EXPECT_EQ(Engine().pauses, 1);
    EXPECT_TRUE(dlg->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(dlg->isVisible()) << "Esc does not close the window";
    dlg->showNormal();
    PumpEvents();
    Key(Qt::Key_Escape, true);
    EXPECT_EQ(Engine().pauses, 1) << "already paused: only minimised";
    EXPECT_TRUE(dlg->windowState() & Qt::WindowMinimized);
}

TEST_F(PlayerWindow, SeekBarFollowsThePositionAndTheEndOpensTheNext) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    ListSamples();
    Tick(30000);
    EXPECT_EQ(dlg->SeekBar()->GetValue(), 50);
    EXPECT_EQ(Text(app::IDC_POSITION_TEXT), "00:30");
    EXPECT_EQ(dlg->Player()->GetTimeText(), "00:30/01:00");
    EXPECT_GE(dlg->GraphCursorX(), 57 + 593 / 2 - 1);
    EXPECT_LE(dlg->GraphCursorX(), 57 + 593 / 2 + 1);
    Tick(59399);
    EXPECT_EQ(dlg->SeekBar()->GetValue(), 98);
    Tick(59400);
    EXPECT_EQ(dlg->SeekBar()->GetValue(), 99);
    Tick(59950);
    EXPECT_EQ(Engine().opens, 1) << "99 % of the bar is not the end of the recording";
    Tick(60000);
    EXPECT_EQ(dlg->List()->CurrentIndex(), 1);
    EXPECT_EQ(Engine().opens, 2);
    EXPECT_EQ(Engine().last_path, kSecond);
    EXPECT_TRUE(dlg->Loaded());
}

TEST_F(PlayerWindow, RepeatPlaysTheSameRecordingAgain) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    ListSamples();
    QTest::mouseClick(dlg->Control(app::IDC_REPEAT), Qt::LeftButton);
    Tick(59500);
    EXPECT_EQ(Engine().seeks.back(), 0) << "opening seeks to the start";
    const size_t seeks = Engine().seeks.size();
    Tick(59700, STATE_PAUSED);  // the engine holds the last picture: the end
    EXPECT_EQ(Engine().opens, 1);
    ASSERT_EQ(Engine().seeks.size(), seeks + 1);
    EXPECT_EQ(Engine().seeks.back(), 0);
    EXPECT_EQ(Engine().state, STATE_PLAYING);
    EXPECT_EQ(dlg->List()->CurrentIndex(), 0);
}

TEST_F(PlayerWindow, NextAndPreviousAtTheEndsOfTheList) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    ListSamples();
    Key(Qt::Key_B, true, Qt::ControlModifier);
    EXPECT_EQ(dlg->List()->CurrentIndex(), 2) << "previous from the first wraps to the last";
    EXPECT_EQ(Engine().last_path, kThird);
    ASSERT_TRUE(dlg->Loaded());

    // The end of the last recording without repeat ends playback.
    Tick(60000);
    EXPECT_FALSE(dlg->Loaded());
    EXPECT_FALSE(VideoShown());
    EXPECT_EQ(dlg->List()->CurrentIndex(), 2) << "the list keeps its selection";
    EXPECT_EQ(dlg->LastOpenedIndex(), -1);
    EXPECT_EQ(dlg->LastKnownState(), app::kStateStopped);
    const int opens = Engine().opens;
    Key(Qt::Key_N, true, Qt::ControlModifier);
    EXPECT_EQ(Engine().opens, opens) << "next at the last entry does not wrap";

    // Play opens the selected entry again.
    Key(Qt::Key_Space, true);
    EXPECT_EQ(Engine().opens, opens + 1);
    EXPECT_TRUE(dlg->Loaded());
}

TEST_F(PlayerWindow, SelectingTheOpenEntryAgainDoesNothing) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    ListSamples();
    // Entries are found by their rectangles: a trip's header line may stand above them.
    const QPoint first = dlg->List()->ItemRect(0).center();
    QTest::mouseDClick(dlg->List()->viewport(), Qt::LeftButton, {}, first);
    PumpEvents();
    EXPECT_EQ(Engine().opens, 1);
    const QPoint second = dlg->List()->ItemRect(1).center();
    QTest::mouseClick(dlg->List()->viewport(), Qt::LeftButton, {}, second);
    PumpEvents();
    EXPECT_EQ(Engine().opens, 2);
    EXPECT_EQ(Engine().last_path, kSecond);
}

TEST_F(PlayerWindow, RefusesOtherModelsAndHdaNames) {
    const fs::path other = SamplesDir() / "other-model" / "20261109_071500.mp4";
    if (!HaveSamples() || !fs::exists(other)) GTEST_SKIP() << "samples/ missing";
    TempDir folder;
    fs::copy_file(other, folder / "a.mp4");
    fs::copy_file(SamplesDir() / kFirst, folder / "HDA0001.mp4");
    dlg->OpenFolder(QString::fromStdString(folder.path().string()));
    PumpEvents();
    EXPECT_EQ(messages, QStringList{"Invalid File Format."});
    EXPECT_FALSE(dlg->Loaded());
    EXPECT_FALSE(VideoShown());
    EXPECT_EQ(Engine().opens, 0);
    Key(Qt::Key_N, true, Qt::ControlModifier);
    EXPECT_EQ(messages, (QStringList{"Invalid File Format.", "Invalid File Format."}));
    EXPECT_EQ(Engine().opens, 0) << "an HDA entry is never opened, whatever it holds";
    EXPECT_EQ(Text(app::IDC_POSITION_TEXT), "00:00");
    EXPECT_EQ(Text(app::IDC_DURATION_TEXT), "/ 00:00");
    for (int id : {app::IDC_G_X, app::IDC_G_Y, app::IDC_G_Z}) EXPECT_EQ(Text(id), "0G");
    EXPECT_TRUE(dlg->List()->isEnabled());
}

TEST_F(PlayerWindow, UpperCaseExtensionOpensLikeLowerCase) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    // Cards copied through other systems carry "X.MP4"; the sensor data is read the same way.
    TempDir folder;
    fs::copy_file(SamplesDir() / kFirst, folder / "20261108_083000.MP4");
    dlg->OpenFolder(QString::fromStdString(folder.path().string()));
    PumpEvents();
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(dlg->Loaded());
    EXPECT_EQ(Engine().opens, 1);
    EXPECT_EQ(Engine().last_path, "20261108_083000.MP4");
    EXPECT_NE(Text(app::IDC_G_X), "0G");
}

TEST_F(PlayerWindow, FolderWithoutRecordingsOrUnreadable) {
    TempDir empty;
    WriteFileBytes(empty / "notes.txt", {1});
    dlg->OpenFolder(QString::fromStdString(empty.path().string()));
    PumpEvents();
    EXPECT_EQ(dlg->List()->Count(), 0);
    EXPECT_FALSE(dlg->List()->isEnabled());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(Engine().opens, 0);
    // Commands with nothing listed are quiet.
    Key(Qt::Key_Space, true);
    Key(Qt::Key_Up, false);
    Key(Qt::Key_N, true, Qt::ControlModifier);
    EXPECT_EQ(dlg->Volume(), 100);
    EXPECT_TRUE(messages.isEmpty());

    dlg->OpenFolder(QString::fromStdString((empty / "gone").string()));
    PumpEvents();
    EXPECT_EQ(messages, QStringList{"File Not Found."});
    EXPECT_FALSE(dlg->List()->isEnabled());
    EXPECT_EQ(dlg->ListingResult(), -1);
}

TEST_F(PlayerWindow, RefusedOpenAndLongDurations) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    Engine().refuse_open = true;
    ListSamples();
    EXPECT_EQ(messages, QStringList{"Fail to open..."});
    EXPECT_FALSE(dlg->Loaded());

    Engine().refuse_open = false;
    Engine().duration_ms = 75 * 60000;
    messages.clear();
    Key(Qt::Key_N, true, Qt::ControlModifier);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(Text(app::IDC_DURATION_TEXT), "/ 75:00");
    Tick(61 * 60000 + 5000);
    EXPECT_EQ(Text(app::IDC_POSITION_TEXT), "61:05");
    EXPECT_EQ(dlg->Player()->GetTimeText(), "01:01:05/01:15:00");
}

TEST_F(PlayerWindow, NoDurationGivesUpThePlayerAndQuits) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    Engine().duration_ms = 0;
    // Listed from inside an event loop, as the running application does: the loop ends when
    // the window gives up, long before its own time-out.
    QEventLoop loop;
    QTimer::singleShot(0, dlg.get(), [this] { ListSamples(); });  // waits 3 + 5 s for a duration
    QTimer::singleShot(20000, &loop, [&loop] { loop.exit(7); });
    EXPECT_NE(loop.exec(), 7);
    EXPECT_EQ(dlg->Player(), nullptr);
    EXPECT_EQ(Engine().volume, 0xFFFFFFFFu) << "volume back to 100 before giving up";
    EXPECT_NE(app::CPlayerControl::Existing(), nullptr);
    // Commands are quiet now, and closing the window still releases the engine.
    Key(Qt::Key_Space, true);
    Key(Qt::Key_Right, false);
    dlg.reset();
    EXPECT_EQ(app::CPlayerControl::Existing(), nullptr);
}

TEST_F(PlayerWindow, VolumeStaysWithinItsBounds) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    ListSamples();
    QTest::mouseClick(dlg->Control(app::IDC_VOLUME_UP), Qt::LeftButton);
    EXPECT_EQ(dlg->Volume(), 100);
    for (int i = 0; i < 11; ++i)
        QTest::mouseClick(dlg->Control(app::IDC_VOLUME_DOWN), Qt::LeftButton);
    EXPECT_EQ(dlg->Volume(), 0);
    EXPECT_EQ(dlg->VolumeBar()->GetValue(), 0);
    EXPECT_EQ(Engine().volume, 0u);
    QTest::mouseClick(dlg->Control(app::IDC_VOLUME_UP), Qt::LeftButton);
    EXPECT_EQ(Engine().volume, 0x19991999u);
}

TEST_F(PlayerWindow, DraggingTheSeekBarSeeks) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    ListSamples();
    QWidget *bar = dlg->SeekBar();
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(281, 3));
    PumpEvents();
    const int v = 281 * 99 / 561;
    ASSERT_FALSE(Engine().seeks.empty());
    EXPECT_EQ(Engine().seeks.back(), v * 60000 / 100);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(281, 3));
    PumpEvents();
}

TEST_F(PlayerWindow, DragSnapsToTheScreenEdges) {
    const QPoint grab_at(300, 20);  // the title bar, no control there
    auto drag_to = [&](QPoint top_left) {
        const QPoint start = dlg->frameGeometry().topLeft() + grab_at;
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(grab_at), QPointF(grab_at),
                          QPointF(start), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dlg.get(), &press);
        const QPoint end = top_left + grab_at;
        QMouseEvent move(QEvent::MouseMove, QPointF(grab_at), QPointF(grab_at), QPointF(end),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dlg.get(), &move);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(grab_at), QPointF(grab_at),
                            QPointF(end), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(dlg.get(), &release);
        PumpEvents();
        return dlg->pos();
    };
    EXPECT_EQ(drag_to(QPoint(5, 120)).x(), 0);
    EXPECT_EQ(drag_to(QPoint(20, 120)).x(), 20);
    EXPECT_EQ(drag_to(QPoint(200, -7)).y(), 0);

    // The rule itself, for a screen larger than the window.
    const QSize screen(1920, 1080), window(956, 716);
    struct Case {
        QPoint in, out;
    };
    for (Case c :
         {Case{{5, 100}, {0, 100}}, Case{{20, 100}, {20, 100}}, Case{{-9, 10}, {0, 10}},
          Case{{-10, 10}, {-10, 10}}, Case{{1920 - 956 + 9, 364 - 9}, {964, 364}},
          Case{{955, 373}, {964, 364}}, Case{{954, 374}, {954, 374}}, Case{{300, 374}, {300, 374}}})
        EXPECT_EQ(app::SnapToScreenEdges(c.in, QRect(QPoint(0, 0), screen), window), c.out)
            << c.in.x() << "," << c.in.y();
    // A second monitor to the right of the first: its own edges, in desktop coordinates.
    const QRect second(1920, 0, 1280, 1024);
    for (Case c :
         {Case{{1925, 100}, {1920, 100}}, Case{{1912, 100}, {1920, 100}}, Case{{5, 100}, {5, 100}},
          Case{{3200 - 956 - 4, 1024 - 716 + 3}, {3200 - 956, 1024 - 716}},
          Case{{2500, 1}, {2500, 0}}})
        EXPECT_EQ(app::SnapToScreenEdges(c.in, second, window), c.out)
            << c.in.x() << "," << c.in.y();
    const QRect below(0, 1080, 1920, 1080);  // stacked under the first
    EXPECT_EQ(app::SnapToScreenEdges(QPoint(300, 1085), below, window), QPoint(300, 1080));
    EXPECT_EQ(app::SnapToScreenEdges(QPoint(300, 2160 - 716 + 8), below, window),
              QPoint(300, 2160 - 716));
}

TEST_F(PlayerWindow, AboutIsTheLastMenuItemAfterASeparator) {
    QMenu menu;
    dlg->FillContextMenu(&menu);
    const QList<QAction *> actions = menu.actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_EQ(actions.back()->text(), QString::fromUtf8(app::kAboutMenuText));
    EXPECT_TRUE(actions.at(actions.size() - 2)->isSeparator());
    app::CAboutDlg about;
    EXPECT_EQ(about.findChild<QLabel *>("aboutLine")->text(), QString::fromUtf8(app::kAboutLine));
}

TEST_F(PlayerWindow, RemembersTheFolderBesideTheProgram) {
    TempDir folder;
    dlg->OpenFolder(QString::fromStdString(folder.path().string()));
    PumpEvents();
    dlg.reset();
    const fs::path dat = program_dir / "openpath.dat";
    ASSERT_TRUE(fs::exists(dat));
    EXPECT_EQ(fs::file_size(dat), 260u);
    // Started again from another working directory, the window finds it.
    fs::current_path("/");
    MakeWindow();
    EXPECT_EQ(dlg->RecordingFolder().toStdString(), folder.path().string());
    EXPECT_EQ(dlg->List()->Count(), 0) << "nothing is listed at start";
}

TEST_F(PlayerWindow, DroppingAFolderListsIt) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(SamplesDir().string()))});
    QDropEvent drop(QPointF(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    // No drag is in progress, so the event goes to the window directly.
    static_cast<QObject *>(dlg.get())->event(&drop);
    PumpEvents();
    EXPECT_EQ(dlg->List()->Count(), 3);
    EXPECT_TRUE(dlg->Loaded());
}

TEST_F(PlayerWindow, CardRemovedWhilePlaying) {
    if (!HaveSamples()) GTEST_SKIP() << "samples/ missing";
    auto card = std::make_unique<TempDir>();
    for (const char *name : {kFirst, kSecond}) fs::copy_file(SamplesDir() / name, *card / name);
    dlg->OpenFolder(QString::fromStdString(card->path().string()));
    PumpEvents();
    ASSERT_TRUE(dlg->Loaded());
    fs::current_path("/");
    card.reset();
    Tick(30000);
    Tick(60000);  // the end: the next recording is gone
    EXPECT_EQ(messages, QStringList{"Invalid File Format."});
    EXPECT_FALSE(dlg->Loaded());
    EXPECT_FALSE(VideoShown());
    Key(Qt::Key_Space, true);
    Key(Qt::Key_B, true, Qt::ControlModifier);
    EXPECT_FALSE(dlg->Loaded());
}

}  // namespace
}  // namespace vt::test
