// The player control layer and the video window over the real media engine, on the bundled
// samples: the opened notification, the data track, status messages and pictures on screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "app/messages.h"
#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/skinlistbox.h"
#include "app/videowindow.h"
#include "tests/app/run_until.h"
#include "tests/common/testutil.h"

// fontconfig's caches and the SDL audio subsystem live until the process ends.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libSDL2-2.0.so\n";
}

namespace vt::test {
namespace {

namespace fs = std::filesystem;

class MessageSink final : public QObject {
public:
    std::vector<std::pair<int, intptr_t>> got;  // message, wParam
    bool Has(int message) const {
        for (const auto &m : got)
            if (m.first == message) return true;
        return false;
    }

protected:
    bool event(QEvent *e) override {
        const int t = static_cast<int>(e->type());
        if (t == app::WM_PLAYER_OPENED || t == app::WM_PLAYER_STATUS ||
            t == app::WM_PLAYER_HALTED) {
            got.push_back(
                {t, static_cast<intptr_t>(static_cast<app::CWindowMessage *>(e)->wParam())});
            return true;
        }
        return QObject::event(e);
    }
};

class EnginePlayback : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_AUDIODRIVER", "disk", 0);
        setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "app_engine_tests";
        static char *argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) new QApplication(argc, argv);
    }
    void TearDown() override { app::CPlayerControl::Release(); }
};

TEST_F(EnginePlayback, PlaysASampleWithItsTextsAndPictures) {
    const fs::path sample = SamplesDir() / "20261108_083000.mp4";
    if (!fs::exists(sample)) GTEST_SKIP() << "samples/ missing";
    MessageSink sink;
    app::CVideoWindow video;
    video.resize(640, 480);
    video.show();
    app::CPlayerControl *player = app::CPlayerControl::Instance();
    ASSERT_TRUE(player->HasEngine());
    ASSERT_EQ(player->SetWindows(&sink, &video), 1);
    player->SetVolume(0);

    ASSERT_EQ(player->Open(sample.c_str(), 0, 0, 0, 0), 1);
    ASSERT_TRUE(RunUntil([&] { return sink.Has(app::WM_PLAYER_OPENED); }, 10000));
    EXPECT_GT(player->GetDuration(), 10000);
    for (const auto &[message, wparam] : sink.got) {
        if (message == app::WM_PLAYER_OPENED) {
            EXPECT_EQ(wparam, player->GetDuration());
        }
    }
    EXPECT_GT(player->DataTrack().count, 100) << "one text per 100 ms";

    // Status reports move the position on; pictures arrive in the window.
    ASSERT_TRUE(RunUntil([&] { return player->GetPosition() > 1500 && video.PicturesShown() > 10; },
                         15000));
    EXPECT_EQ(player->GetState(), app::kStatePlaying);
    EXPECT_TRUE(sink.Has(app::WM_PLAYER_STATUS));
    EXPECT_EQ(video.Picture().size(), QSize(640, 480));
    char text[4096];
    EXPECT_GT(player->LookupText(player->GetPosition(), text, sizeof text), 0);

    // Pause holds the position; a seek while paused lands near its target.
    player->Pause();
    QThread::msleep(300);
    RunUntil([] { return false; }, 300);
    EXPECT_EQ(player->GetState(), app::kStatePaused);
    ASSERT_EQ(player->Seek(8000), 1);
    // The engine takes the next seek once this one has settled back into the pause.
    ASSERT_TRUE(RunUntil(
        [&] {
            return std::abs(player->GetPosition() - 8000) < 1500 &&
                   player->GetState() == app::kStatePaused;
        },
        10000))
        << player->GetPosition();
    EXPECT_EQ(player->Seek(-500), 1);
    ASSERT_TRUE(RunUntil([&] { return player->GetPosition() < 1000; }, 10000))
        << player->GetPosition();

    player->Stop();
    EXPECT_EQ(player->GetState(), app::kStateStopped);
    EXPECT_EQ(player->GetTimeText(), "00:00/00:00");
    EXPECT_EQ(player->Seek(1000), 0) << "no seeking while stopped";
}

// Strongly red pixels: the overlay text's colour, rare in the samples' scenery.
int RedPixels(const QImage &img, QRect r) {
    int n = 0;
    r &= img.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 70 && c.blue() < 70) ++n;
        }
    return n;
}

