// The player's command line, a recording given on it, and where an installed copy keeps its files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/playerapp.h"
#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/printing.h"
#include "app/skinlistbox.h"
#include "app/stopsignal.h"
#include "app/userfiles/userfiles.h"
#include "tests/app/run_until.h"
#include "tests/common/testutil.h"

// fontconfig and SDL keep their caches until the process ends; that is not ours to free.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libSDL2\n";
}

namespace vt::test {
namespace {

namespace fs = std::filesystem;
using app::CommandLine;
using app::ParseCommandLine;

void EnsureApp() {
    if (QCoreApplication::instance() != nullptr) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
    static int argc = 1;
    static char name[] = "playerapp_tests";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

CommandLine Parse(std::initializer_list<const char *> args, bool qt_options_left) {
    QStringList list{QStringLiteral("vantrec-player")};
    for (const char *a : args) list << QString::fromUtf8(a);
    return ParseCommandLine(list, qt_options_left);
}

TEST(CommandLine, TakesOneTargetAndItsOwnOptions) {
    struct Case {
        std::initializer_list<const char *> args;
        bool qt_left;
        bool help, version, error;
        const char *target;
    };
    const Case cases[] = {
        {{}, true, false, false, false, ""},
        {{"/media/card"}, true, false, false, false, "/media/card"},
        {{"--help"}, true, true, false, false, ""},
        {{"-h"}, false, true, false, false, ""},
        {{"--version"}, true, false, true, false, ""},
        {{"--bogus"}, true, false, false, true, ""},
        {{"--bogus"}, false, false, false, true, ""},
        {{"a", "b"}, true, false, false, true, "a"},
        // Before Qt has taken its options, they and their values are left alone...
        {{"-platform", "offscreen", "/media/card"}, true, false, false, false, "/media/card"},
        {{"-style", "fusion"}, true, false, false, false, ""},
        // ...afterwards a dash is an error, and after "--" nothing is an option.
        {{"-x"}, false, false, false, true, ""},
        {{"--", "-odd name.mp4"}, false, false, false, false, "-odd name.mp4"},
        {{"--", "--help"}, true, false, false, false, "--help"},
    };
    for (const Case &c : cases) {
        const CommandLine cl = Parse(c.args, c.qt_left);
        std::string what;
        for (const char *a : c.args) what += std::string(a) + " ";
        EXPECT_EQ(cl.help, c.help) << what;
        EXPECT_EQ(cl.version, c.version) << what;
        EXPECT_EQ(!cl.error.isEmpty(), c.error) << what;
        EXPECT_EQ(cl.target.toStdString(), c.target) << what;
    }
}

TEST(StopSignal, BothSignalsArriveOnTheEventLoopAndTheHandlersGoWithTheObject) {
    EnsureApp();
    struct sigaction before = {};
    sigaction(SIGTERM, nullptr, &before);
    {
        app::CStopSignal stop;
        QList<int> received;
        QObject::connect(&stop, &app::CStopSignal::Received, [&received](int s) { received << s; });
        raise(SIGTERM);
        ASSERT_TRUE(RunUntil([&received] { return received.size() == 1; }, 2000));
        raise(SIGINT);  // a second signal of the other kind still has its own handler
        ASSERT_TRUE(RunUntil([&received] { return received.size() == 2; }, 2000));
        EXPECT_EQ(received, (QList<int>{SIGTERM, SIGINT}));
    }
    struct sigaction after = {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, SIG_DFL);
}

// A copy of the samples: the window lists them in name order, so the named file is not the first.
class GivenRecording : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApp();
        for (const char *name :
             {"20261108_083000.mp4", "20261108_083015.mp4", "20261108_083030.mp4"}) {
            if (!fs::exists(SamplesDir() / name)) GTEST_SKIP() << "samples missing";
            fs::copy_file(SamplesDir() / name, m_card / name);
        }
        m_dlg = std::make_unique<app::CPlayerDlg>(
            nullptr, QString::fromStdString(m_program.path().string()));
        m_dlg->SetMessageSink([this](const QString &text) { m_messages << text; });
    }
    void TearDown() override {
        m_dlg.reset();
        app::CPlayerControl::Release();
        fs::current_path(m_cwd);  // the window moved into the card folder, which is going away
    }
    QString Path(const char *name) const {
        return QString::fromStdString((m_card / name).string());
    }

