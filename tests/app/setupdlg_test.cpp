// The camera settings dialog through its real widgets on the offscreen platform: what a card's
// files show, what a write puts back on the card, the clock file, the folder shared by the run and
// the messages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <ctime>
#include <filesystem>
#include <memory>

#include "app/playerdlg.h"
#include "app/recordings.h"
#include "app/setupdlg.h"
#include "app/skinbutton.h"
#include "tests/app/app_env.h"
#include "tests/app/fake_engine.h"
#include "tests/common/testutil.h"

namespace vt::test {
namespace {

namespace fs = std::filesystem;
using app::CCameraSetupDlg;

class SetupDialog : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();
        CCameraSetupDlg::ForgetSettingsFolder();
        card = program_dir / "card";
        fs::create_directory(card);
    }
    void TearDown() override {
        dlg.reset();
        PumpEvents();
        CCameraSetupDlg::ForgetSettingsFolder();
    }
    QString SetPathFile() const {
        return QString::fromStdString((program_dir / "opensetpath.dat").string());
    }
    CCameraSetupDlg *Open() {
        dlg = std::make_unique<CCameraSetupDlg>(nullptr, SetPathFile());
        dlg->SetMessageSink([this](const QString &t) { messages << t; });
        dlg->SetFolderChooser([this](QWidget *, const QString &title, const QString &start) {
            chooser_titles << title;
            chooser_starts << start;
            return chosen;
        });
        dlg->show();
        PumpEvents();
        return dlg.get();
    }
    void Choose(const fs::path &folder) {
        chosen = QString::fromStdString(folder.string());
        QTest::mouseClick(dlg->Control(app::IDC_SETUP_FOLDER), Qt::LeftButton);
        PumpEvents();
    }
    void Write() {
        QTest::mouseClick(dlg->Control(app::IDC_SETUP_WRITE), Qt::LeftButton);
        PumpEvents();
    }
    bool Checked(int id) const {
        return static_cast<QRadioButton *>(dlg->Control(id))->isChecked();
    }
    QLineEdit *Edit(int id) const { return static_cast<QLineEdit *>(dlg->Control(id)); }
    static void PutByte(const fs::path &file, uint8_t b) { ASSERT_TRUE(WriteFileBytes(file, {b})); }
    static int ByteOf(const fs::path &file) {
        const std::vector<uint8_t> b = ReadFileBytes(file);
        return b.size() == 1 ? b[0] : -1;
    }

    TempDir program_dir;
    fs::path card;
    std::unique_ptr<CCameraSetupDlg> dlg;
    QStringList messages, chooser_titles, chooser_starts;
    QString chosen;
};

TEST_F(SetupDialog, OpensWithTheInitialCodesAndTheLocalTimeDisabled) {
    const std::time_t before = std::time(nullptr);
    Open();
    EXPECT_EQ(dlg->size(), QSize(495, 350));
    EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dlg->isModal());
    struct Place {
        int id, l, t, r, b, strip;
    };
    const Place buttons[] = {{app::IDC_SETUP_FOLDER, 90, 45, 195, 78, 170},
                             {app::IDC_SETUP_WRITE, 195, 45, 300, 78, 171},
                             {app::IDC_SETUP_CLOSE, 300, 45, 405, 78, 218}};
    for (const Place &p : buttons) {
        auto *b = qobject_cast<app::CSkinButton *>(dlg->Control(p.id));
        ASSERT_NE(b, nullptr) << p.id;
        EXPECT_EQ(b->geometry(), QRect(p.l, p.t, p.r - p.l, p.b - p.t)) << p.id;
        EXPECT_EQ(b->SkinId(), p.strip);
    }
    for (int id = app::IDC_QUALITY_3; id <= app::IDC_SENSITIVITY_1; ++id) {
        const bool initial = id == app::IDC_QUALITY_3 || id == app::IDC_SOUND_2 ||
                             id == app::IDC_SENSITIVITY_1 || id == app::IDC_FRAME_3;
        EXPECT_EQ(Checked(id), initial) << id;
        EXPECT_TRUE(dlg->Control(id)->isVisible()) << id;
    }
    EXPECT_FALSE(Checked(app::IDC_SOUND_0));
    EXPECT_FALSE(dlg->Control(app::IDC_SOUND_0)->isVisible());
    EXPECT_EQ(dlg->Codes().quality, 3);
    EXPECT_EQ(dlg->Codes().sound, 2);
    EXPECT_EQ(dlg->Codes().sensitivity, 1);
    EXPECT_EQ(dlg->Codes().frame, 3);

    EXPECT_FALSE(static_cast<QCheckBox *>(dlg->Control(app::IDC_SET_CLOCK))->isChecked());
    EXPECT_FALSE(dlg->TimeFlag());
    std::tm t{};
    localtime_r(&before, &t);
    EXPECT_EQ(Edit(app::IDC_TIME_YEAR)->text(), QString::asprintf("%04d", t.tm_year + 1900));
    EXPECT_EQ(Edit(app::IDC_TIME_MONTH)->text(), QString::asprintf("%02d", t.tm_mon + 1));
    for (int id : {app::IDC_TIME_YEAR, app::IDC_TIME_MONTH, app::IDC_TIME_DAY, app::IDC_TIME_HOUR,
                   app::IDC_TIME_MINUTE, app::IDC_TIME_SECOND}) {
        EXPECT_FALSE(Edit(id)->isEnabled()) << id;
        EXPECT_EQ(Edit(id)->text().size(), id == app::IDC_TIME_YEAR ? 4 : 2) << id;
        EXPECT_EQ(Edit(id)->maxLength(), id == app::IDC_TIME_YEAR ? 4 : 2) << id;
    }
}

