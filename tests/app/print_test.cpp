// Capture and printing: the page layout drawn on an image, a capture that comes late, and the
// whole print button over the real engine playing a sample, printed on a private CUPS server's PDF
// queue (the ctest fixture starts it with tools/print-queue.sh) or with no printer at all.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/printing.h"
#include "app/skinbutton.h"
#include "app/videowindow.h"
#include "imaging/imaging.h"
#include "tests/app/fake_engine.h"
#include "tests/app/run_until.h"
#include "tests/common/testutil.h"

// fontconfig's caches, the SDL audio subsystem and the print system's libraries live until the
// process ends.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libSDL2-2.0.so\nleak:libcups.so\nleak:libgnutls.so\nleak:"
           "libavahi\n";
}

namespace vt::test {
namespace {

namespace fs = std::filesystem;

const char kSample[] = "20261108_083000.mp4";

void StartQt() {
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "app_print_tests";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QApplication(argc, argv);
}

QImage LoadBmp(const fs::path &file) {
    ImageBgr img{};
    if (ImageReadBmp(file.c_str(), &img) == 0) return {};
    QImage copy = QImage(img.bgr, img.width, img.height, img.stride, QImage::Format_BGR888).copy();
    ImageFree(&img);
    return copy;
}

QColor MeanColour(const QImage &img, QRect r) {
    r &= img.rect();
    double sum[3] = {};
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb c = img.pixel(x, y);
            sum[0] += qRed(c);
            sum[1] += qGreen(c);
            sum[2] += qBlue(c);
        }
    const double n = std::max<double>(1, double(r.width()) * r.height());
    return QColor(int(sum[0] / n), int(sum[1] / n), int(sum[2] / n));
}

int Distance(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

// A picture with four coloured quarters, so that a stretched copy shows where it went.
QImage Quarters(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.fillRect(0, 0, w / 2, h / 2, QColor(220, 30, 30));
    p.fillRect(w / 2, 0, w - w / 2, h / 2, QColor(30, 200, 40));
    p.fillRect(0, h / 2, w / 2, h - h / 2, QColor(30, 40, 210));
    p.fillRect(w / 2, h / 2, w - w / 2, h - h / 2, QColor(240, 220, 20));
    return img;
}

bool WriteBmp(const fs::path &file, const QImage &picture) {
    const QImage bgr = picture.convertToFormat(QImage::Format_BGR888);
    return ImageWriteBmp(file.c_str(), bgr.constBits(), bgr.width(), bgr.height(),
                         int(bgr.bytesPerLine())) != 0;
}

TEST(PrintPage, LaysOutTextsBarsAndTheStretchedPicture) {
    StartQt();
    TempDir dir;
    ASSERT_TRUE(WriteBmp(dir / "print.bmp", Quarters(64, 48)));
    // An A4 page at 600 dpi.
    const int W = 4960, H = 7016;
    QImage page(W, H, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    const QColor bar(240, 240, 240);
    ASSERT_TRUE(app::DrawPrintPage(&p, W, H, "20261108_083000.mp4",
                                   QDateTime(QDate(2026, 3, 7), QTime(9, 5, 0)),
                                   QString::fromStdString((dir / "print.bmp").string()), bar));
    p.end();

    // The picture fills (500, 1200) to (W - 500, H / 2 + 700), its quarters in place.
    const QRect pic(500, 1200, W - 1000, H / 2 - 500);
    const QImage quarters = Quarters(2, 2);
    for (int q = 0; q < 4; ++q) {
        const QRect inner(pic.left() + (q % 2) * pic.width() / 2 + 20,
                          pic.top() + (q / 2) * pic.height() / 2 + 20, pic.width() / 2 - 40,
                          pic.height() / 2 - 40);
        EXPECT_LT(Distance(MeanColour(page, inner), quarters.pixelColor(q % 2, q / 2)), 12) << q;
    }
    EXPECT_EQ(page.pixelColor(pic.left() - 3, pic.center().y()), QColor(Qt::white));
    EXPECT_EQ(page.pixelColor(pic.center().x(), pic.bottom() + 3), QColor(Qt::white));

    // The two bars: 15 rows at 650 and at H - 130, from x 30 to W - 30.
    for (int y : {650, 664, H - 130, H - 116}) {
        EXPECT_EQ(page.pixelColor(30, y), bar) << y;
        EXPECT_EQ(page.pixelColor(W - 31, y), bar) << y;
    }
    EXPECT_EQ(page.pixelColor(29, 657), QColor(Qt::white));
    EXPECT_EQ(page.pixelColor(100, 649), QColor(Qt::white));
    EXPECT_EQ(page.pixelColor(100, 665), QColor(Qt::white));

    // Texts: black from (60, 500) and (W - 1050, 500), the model name in blue from (W - 570, H - 110).
    auto ink = [&](QRect r, auto pred) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (pred(page.pixelColor(x, y))) return true;
        return false;
    };
    auto dark = [](QColor c) { return c.red() < 80 && c.green() < 80 && c.blue() < 80; };
    auto blue = [](QColor c) { return c.blue() > 180 && c.red() < 80 && c.green() < 80; };
    EXPECT_TRUE(ink(QRect(60, 500, 200, 60), dark));
    EXPECT_FALSE(ink(QRect(0, 0, W, 499), dark)) << "nothing above the texts";
    EXPECT_TRUE(ink(QRect(W - 1050, 500, 300, 60), dark));
    EXPECT_TRUE(ink(QRect(W - 570, H - 110, 200, 60), blue));
    EXPECT_FALSE(ink(QRect(0, H - 112, W - 572, 100), blue));
    EXPECT_EQ(app::PrintTimeText(QDateTime(QDate(2026, 3, 7), QTime(9, 5, 0))),
              "2026/03/07  09:05:00");

    // A page narrower than the layout still gets its texts and bars; without the bitmap the page
    // is reported unfinished.
    QImage small(900, 900, QImage::Format_RGB32);
    small.fill(Qt::white);
    QPainter ps(&small);
    EXPECT_TRUE(app::DrawPrintPage(&ps, 900, 900, "a.mp4", QDateTime::currentDateTime(),
                                   QString::fromStdString((dir / "print.bmp").string()), bar));
    EXPECT_FALSE(app::DrawPrintPage(&ps, 900, 900, "a.mp4", QDateTime::currentDateTime(),
                                    QString::fromStdString((dir / "missing.bmp").string()), bar));
    ps.end();
}

// An engine whose display writes the capture 700 ms after the request, later than the 300 ms the
// print step usually allows.
std::thread g_late_writer;
int LateCapture(const char *path) {
    g_late_writer = std::thread([file = std::string(path)] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        const QImage img = Quarters(64, 48).convertToFormat(QImage::Format_BGR888);
        ImageWriteJpeg(file.c_str(), img.constBits(), img.width(), img.height(),
                       int(img.bytesPerLine()), 90);
    });
    return 1;
}

TEST(PrintLateCapture, IsWaitedForRatherThanPrintedWithoutPicture) {
    StartQt();
    if (!fs::exists(SamplesDir() / kSample)) GTEST_SKIP() << "samples/ missing";
    setenv("CUPS_SERVER", "/nonexistent/cups.sock",
           1);  // no printer: the files are what is checked
    static app::EngineOps ops = *FakeEngineOps();
    ops.request_capture = LateCapture;
    FakeEngine::Get().Reset();
    app::CPlayerControl::Release();
    app::CPlayerControl::UseEngine(&ops);
    TempDir program_dir;
    QStringList messages;
    {
        app::CPlayerDlg dlg(nullptr, QString::fromStdString(program_dir.path().string()));
        dlg.SetMessageSink([&](const QString &t) { messages << t; });
        dlg.show();
        dlg.OpenFolder(QString::fromStdString(SamplesDir().string()));
        FakeEngine::Get().Tick(1000, STATE_PLAYING);
        QCoreApplication::processEvents();
        ASSERT_EQ(dlg.LastKnownState(), app::kStatePlaying);
        // The window's timers keep running while printing waits for the picture: it does not
        // freeze for the second the capture takes.
        int fired = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++fired; });
        timer.start(20);
        QTest::mouseClick(dlg.Control(app::IDC_PRINT), Qt::LeftButton);
        timer.stop();
        EXPECT_GE(fired, 20) << "about 1 s of waiting at a 20 ms timer";
        if (g_late_writer.joinable()) g_late_writer.join();
    }
    app::CPlayerControl::Release();
    app::CPlayerControl::UseEngine(nullptr);
    EXPECT_EQ(messages, QStringList{"Install a printer!"});
    const QImage bmp = LoadBmp(program_dir / "print.bmp");
    ASSERT_EQ(bmp.size(), QSize(64, 48)) << "the late capture made it into print.bmp";
    EXPECT_LT(Distance(bmp.pixelColor(8, 8), QColor(220, 30, 30)), 40);
}