    fs::path m_cwd = fs::current_path();
    TempDir m_card, m_program;
    std::unique_ptr<app::CPlayerDlg> m_dlg;
    QStringList m_messages;
};

TEST_F(GivenRecording, PlaysThatRecordingFromItsListedFolder) {
    app::OpenTarget(m_dlg.get(), Path("20261108_083015.mp4"));
    ASSERT_TRUE(RunUntil([this] { return m_dlg->Loaded(); }, 10000))
        << m_messages.join("; ").toStdString();
    EXPECT_EQ(m_dlg->List()->Count(), 3);
    EXPECT_EQ(m_dlg->CurrentPath(), QStringLiteral("20261108_083015.mp4"));
    EXPECT_EQ(m_dlg->List()->CurrentIndex(), 1);
    EXPECT_EQ(m_dlg->RecordingFolder(), QString::fromStdString(m_card.path().string()));
}

TEST_F(GivenRecording, AFileThatIsNotListedOpensTheFirstAndAFolderListsAsChosen) {
    ASSERT_TRUE(WriteFileBytes(m_card / "notes.txt", {'x'}));
    app::OpenTarget(m_dlg.get(), Path("notes.txt"));
    ASSERT_TRUE(RunUntil([this] { return m_dlg->Loaded(); }, 10000));
    EXPECT_EQ(m_dlg->CurrentPath(), QStringLiteral("20261108_083000.mp4"));

    app::OpenTarget(m_dlg.get(), QString::fromStdString(m_card.path().string()));
    ASSERT_TRUE(
        RunUntil([this] { return m_dlg->Loaded() && m_dlg->LastOpenedIndex() == 0; }, 10000));
    EXPECT_EQ(m_dlg->CurrentPath(), QStringLiteral("20261108_083000.mp4"));
}

// Run by InstalledCopy below in a copy of this executable laid out as an installed program.
TEST(InstalledChild, KeepsItsFilesInTheUsersFolders) {
    if (qEnvironmentVariableIsEmpty("VT_INSTALLED_CHILD")) GTEST_SKIP() << "run by InstalledCopy";
    EnsureApp();
    setenv("CUPS_SERVER", "/nonexistent/cups.sock",
           1);  // no printer: the files are what is checked
    {
        app::CPlayerDlg dlg;
        QStringList messages;
        dlg.SetMessageSink([&messages](const QString &text) { messages << text; });
        dlg.OpenFolder(QString::fromStdString(SamplesDir().string()));
        ASSERT_TRUE(RunUntil([&dlg] { return dlg.LastKnownState() == app::kStatePlaying; }, 10000));
        app::PrintCurrentFrame(&dlg, [&messages](const QString &text) { messages << text; });
        std::printf("capture=%s\nprint=%s\n", qPrintable(dlg.CapturePath()),
                    qPrintable(dlg.PrintPath()));
        const userfiles::Settings settings = userfiles::LoadSettings();
        std::printf("settings=%s %g %s\n", settings.speedMph ? "mph" : "kmh", settings.thresholdG,
                    qPrintable(settings.tileUrl));
        EXPECT_TRUE(QFile::exists(dlg.CapturePath()));
        EXPECT_TRUE(QFile::exists(dlg.PrintPath()));
        dlg.ExitApplication();
    }
    app::CPlayerControl::Release();
}

TEST(InstalledCopy, ReadsSettingsAndWritesTheRememberedFolderToConfigAndThePictureFilesToCache) {
    TempDir root;
    const fs::path prefix = root / "usr";
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share/applications");
    ASSERT_TRUE(WriteFileBytes(prefix / "share/applications/vantrec-player.desktop", {'x'}));
    const fs::path exe = prefix / "bin/playerapp_tests";
    fs::copy_file(fs::read_symlink("/proc/self/exe"), exe);
    const fs::path home = root / "home";
    fs::create_directories(home / ".config/vantrec-player");
    const std::string ini =
        "[units]\nspeed=mph\n[events]\nthreshold_g=2.5\n"
        "[map]\ntile_url=http://127.0.0.1:1/{z}/{x}/{y}.png\n";
    ASSERT_TRUE(
        WriteFileBytes(home / ".config/vantrec-player/settings.ini", {ini.begin(), ini.end()}));
    std::string out;
    // The window changes the working folder to the folder it lists; the child starts from ours.
    const int status = vt::test::Run(
        "cd " + Quote(root.path().string()) +
            " && env -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME=" + Quote(home.string()) +
            " VT_INSTALLED_CHILD=1 VANTREC_TILE_URL= " + Quote(exe.string()) +
            " --gtest_filter=InstalledChild.* 2>&1",
        &out);
    ASSERT_EQ(status, 0) << out;
    const fs::path config = home / ".config/vantrec-player", cache = home / ".cache/vantrec-player";
    EXPECT_NE(out.find("capture=" + (cache / "capture.jpg").string()), std::string::npos) << out;
    EXPECT_NE(out.find("settings=mph 2.5 http://127.0.0.1:1/{z}/{x}/{y}.png"), std::string::npos)
        << out;
    EXPECT_TRUE(fs::is_regular_file(cache / "capture.jpg"));
    EXPECT_TRUE(fs::is_regular_file(cache / "print.bmp"));
    ASSERT_TRUE(fs::is_regular_file(config / "openpath.dat"));
    const std::vector<uint8_t> dat = ReadFileBytes(config / "openpath.dat");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(dat.data())), SamplesDir().string());
    for (const auto &e : fs::directory_iterator(prefix / "bin"))
        EXPECT_EQ(e.path(), exe) << "nothing written beside an installed program";
}

}  // namespace
}  // namespace vt::test
