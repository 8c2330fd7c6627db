// The window's evidence actions on Qt's offscreen platform: the export dialog's defaults around the
// current picture and across the trip, a finished export, a cancelled one, the incident report
// action, and the card left untouched by all of them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "app/export/evidence.h"
#include "tests/app/run_until.h"
#include "tests/common/testutil.h"

extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace vt::test {
namespace {

namespace fs = std::filesystem;
using namespace vt::app::evidence;

const char *kDrive[] = {"20261108_083000.mp4", "20261108_083015.mp4", "20261108_083030.mp4"};

std::vector<std::string> Listing(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class EvidenceUi : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QCoreApplication::instance() != nullptr) return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "evidence_ui_tests";
        static char *argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
    void SetUp() override {
        for (const char *n : kDrive)
            if (!fs::exists(SamplesDir() / n)) GTEST_SKIP() << "sample recordings missing";
        // A card with the drive and an unrelated recording an hour later; a home with Videos.
        fs::create_directories(m_dir / "card");
        for (const char *n : kDrive) fs::copy_file(SamplesDir() / n, m_dir / "card" / n);
        fs::copy_file(SamplesDir() / kDrive[0], m_dir / "card" / "20261108_093000.mp4");
        fs::create_directories(m_dir / "home" / "Videos");
        m_old_home = qgetenv("HOME");
        qputenv("HOME", QByteArray::fromStdString((m_dir / "home").string()));
        qunsetenv("XDG_VIDEOS_DIR");
        m_card_before = Listing(m_dir / "card");
    }
    void TearDown() override {
        if (!m_old_home.isNull()) qputenv("HOME", m_old_home);
        if (!m_card_before.empty()) {
            EXPECT_EQ(Listing(m_dir / "card"), m_card_before) << "the card was written to";
        }
    }
    QString Card(const char *name) const {
        return QString::fromStdString((m_dir / "card" / name).string());
    }

    TempDir m_dir;
    QByteArray m_old_home;
    std::vector<std::string> m_card_before;
};

TEST_F(EvidenceUi, TheDialogOffersTwentySecondsBeforeToTenAfterWithinTheTrip) {
    struct Case {
        int file;
        int64_t position_ms;
        double from, to;  // seconds from the start of that file
    } cases[] = {
        {1, 7000, -13.0, 17.0},  // reaches back into the first recording
        {0, 3000, 0.0, 13.0},    // cut at the start of the trip
        {2, 12000, -8.0, 15.1},  // cut at the end of the trip (the last recording's records end it)
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(kDrive[c.file]);
        CExportDlg dlg(Moment{Card(kDrive[c.file]), c.position_ms});
        EXPECT_EQ(dlg.Trip().paths.size(), 3) << "the recording an hour later is another trip";
        EXPECT_EQ(dlg.Trip().current, c.file);
        EXPECT_NEAR(dlg.FromBox()->value(), c.from, 0.05);
        EXPECT_NEAR(dlg.ToBox()->value(), c.to, 0.05);
        EXPECT_EQ(dlg.FolderEdit()->text().toStdString(), (m_dir / "home" / "Videos").string());
        EXPECT_TRUE(dlg.NameEdit()->text().endsWith(QStringLiteral(".mp4")));
    }
    // Without a Videos folder, Documents.
    fs::remove(m_dir / "home" / "Videos");
    fs::create_directories(m_dir / "home" / "Documents");
    CExportDlg dlg(Moment{Card(kDrive[0]), 0});
    EXPECT_EQ(dlg.FolderEdit()->text().toStdString(), (m_dir / "home" / "Documents").string());
}

TEST_F(EvidenceUi, AnExportAcrossTwoRecordingsFinishesWithItsFilesInTheChosenFolder) {
    CExportDlg dlg(Moment{Card(kDrive[1]), 2000});
    fs::create_directories(m_dir / "chosen");
    dlg.SetFolderChooser([&](QWidget *, const QString &) {
        return QString::fromStdString((m_dir / "chosen").string());
    });
    // The Choose... button is the only push button besides Export and Cancel.
    for (QPushButton *b : dlg.findChildren<QPushButton *>())
        if (b->text() == QStringLiteral("Choose...")) b->click();
    EXPECT_EQ(dlg.FolderEdit()->text().toStdString(), (m_dir / "chosen").string());
    bool finished = false, ok = false;
    QObject::connect(&dlg, &CExportDlg::Finished,
                     [&](bool success, const QString &) { finished = true, ok = success; });
    dlg.StartExport();
    ASSERT_TRUE(RunUntil([&] { return finished; }, 30000));
    EXPECT_TRUE(ok) << dlg.Status().toStdString();
    EXPECT_EQ(dlg.Progress()->value(), dlg.Progress()->maximum());
    EXPECT_EQ(
        Listing(m_dir / "chosen"),
        (std::vector<std::string>{"20261108_083015_clip.gpx", "20261108_083015_clip.mp4",
                                  "20261108_083015_clip.sha256", "20261108_083015_clip.srt"}));
    std::string check;
    EXPECT_EQ(vt::test::Run("cd " + Quote((m_dir / "chosen").string()) +
                                " && sha256sum -c 20261108_083015_clip.sha256 2>&1",
                            &check),
              0)
        << check;
    // Both recordings went in: 18 s before the picture at 2 s lies in the first.
    EXPECT_NE(check.find(kDrive[0]), std::string::npos) << check;
    EXPECT_NE(check.find(kDrive[1]), std::string::npos) << check;
}

TEST_F(EvidenceUi, CancellingLeavesNothingBehind) {
    CExportDlg dlg(Moment{Card(kDrive[1]), 7000});
    dlg.FromBox()->setValue(-15);
    dlg.ToBox()->setValue(30);
    dlg.SidecarsBox()->setChecked(false);
    bool finished = false, ok = true;
    QString message;
    QObject::connect(&dlg, &CExportDlg::Finished, [&](bool success, const QString &m) {
        finished = true, ok = success, message = m;
    });
    dlg.StartExport();
    dlg.CancelExport();  // before the first chunk has gone out
    ASSERT_TRUE(RunUntil([&] { return finished; }, 30000));
    EXPECT_FALSE(ok);
    EXPECT_EQ(message, QStringLiteral("Cancelled."));
    EXPECT_TRUE(Listing(m_dir / "home" / "Videos").empty());
}

TEST_F(EvidenceUi, TheIncidentReportGoesWhereTheUserSaid) {
    if (!HaveProgram("pdftotext")) GTEST_SKIP() << "poppler-utils missing";
    QString suggested, told;
    const fs::path pdf = m_dir / "home" / "Videos" / "mine.pdf";
    ASSERT_TRUE(MakeIncidentReport(
        nullptr, Moment{Card(kDrive[0]), 7600},
        [&](QWidget *, const QString &s) {
            suggested = s;
            return QString::fromStdString(pdf.string());
        },
        [&](const QString &t) { told = t; }));
    EXPECT_EQ(suggested.toStdString(),
              (m_dir / "home" / "Videos" / "20261108_083000_report_7.6s.pdf").string());
    EXPECT_TRUE(told.contains(QStringLiteral("mine.pdf"))) << told.toStdString();
    EXPECT_EQ(Listing(m_dir / "home" / "Videos"),
              (std::vector<std::string>{"mine.pdf", "mine.sha256"}));
    std::string text;
    vt::test::Run("pdftotext " + Quote(pdf.string()) + " -", &text);
    EXPECT_NE(text.find("00:07.600"), std::string::npos);

    // A cancelled file dialog writes nothing; a failure is told.
    EXPECT_FALSE(MakeIncidentReport(
        nullptr, Moment{Card(kDrive[0]), 1000},
        [](QWidget *, const QString &) { return QString(); }, [](const QString &) {}));
    told.clear();
    EXPECT_FALSE(MakeIncidentReport(
        nullptr, Moment{Card(kDrive[0]), 99000},
        [&](QWidget *, const QString &) { return QString::fromStdString(pdf.string()); },
        [&](const QString &t) { told = t; }));
    EXPECT_TRUE(told.contains(QStringLiteral("outside the recording"))) << told.toStdString();
    EXPECT_EQ(Listing(m_dir / "home" / "Videos").size(), 2u);
}

TEST_F(EvidenceUi, TheMenuEntriesNeedARecording) {
    QMenu menu;
    Moment shown;
    AddMenuEntries(
        &menu, nullptr, [&] { return shown; }, [](const QString &) {});
    ASSERT_EQ(menu.actions().size(), 2);
    EXPECT_EQ(menu.actions()[0]->text(), QStringLiteral("Export clip..."));
    EXPECT_EQ(menu.actions()[1]->text(), QStringLiteral("Incident report..."));
    EXPECT_FALSE(menu.actions()[0]->isEnabled());
    QMenu loaded;
    shown = Moment{Card(kDrive[0]), 1000};
    AddMenuEntries(
        &loaded, nullptr, [&] { return shown; }, [](const QString &) {});
    EXPECT_TRUE(loaded.actions()[0]->isEnabled());
    EXPECT_TRUE(loaded.actions()[1]->isEnabled());
}

}  // namespace
}  // namespace vt::test
