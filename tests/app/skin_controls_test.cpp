// The skinned controls through real widgets: slider geometry and drag messages, the button
// strip's frames, the list's order and selection, and the artwork they draw from.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <vector>

#include "app/messages.h"
#include "app/skin/artwork.h"
#include "app/skinbutton.h"
#include "app/skinlistbox.h"
#include "app/skinslider.h"
#include "tests/app/app_env.h"

namespace vt::test {
namespace {

using app::CSkinButton;
using app::CSkinListBox;
using app::CSkinSlider;

// Collects the slider messages posted to it.
class MessageRecorder final : public QWidget {
public:
    struct Msg {
        int message;
        int id;
        int value;
    };
    std::vector<Msg> messages;
    int Count(int message) const {
        int n = 0;
        for (const Msg &m : messages) n += m.message == message;
        return n;
    }

protected:
    bool event(QEvent *e) override {
        const int t = static_cast<int>(e->type());
        if (t == app::WM_SLIDER_MOVED || t == app::WM_SLIDER_RELEASED) {
            auto *m = static_cast<app::CWindowMessage *>(e);
            messages.push_back({t, static_cast<int>(m->wParam()), static_cast<int>(m->lParam())});
            return true;
        }
        return QWidget::event(e);
    }
};

class SkinControls : public ::testing::Test {
protected:
    void SetUp() override { EnsureQtApp(); }
};

TEST_F(SkinControls, ArtworkHasEveryBitmapAtItsControlSize) {
    struct Expect {
        int id, w, h;
    };
    const Expect sizes[] = {
        {app::skin::kPlayStrip, 6 * 129, 51}, {app::skin::kOpenStrip, 3 * 128, 51},
        {app::skin::kExitStrip, 3 * 23, 22},  {app::skin::kVolumeUpStrip, 3 * 37, 37},
        {app::skin::kSeekChannel, 561, 7},    {app::skin::kSeekActive, 561, 7},
        {app::skin::kVolumeChannel, 111, 7},  {app::skin::kVideoFrame, 640, 480},
        {app::skin::kLegend, 44, 109},        {app::skin::kRightPanel, 303, 716},
        {app::skin::kTopPanel, 956, 42},      {app::skin::kBottomPanel, 654, 86},
    };
    for (const Expect &e : sizes) {
        const QImage img = app::skin::Render(e.id);
        EXPECT_EQ(img.size(), QSize(e.w, e.h)) << "bitmap " << e.id;
    }
    for (int id : app::skin::AllIds()) EXPECT_FALSE(app::skin::Render(id).isNull()) << id;
    EXPECT_TRUE(app::skin::Render(4242).isNull());

    // The play strip's pause frames differ from its play frames; hover differs from normal.
    const QImage play = app::skin::Render(app::skin::kPlayStrip);
    EXPECT_NE(play.copy(0, 0, 129, 51), play.copy(3 * 129, 0, 129, 51));
    EXPECT_NE(play.copy(0, 0, 129, 51), play.copy(129, 0, 129, 51));
    // The volume channel is keyed on its top-left pixel, which the wedge leaves uncovered.
    const QImage vol = app::skin::Render(app::skin::kVolumeChannel);
    EXPECT_EQ(vol.pixel(0, 0), vol.pixel(50, 0));
    EXPECT_NE(vol.pixel(0, 0), vol.pixel(110, 6));
}

TEST_F(SkinControls, SliderMapsEndsOfTheRangeToTheEdges) {
    CSkinSlider s;
    ASSERT_TRUE(s.SetChannel(app::skin::kSeekChannel, app::skin::kSeekActive, false, 0, 0, 0));
    EXPECT_EQ(s.size(), QSize(561, 7));
    s.SetRange(0, 99, false);
    EXPECT_EQ(s.PixelOfValue(0), 0);
    EXPECT_EQ(s.PixelOfValue(99), 561);
    EXPECT_EQ(s.ValueOfPixel(561), 99);
    EXPECT_EQ(s.ValueOfPixel(0), 0);
    EXPECT_EQ(s.ValueOfPixel(280), 280 * 99 / 561);

    s.SetMargins(10, 0, 20, 0);
    EXPECT_EQ(s.PixelOfValue(0), 10);
    EXPECT_EQ(s.PixelOfValue(99), 561 - 20);

    struct Case {
        int set, expect;
    };
    for (Case c : {Case{150, 99}, Case{-5, 0}, Case{42, 42}}) {
        s.SetValue(c.set);
        EXPECT_EQ(s.GetValue(), c.expect) << c.set;
    }
    EXPECT_FALSE(s.SetChannel(4242, 0, false, 0, 0, 0));
}

TEST_F(SkinControls, ThumbKeepsItsGripWhileDragged) {
    MessageRecorder parent;
    parent.resize(700, 60);
    auto *s = new CSkinSlider(&parent);
    ASSERT_TRUE(s->SetChannel(app::skin::kSeekChannel, 0, false, 0, 0, 0));
    // Any bitmap serves as a thumb here: the minimise strip, 66 pixels wide.
    ASSERT_TRUE(s->SetThumb(app::skin::kMinimiseStrip, 0, false, 0, 0, 0));
    s->SetRange(0, 100, false);
    EXPECT_EQ(s->PixelOfValue(0), 33);
    EXPECT_EQ(s->PixelOfValue(100), 33 + 561 - 66);
    EXPECT_EQ(s->ValueOfPixel(33 + 248), 50);
    EXPECT_EQ(s->ValueOfPixel(33 + 247), 49) << "truncated, not rounded";
    s->SetValue(50);
    parent.show();
    const int centre = s->PixelOfValue(50);
    // Grabbed 10 pixels right of its centre, the thumb does not jump; moved 20, it follows by 20.
    QTest::mousePress(s, Qt::LeftButton, {}, QPoint(centre + 10, 3));
    EXPECT_EQ(s->GetValue(), 50);
    QTest::mouseMove(s, QPoint(centre + 30, 3));
    EXPECT_EQ(s->GetValue(), s->ValueOfPixel(centre + 20));
    QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(centre + 30, 3));
    // Grabbed away from the thumb, it jumps to the click.
    QTest::mousePress(s, Qt::LeftButton, {}, QPoint(100, 3));
    EXPECT_EQ(s->GetValue(), s->ValueOfPixel(100));
    QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(100, 3));
}