// What each file of a card shows, and that a write right after reading puts the same codes back.
struct CardCase {
    const char *name;
    int quality, sensitivity, sound, frame;  // file bytes; -1: no file
    int checked[4];                          // quality, frame, sound, sensitivity rows
    uint8_t written[4];                      // setquality, setsound, setsensitivity, setframe
};
const CardCase kCards[] = {
    {"QualityOneIsWrittenBackAsOne",
     1,
     1,
     2,
     3,
     {app::IDC_QUALITY_1, app::IDC_FRAME_3, app::IDC_SOUND_2, app::IDC_SENSITIVITY_1},
     {1, 2, 1, 3}},
    {"SoundZeroChecksTheHiddenButton",
     3,
     2,
     0,
     1,
     {app::IDC_QUALITY_3, app::IDC_FRAME_1, app::IDC_SOUND_0, app::IDC_SENSITIVITY_2},
     {3, 0, 2, 1}},
    {"MissingFilesGiveTheDefaults",
     -1,
     -1,
     -1,
     -1,
     {app::IDC_QUALITY_3, app::IDC_FRAME_3, app::IDC_SOUND_2, app::IDC_SENSITIVITY_1},
     {3, 2, 1, 3}},
    // An ASCII digit and codes out of range leave their rows as they were.
    {"ForeignCodesLeaveTheRows",
     '2',
     0,
     4,
     0xFF,
     {app::IDC_QUALITY_2, app::IDC_FRAME_2, app::IDC_SOUND_1, app::IDC_SENSITIVITY_3},
     {2, 1, 3, 2}},
};

class SetupCards : public SetupDialog, public ::testing::WithParamInterface<CardCase> {};

TEST_P(SetupCards, ShowsAndWritesBackTheCodesRead) {
    const CardCase &c = GetParam();
    const std::pair<const char *, int> files[4] = {{"setquality.dat", c.quality},
                                                   {"setsensitivity.dat", c.sensitivity},
                                                   {"setsound.dat", c.sound},
                                                   {"setframe.dat", c.frame}};
    for (const auto &[name, byte] : files)
        if (byte >= 0) PutByte(card / name, static_cast<uint8_t>(byte));
    Open();
    // The foreign-code case starts from other choices, which the card must not change.
    if (c.quality == '2') {
        for (int id :
             {app::IDC_QUALITY_2, app::IDC_FRAME_2, app::IDC_SOUND_1, app::IDC_SENSITIVITY_3})
            QTest::mouseClick(dlg->Control(id), Qt::LeftButton, {}, QPoint(9, 9));
    }
    Choose(card);
    EXPECT_EQ(chooser_titles, QStringList{"Select Fold"});
    for (int id : c.checked) EXPECT_TRUE(Checked(id)) << id;
    // One button per row.
    int checked = 0;
    for (int id = app::IDC_QUALITY_3; id <= app::IDC_SENSITIVITY_1; ++id) checked += Checked(id);
    checked += Checked(app::IDC_SOUND_0);
    EXPECT_EQ(checked, 4);

    Write();
    EXPECT_EQ(messages, QStringList{"Created Configuration File."});
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(ByteOf(card / "setquality.dat"), c.written[0]);
    EXPECT_EQ(ByteOf(card / "setsound.dat"), c.written[1]);
    EXPECT_EQ(ByteOf(card / "setsensitivity.dat"), c.written[2]);
    EXPECT_EQ(ByteOf(card / "setframe.dat"), c.written[3]);
    EXPECT_FALSE(fs::exists(card / "settime.dat"));
}