TEST_F(EnginePlayback, TheWindowStepsAPictureAndSnapshotsItWithoutTheOverlay) {
    if (!fs::exists(SamplesDir() / "20261108_083000.mp4")) GTEST_SKIP() << "samples/ missing";
    TempDir program_dir, pictures;
    QStringList messages;
    auto dlg = std::make_unique<app::CPlayerDlg>(
        nullptr, QString::fromStdString(program_dir.path().string()));
    dlg->SetMessageSink([&](const QString &t) { messages << t; });
    dlg->SetSnapshotFolder(QString::fromStdString(pictures.path().string()));
    dlg->show();
    dlg->OpenFolder(QString::fromStdString(SamplesDir().string()));
    app::CVideoWindow *video = dlg->VideoWindow();
    ASSERT_TRUE(RunUntil(
        [&] { return dlg->Player()->GetPosition() > 1500 && video->PicturesShown() > 10; }, 15000));

    dlg->StepPicture(true);
    EXPECT_EQ(dlg->LastKnownState(), app::kStatePaused) << "stepping pauses first";
    RunUntil([] { return false; }, 500);
    const QImage before = video->Picture();
    const int shown = video->PicturesShown();
    dlg->StepPicture(true);
    ASSERT_TRUE(RunUntil([&] { return video->PicturesShown() > shown; }, 5000))
        << "one more picture";
    EXPECT_NE(video->Picture(), before) << "the next picture of a moving scene";

    const QImage on_screen = video->Picture();
    ASSERT_GT(RedPixels(on_screen, QRect(0, 0, 200, 24)), 40)
        << "the date and time drawn over the picture";
    const QString path = dlg->TakeSnapshot();
    ASSERT_FALSE(path.isEmpty());
    const QImage snap(path);
    EXPECT_EQ(snap.size(), on_screen.size());
    EXPECT_LT(RedPixels(snap, QRect(0, 0, 200, 24)), 5) << "no overlay text in the snapshot";
    // Away from the text it is the same picture, to the last pixel: nothing lost to compression.
    int differing = 0;
    for (int y = 40; y < snap.height(); ++y)
        for (int x = 0; x < snap.width(); ++x)
            if (snap.pixel(x, y) != on_screen.pixel(x, y)) ++differing;
    EXPECT_EQ(differing, 0);
    EXPECT_TRUE(messages.isEmpty());
    dlg.reset();
}

TEST_F(EnginePlayback, TheWindowReachesTheRealEndAtFourTimesSpeedAndOpensTheNext) {
    if (!fs::exists(SamplesDir() / "20261108_083000.mp4")) GTEST_SKIP() << "samples/ missing";
    TempDir program_dir;
    auto dlg = std::make_unique<app::CPlayerDlg>(
        nullptr, QString::fromStdString(program_dir.path().string()));
    dlg->SetMessageSink([](const QString &) {});
    dlg->show();
    dlg->OpenFolder(QString::fromStdString(SamplesDir().string()));
    ASSERT_TRUE(RunUntil([&] { return dlg->Player()->GetPosition() > 500; }, 15000));
    dlg->ChangeSpeed(400);
    ASSERT_EQ(dlg->Player()->Seek(dlg->Duration() - 4000), 1);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(RunUntil([&] { return dlg->List()->CurrentIndex() == 1; }, 15000))
        << "position " << dlg->Player()->GetPosition() << " of " << dlg->Duration();
    // Four seconds of recording at four times speed: about one second, not four.
    EXPECT_LT(clock.elapsed(), 3500);
    ASSERT_TRUE(RunUntil([&] { return dlg->Player()->GetPosition() > 300; }, 15000));
    EXPECT_EQ(dlg->Player()->Speed(), 400) << "the next recording plays at the chosen speed";
    dlg.reset();
}

TEST_F(EnginePlayback, RefusesAnEmptyPathWithoutTouchingTheEngine) {
    MessageSink sink;
    app::CVideoWindow video;
    app::CPlayerControl *player = app::CPlayerControl::Instance();
    ASSERT_EQ(player->SetWindows(&sink, &video), 1);
    EXPECT_EQ(player->Open("", 0, 0, 0, 0), 0);
    EXPECT_EQ(player->GetState(), app::kStateStopped);
    EXPECT_EQ(player->SetWindows(nullptr, &video), 0);
}

}  // namespace
}  // namespace vt::test