TEST_F(SkinControls, DragPastTheEndPostsNoRepeatedMoves) {
    MessageRecorder parent;
    parent.resize(700, 40);
    auto *s = new CSkinSlider(&parent);
    s->SetId(1103);
    ASSERT_TRUE(s->SetChannel(app::skin::kSeekChannel, app::skin::kSeekActive, false, 0, 0, 0));
    s->SetRange(0, 99, false);
    s->move(10, 10);
    parent.show();

    QTest::mousePress(s, Qt::LeftButton, {}, QPoint(100, 3));
    PumpEvents();
    ASSERT_EQ(parent.Count(app::WM_SLIDER_MOVED), 1);
    EXPECT_EQ(parent.messages.back().id, 1103);
    EXPECT_EQ(parent.messages.back().value, 100 * 99 / 561);
    EXPECT_TRUE(s->IsDragging());

    QTest::mouseMove(s, QPoint(560, 3));
    QTest::mouseMove(s, QPoint(600, 3));
    PumpEvents();
    EXPECT_EQ(s->GetValue(), 99);
    const int moves = parent.Count(app::WM_SLIDER_MOVED);
    for (int x : {620, 640, 680}) QTest::mouseMove(s, QPoint(x, 3));
    PumpEvents();
    EXPECT_EQ(parent.Count(app::WM_SLIDER_MOVED), moves) << "value stayed at the end";
    EXPECT_EQ(s->GetValue(), 99);

    QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(680, 3));
    PumpEvents();
    EXPECT_FALSE(s->IsDragging());
    ASSERT_EQ(parent.Count(app::WM_SLIDER_RELEASED), 1);
    EXPECT_EQ(parent.messages.back().value, 99);
}