INSTANTIATE_TEST_SUITE_P(Cards, SetupCards, ::testing::ValuesIn(kCards),
                         [](const ::testing::TestParamInfo<CardCase> &i) {
                             return std::string(i.param.name);
                         });

TEST_F(SetupDialog, TheClockFileFollowsTheCheckBox) {
    // A clock file already on the card stays as it is while the box is off.
    ASSERT_TRUE(WriteFileBytes(card / "settime.dat", {'o', 'l', 'd'}));
    Open();
    Choose(card);
    Write();
    EXPECT_EQ(ReadFileBytes(card / "settime.dat"), (std::vector<uint8_t>{'o', 'l', 'd'}));

    Open();
    auto *box = static_cast<QCheckBox *>(dlg->Control(app::IDC_SET_CLOCK));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(9, 9));
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(dlg->TimeFlag());
    EXPECT_TRUE(Edit(app::IDC_TIME_SECOND)->isEnabled());
    const char *texts[6] = {"2010", "3", "7", "9", "5", "0"};
    const int ids[6] = {app::IDC_TIME_YEAR, app::IDC_TIME_MONTH,  app::IDC_TIME_DAY,
                        app::IDC_TIME_HOUR, app::IDC_TIME_MINUTE, app::IDC_TIME_SECOND};
    for (int i = 0; i < 6; ++i) {
        Edit(ids[i])->clear();
        QTest::keyClicks(Edit(ids[i]), QString::fromLatin1(texts[i]));
    }
    // Off and on again: the edits keep their text.
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(9, 9));
    EXPECT_FALSE(dlg->TimeFlag());
    EXPECT_FALSE(Edit(app::IDC_TIME_YEAR)->isEnabled());
    EXPECT_EQ(Edit(app::IDC_TIME_YEAR)->text(), "2010");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(9, 9));
    Write();
    const std::vector<uint8_t> time = ReadFileBytes(card / "settime.dat");
    EXPECT_EQ(std::string(time.begin(), time.end()), "2010-03-07-09-05-00");
    EXPECT_EQ(time.size(), 19u);
    EXPECT_EQ(messages.last(), "Created Configuration File.");
}

TEST_F(SetupDialog, WithoutAFolderNothingIsWrittenAndTheDialogStays) {
    Open();
    Write();
    EXPECT_EQ(messages, QStringList{"Select Folder."});
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(fs::is_empty(card));

    // A cancelled browser, or a path that is no folder, chooses nothing either.
    chosen.clear();
    QTest::mouseClick(dlg->Control(app::IDC_SETUP_FOLDER), Qt::LeftButton);
    ASSERT_TRUE(WriteFileBytes(card / "plain.txt", {'x'}));
    Choose(card / "plain.txt");
    EXPECT_TRUE(CCameraSetupDlg::SettingsFolder().isEmpty());
    Write();
    EXPECT_EQ(messages, (QStringList{"Select Folder.", "Select Folder."}));
}

TEST_F(SetupDialog, TheFolderChosenOnceServesLaterWritesAndDialogs) {
    Open();
    Choose(card);
    Write();
    EXPECT_EQ(ByteOf(card / "setquality.dat"), 3);
    dlg.reset();  // destroying the dialog remembers the folder beside the program
    const std::vector<uint8_t> remembered = ReadFileBytes(program_dir / "opensetpath.dat");
    ASSERT_EQ(remembered.size(), app::kPathBytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(remembered.data())), card.string());

    // A new dialog of the same run writes there without asking, and the browser would start there.
    Open();
    EXPECT_EQ(dlg->RememberedFolder().toStdString(), card.string());
    QTest::mouseClick(dlg->Control(app::IDC_QUALITY_1), Qt::LeftButton, {}, QPoint(9, 9));
    Write();
    EXPECT_EQ(ByteOf(card / "setquality.dat"), 1);
    EXPECT_EQ(messages,
              (QStringList{"Created Configuration File.", "Created Configuration File."}));
    Open();
    chosen.clear();
    QTest::mouseClick(dlg->Control(app::IDC_SETUP_FOLDER), Qt::LeftButton);
    EXPECT_EQ(chooser_starts.last().toStdString(), card.string());

    // A new run has no folder until one is chosen, though it remembers where to start.
    CCameraSetupDlg::ForgetSettingsFolder();
    Open();
    Write();
    EXPECT_EQ(messages.last(), "Select Folder.");
}