// The main window over the real engine, with the program's files in a scratch folder.
class PrintButton : public ::testing::Test {
protected:
    void SetUp() override {
        StartQt();
        if (!fs::exists(SamplesDir() / kSample)) GTEST_SKIP() << "samples/ missing";
        dlg = std::make_unique<app::CPlayerDlg>(
            nullptr, QString::fromStdString(program_dir.path().string()));
        dlg->SetMessageSink([this](const QString &t) { messages << t; });
        dlg->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        dlg.reset();
        app::CPlayerControl::Release();
    }
    // Lists the samples (the first one opens and plays) and waits for pictures on screen.
    void Play() {
        dlg->OpenFolder(QString::fromStdString(SamplesDir().string()));
        ASSERT_TRUE(dlg->Loaded());
        ASSERT_TRUE(RunUntil(
            [&] {
                return dlg->VideoWindow()->PicturesShown() > 10 &&
                       dlg->Player()->GetPosition() > 1000;
            },
            20000));
        ASSERT_EQ(dlg->LastKnownState(), app::kStatePlaying);
    }
    void Print() {
        QTest::mouseClick(dlg->Control(app::IDC_PRINT), Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    fs::path Capture() const { return program_dir / "capture.jpg"; }
    fs::path Bmp() const { return program_dir / "print.bmp"; }
    // The capture and its BMP hold the same picture, at the picture's own size.
    void ExpectBothFiles() {
        ImageBgr jpeg{};
        ASSERT_EQ(ImageReadJpeg(Capture().c_str(), &jpeg), 1);
        const QImage from_jpeg =
            QImage(jpeg.bgr, jpeg.width, jpeg.height, jpeg.stride, QImage::Format_BGR888).copy();
        ImageFree(&jpeg);
        EXPECT_EQ(from_jpeg.size(), QSize(640, 480));
        const QImage bmp = LoadBmp(Bmp());
        ASSERT_FALSE(bmp.isNull());
        EXPECT_EQ(bmp, from_jpeg);
        // A real frame, not a blank one.
        EXPECT_GT(Distance(MeanColour(bmp, QRect(0, 0, 320, 240)),
                           MeanColour(bmp, QRect(320, 240, 320, 240))) +
                      Distance(MeanColour(bmp, bmp.rect()), QColor(0, 0, 0)),
                  20);
    }
    void ExpectPausedShowingPlay() {
        EXPECT_EQ(dlg->LastKnownState(), app::kStatePaused);
        EXPECT_EQ(dlg->Player()->GetState(), app::kStatePaused);
        EXPECT_FALSE(dlg->PlayButton()->Alternate());
    }

    TempDir program_dir;
    std::unique_ptr<app::CPlayerDlg> dlg;
    QStringList messages;
};

TEST_F(PrintButton, WhileStoppedDoesNothing) {
    ASSERT_TRUE(WriteFileBytes(Capture(), {1, 2, 3}));
    Print();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_FALSE(fs::exists(Capture())) << "an old capture is never printed";
    EXPECT_FALSE(fs::exists(Bmp()));
    EXPECT_EQ(dlg->LastKnownState(), app::kStateStopped);
}

TEST_F(PrintButton, WithoutAPrinterAsksForOneAndStillWritesBothFiles) {
    // This process talks to no print server at all (the case runs alone in its process).
    const fs::path nowhere = program_dir / "no-server.sock";
    setenv("CUPS_SERVER", nowhere.c_str(), 1);
    Play();
    Print();
    EXPECT_EQ(messages, QStringList{"Install a printer!"});
    ExpectPausedShowingPlay();
    ExpectBothFiles();
}

TEST_F(PrintButton, PrintsThePictureAndTextsOnTheDefaultPrinter) {
    const char *queue_dir = std::getenv("VT_PRINT_QUEUE_DIR");
    if (queue_dir == nullptr)
        GTEST_SKIP() << "no print queue: run through ctest, whose fixture starts one";
    const fs::path queue(queue_dir);
    if (fs::exists(queue / "skip")) {
        const std::vector<uint8_t> why = ReadFileBytes(queue / "skip");
        GTEST_SKIP() << "no print queue: " << std::string(why.begin(), why.end());
    }
    // Before anything asks the print system: this process talks to the fixture's server only.
    setenv("CUPS_SERVER", (queue / "cups.sock").c_str(), 1);
    if (!HaveProgram("pdftotext") || !HaveProgram("pdftoppm"))
        GTEST_SKIP() << "poppler-utils is not installed (tools/setup.sh installs it)";
    ASSERT_FALSE(QPrinterInfo::defaultPrinter().isNull())
        << "the fixture's queue is the default printer";
    const fs::path pdfs = queue / "pdf";
    const size_t before =
        fs::exists(pdfs) ? size_t(std::distance(fs::directory_iterator(pdfs), {})) : 0;

    Play();
    // Print while playing (also when the window still shows a stale state) leaves it paused.
    const QDateTime printed = QDateTime::currentDateTime();
    Print();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    ExpectPausedShowingPlay();
    ExpectBothFiles();

    // The job goes through the queue's filters and comes out as one PDF.
    fs::path pdf;
    ASSERT_TRUE(RunUntil(
        [&] {
            if (!fs::exists(pdfs)) return false;
            size_t n = 0;
            for (const auto &e : fs::directory_iterator(pdfs)) {
                ++n;
                if (e.path().extension() == ".pdf" && fs::file_size(e.path()) > 0) pdf = e.path();
            }
            return n > before && !pdf.empty();
        },
        90000))
        << "no PDF in " << pdfs;
    QThread::msleep(500);  // cups-pdf may still be finishing the file
    // cups-pdf names the file after the job, which carries the document name.
    EXPECT_NE(pdf.filename().string().find("StartDoc"), std::string::npos) << pdf;

    std::string text;
    ASSERT_EQ(vt::test::Run("pdftotext -layout " + Quote(pdf.string()) + " -", &text), 0);
    EXPECT_NE(text.find(kSample), std::string::npos) << text;
    EXPECT_NE(text.find("ZRD-X2500"), std::string::npos) << text;
    EXPECT_NE(text.find(printed.toString("yyyy/MM/dd").toStdString()), std::string::npos) << text;
    std::string pages;
    ASSERT_EQ(vt::test::Run("pdfinfo " + Quote(pdf.string()) + " | grep '^Pages:'", &pages), 0);
    EXPECT_NE(pages.find(" 1"), std::string::npos) << pages;

    // The page's picture is the captured frame: render the page and compare the stretched picture's
    // middle with the frame's middle.
    const fs::path png_stem = program_dir / "page";
    ASSERT_EQ(vt::test::Run("pdftoppm -r 60 -png -singlefile " + Quote(pdf.string()) + " " +
                            Quote(png_stem.string())),
              0);
    QImage page(QString::fromStdString(png_stem.string() + ".png"));
    ASSERT_FALSE(page.isNull());
    QPrinter printer(QPrinterInfo::defaultPrinter(), QPrinter::HighResolution);
    printer.setResolution(app::kPrintResolution);
    const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    const QRectF area = printer.pageRect(QPrinter::DevicePixel);
    const double W = area.width(), H = area.height();
    const double sx = page.width() / paper.width(), sy = page.height() / paper.height();
    const QRectF picture(area.left() + 500, area.top() + 1200, W - 1000, H / 2 - 500);
    const QRect shown(int(picture.left() * sx), int(picture.top() * sy), int(picture.width() * sx),
                      int(picture.height() * sy));
    const QImage frame = LoadBmp(Bmp());
    // Compare the middle halves, away from edges that resampling blurs.
    const QRect inner = shown.adjusted(shown.width() / 4, shown.height() / 4, -shown.width() / 4,
                                       -shown.height() / 4);
    const QColor on_page = MeanColour(page.convertToFormat(QImage::Format_RGB32), inner);
    const QColor in_frame = MeanColour(frame, QRect(160, 120, 320, 240));
    EXPECT_LT(Distance(on_page, in_frame), 45)
        << on_page.name().toStdString() << " vs " << in_frame.name().toStdString();
    // Outside the picture the page is white.
    EXPECT_GT(
        MeanColour(page.convertToFormat(QImage::Format_RGB32),
                   QRect(int(area.left() * sx) + 2, shown.top(), int(400 * sx), shown.height()))
            .lightness(),
        245);
}

}  // namespace
}  // namespace vt::test