TEST_F(SkinControls, SliderKeysStepAndReportRelease) {
    MessageRecorder parent;
    auto *s = new CSkinSlider(&parent);
    ASSERT_TRUE(s->SetChannel(app::skin::kVolumeChannel, app::skin::kVolumeActive, true,
                              app::kTransparentFromPixel, 0, 0));
    s->SetRange(0, 100, false);
    s->SetPageStep(25);
    s->SetValue(50);
    struct Case {
        Qt::Key key;
        int expect;
    };
    for (Case c : {Case{Qt::Key_PageDown, 75}, Case{Qt::Key_PageDown, 100},
                   Case{Qt::Key_Right, 100}, Case{Qt::Key_Left, 99}, Case{Qt::Key_Home, 0},
                   Case{Qt::Key_Up, 0}, Case{Qt::Key_End, 100}, Case{Qt::Key_PageUp, 75}}) {
        QTest::keyClick(s, c.key);
        EXPECT_EQ(s->GetValue(), c.expect) << c.key;
    }
    PumpEvents();
    EXPECT_EQ(parent.Count(app::WM_SLIDER_RELEASED), 8);
    EXPECT_EQ(parent.Count(app::WM_SLIDER_MOVED), 0);

    s->Enable(false);
    QTest::keyClick(s, Qt::Key_Home);
    EXPECT_EQ(s->GetValue(), 75);
}

TEST_F(SkinControls, PlayStripShowsPauseFramesWhilePlaying) {
    QWidget host;
    host.resize(300, 100);
    auto *play = new CSkinButton(&host);
    play->setGeometry(10, 10, 129, 51);
    play->SetSkin(app::skin::kPlayStrip, 129);
    auto *stop = new CSkinButton(&host);
    stop->setGeometry(150, 10, 128, 51);
    stop->SetSkin(app::skin::kStopStrip, 128);
    host.show();

    EXPECT_EQ(play->CurrentFrame(), 0);
    play->SetAlternate(true);
    stop->SetAlternate(true);
    EXPECT_EQ(play->CurrentFrame(), 3);
    EXPECT_EQ(stop->CurrentFrame(), 0) << "only the play strip has alternate frames";
    play->setDown(true);
    EXPECT_EQ(play->CurrentFrame(), 5);
    play->setDown(false);

    // What is painted is the frame: compare against the strip itself.
    const QImage painted = play->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage frame3 = app::skin::Render(app::skin::kPlayStrip).copy(3 * 129, 0, 129, 40);
    EXPECT_EQ(painted.copy(0, 0, 129, 40), frame3);

    QSignalSpy clicks(play, &QAbstractButton::clicked);
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(SkinControls, ListKeepsCaseInsensitiveOrderAndReportsUserSelection) {
    CSkinListBox list;
    list.resize(274, 120);
    for (const char *name : {"b.mp4", "A.mp4", "c.MP4", "a0.mp4", "B0.mp4"})
        list.AddItem(QString::fromLatin1(name));
    QStringList order;
    for (int i = 0; i < list.Count(); ++i) order << list.Text(i);
    EXPECT_EQ(order, (QStringList{"A.mp4", "a0.mp4", "b.mp4", "B0.mp4", "c.MP4"}));

    QSignalSpy changed(&list, &CSkinListBox::selectionChanged);
    QSignalSpy doubled(&list, &CSkinListBox::doubleClicked);
    list.show();
    list.SetCurrentIndex(0);
    EXPECT_EQ(changed.count(), 0) << "a selection made by the program is not news";
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.takeFirst().at(0).toInt(), 1);
    QTest::keyClick(&list, Qt::Key_End);
    EXPECT_EQ(list.CurrentIndex(), 4);
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(changed.count(), 1) << "no change at the end";

    const QPoint second(20, list.ItemHeight() + list.ItemHeight() / 2);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, second);
    EXPECT_EQ(list.CurrentIndex(), 1);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, second);
    EXPECT_EQ(doubled.count(), 1);

    list.ResetContent();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.CurrentIndex(), -1);
}

TEST_F(SkinControls, DisabledListDrawsGreyText) {
    CSkinListBox list;
    list.resize(200, 60);
    list.SetLook(17, QStringLiteral("Arial"), QColor(230, 230, 230), QColor(0, 150, 255), false, 2,
                 Qt::black);
    list.AddItem(QStringLiteral("MMMMMMMM.mp4"));
    auto count_colour = [&](QRgb rgb) {
        const QImage img = list.grab().toImage().convertToFormat(QImage::Format_RGB32);
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                n += (img.pixel(x, y) & 0xFFFFFF) == (rgb & 0xFFFFFF);
        return n;
    };
    EXPECT_GT(count_colour(qRgb(230, 230, 230)), 10);
    list.setEnabled(false);
    EXPECT_EQ(count_colour(qRgb(230, 230, 230)), 0);
    EXPECT_GT(count_colour(CSkinListBox::kDisabledText), 10);
}

}  // namespace
}  // namespace vt::test