TEST_F(SetupDialog, AMissingFolderIsCreatedWhenItsParentExists) {
    Open();
    Choose(card);
    fs::remove(card);
    Write();
    EXPECT_EQ(messages, QStringList{"Created Configuration File."});
    EXPECT_EQ(ByteOf(card / "setframe.dat"), 3);

    // Without its parent it cannot be made: one message, nothing written, the dialog stays.
    messages.clear();
    fs::path deep = program_dir / "gone" / "card";
    fs::create_directories(deep);
    Open();
    Choose(deep);
    fs::remove_all(program_dir / "gone");
    Write();
    EXPECT_EQ(messages, QStringList{"Confirm Path."});
    EXPECT_FALSE(fs::exists(program_dir / "gone"));
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(SetupDialog, AFileThatCannotBeWrittenIsReportedAndTheRestWritten) {
    fs::create_directory(card / "setsound.dat");  // a folder where the file should go
    Open();
    Choose(card);
    Write();
    EXPECT_EQ(messages, (QStringList{"Create setsound.dat Failed", "Created Configuration File."}));
    EXPECT_EQ(ByteOf(card / "setquality.dat"), 3);
    EXPECT_EQ(ByteOf(card / "setsensitivity.dat"), 1);
    EXPECT_EQ(ByteOf(card / "setframe.dat"), 3);
}

TEST_F(SetupDialog, CloseButtonClosesAndTheBackgroundDrags) {
    Open();
    dlg->move(100, 100);
    PumpEvents();
    const QPoint before = dlg->pos();
    const QPoint grab_at(20, 300);  // background, no control there
    const QPoint start = dlg->frameGeometry().topLeft() + grab_at;
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(grab_at), QPointF(grab_at), QPointF(start),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &press);
    QMouseEvent move(QEvent::MouseMove, QPointF(grab_at), QPointF(grab_at),
                     QPointF(start + QPoint(40, 25)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &move);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(grab_at), QPointF(grab_at),
                        QPointF(start + QPoint(40, 25)), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &release);
    PumpEvents();
    EXPECT_EQ(dlg->pos(), before + QPoint(40, 25));

    QTest::mouseClick(dlg->Control(app::IDC_SETUP_CLOSE), Qt::LeftButton);
    PumpEvents();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_FALSE(fs::exists(program_dir / "opensetpath.dat"))
        << "nothing chosen, nothing remembered";
}

TEST_F(SetupDialog, TheMainWindowsSetupButtonOpensItModally) {
    // A window test before this one may have asked the application to quit, which makes every
    // later modal loop return at once; a round of the application's own loop clears that.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    FakeEngine::Get().Reset();
    auto main = std::make_unique<app::CPlayerDlg>(
        nullptr, QString::fromStdString(program_dir.path().string()));
    QStringList main_messages;
    main->SetMessageSink([&](const QString &t) { main_messages << t; });
    main->show();
    PumpEvents();
    bool seen = false;
    QTimer::singleShot(0, main.get(), [&] {
        auto *setup = qobject_cast<CCameraSetupDlg *>(QApplication::activeModalWidget());
        seen = setup != nullptr;
        if (setup == nullptr) return;
        static_cast<QAbstractButton *>(setup->Control(app::IDC_SETUP_WRITE))
            ->click();  // through the window's sink
        static_cast<QAbstractButton *>(setup->Control(app::IDC_SETUP_CLOSE))->click();
    });
    QTimer::singleShot(5000, main.get(), [] {
        if (QWidget *w = QApplication::activeModalWidget()) w->close();
    });
    static_cast<QAbstractButton *>(main->Control(app::IDC_SETUP))->click();
    EXPECT_TRUE(seen);
    EXPECT_EQ(main_messages, QStringList{"Select Folder."});
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    main.reset();
    PumpEvents();
}

}  // namespace
}  // namespace vt::test
