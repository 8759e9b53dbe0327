// The playback control panel of the skinned main window, offscreen, on local AVI files: the
// buttons, texts, slider and looks, the channel pop-up menu and the saved picture.

#include <QAbstractSlider>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <memory>

#include "ReferenceFrame.h"
#include "app/Viewer.h"
#include "media/AviReader.h"
#include "platform/UserPort.h"
#include "sim/Generate.h"
#include "ui/Prompts.h"
#include "ui/panels/ChannelView.h"
#include "ui/panels/Snapshot.h"
#include "ui/playback/PlaybackPanel.h"
#include "ui/playback/TimelineView.h"
#include "ui/skin/SkinButton.h"
#include "ui/skin/SkinPanel.h"
#include "ui/skin/SkinSlider.h"
#include "ui/skin/SkinSurface.h"

namespace fs = std::filesystem;
using fsv::app::Viewer;
using fsv::playback::test::referenceFrame;
using namespace fsv::ui;

namespace {

constexpr int kWait = 20000;  // generous: a loaded two-core machine

fsv::SystemTime at(int y, int mo, int d, int h, int mi, int s, int ms) {
    fsv::SystemTime t;
    t.year = uint16_t(y), t.month = uint16_t(mo), t.day = uint16_t(d);
    t.hour = uint16_t(h), t.minute = uint16_t(mi), t.second = uint16_t(s);
    t.milliseconds = uint16_t(ms);
    return t;
}

// What a panel of `panel`'s size shows for the picture `p`: the comparison is exact.
QImage rendered(DisplayPanel* panel, const fsv::client::Picture& p) {
    QImage out(panel->size(), QImage::Format_RGB32);
    QPainter painter(&out);
    DisplayPanel::render(painter, panel->size(), &p, panel->caption(), panel->active());
    return out;
}

// Frame n of `file` as `panel` gets it from its slot.
fsv::client::Picture referenceFrame(const fs::path& file, int n, const DisplayPanel* panel) {
    return fsv::playback::test::referenceFrame(file, n, panel->width(), panel->height());
}

QImage grabbed(DisplayPanel* panel) {
    return panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A stream of a recorder as the panel sees it: the speed steps of a "Download && Play" stream
// and the speed menu; no picture, no clip.
class FakeStream : public fsv::playback::Player {
  public:
    void attachPanel(int) override {}
    bool command(fsv::playback::PlayCommand c) override {
        using fsv::playback::PlayCommand;
        if (c == PlayCommand::Pause || c == PlayCommand::Play) paused = c == PlayCommand::Pause;
        if (c == PlayCommand::Slower) {
            if (fast >= 2)
                --fast;
            else
                slow = std::min(slow * 2, 8);
        }
        if (c == PlayCommand::Faster) {
            if (slow >= 2)
                slow /= 2;
            else
                fast = std::min(fast + 1, 5);
        }
        return true;
    }
    bool setSpeed(int factor) override {
        fast = factor;
        slow = 1;
        return true;
    }
    std::optional<fsv::playback::PlayStatus> playStatus() const override {
        fsv::playback::PlayStatus s;
        s.paused = paused;
        s.frameCount = 100;
        s.position = 50;
        s.slow = slow > 1;
        s.speed = s.slow ? slow : fast;
        s.caption = "1. Yard DVR Gate";
        return s;
    }
    bool paused = false;
    int fast = 1, slow = 1;
};

}  // namespace

class PlaybackPanelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    PromptScript script_;
    std::unique_ptr<Viewer> viewer_;
    fs::path mjpeg_, mpeg4_;

    fs::path home() const { return dir_->filePath(QStringLiteral("home")).toStdString(); }
    MainWindow& window() { return viewer_->window(); }
    PlaybackPanel& panel() { return *window().playbackPanel(); }
    ::fsv::ui::skin::SkinButton* button(int index) {
        return window().skin()->button(PlaybackPanel::kPlayLine, index);
    }
    std::array<int, 9> looks() {
        std::array<int, 9> out{};
        for (int i = 0; i < 9; ++i) out[size_t(i)] = button(i)->look();
        return out;
    }
    fsv::playback::PlayStatus status() {
        auto s = viewer_->backend().channelStatus(window().currentChannel());
        return s ? *s : fsv::playback::PlayStatus{};
    }
    // Runs `f` on the modal dialog that the next action opens, once it is up.
    void inModalDialog(std::function<void(QWidget*)> f) {
        auto* timer = new QTimer(this);
        timer->setInterval(20);
        connect(timer, &QTimer::timeout, this, [timer, f] {
            QWidget* d = QApplication::activeModalWidget();
            if (!d || !d->isVisible()) return;
            timer->stop();
            timer->deleteLater();
            f(d);
        });
        timer->start();
    }
    // The active panel shows exactly frame n of `file`, decoded on its own; `shown_` says what
    // it showed instead.
    bool showsFrame(const fs::path& file, uint32_t n) {
        DisplayPanel* p = window().channelView()->panel(window().channelView()->activePanel());
        const auto expected = referenceFrame(file, int(n), p);
        const auto s = status();
        const bool same = !expected.bits.empty() && grabbed(p) == rendered(p, expected);
        shown_ = QStringLiteral("frame %1 of %2, paused %3, picture of frame %4: %5")
                     .arg(s.position)
                     .arg(s.frameCount)
                     .arg(s.paused)
                     .arg(n)
                     .arg(same);
        return s.position == n && same;
    }
    QString shown_;
    // What a failed showsFrame saw, with the frames whose picture the panel showed instead.
    QString unlike(const fs::path& file, uint32_t n) {
        if (showsFrame(file, n)) return {};
        DisplayPanel* p = window().channelView()->panel(window().channelView()->activePanel());
        const QImage g = grabbed(p);
        QString out = shown_ + QStringLiteral(", it shows frame");
        for (uint32_t k = 0; k < status().frameCount; ++k)
            if (g == rendered(p, referenceFrame(file, int(k), p)))
                out += QStringLiteral(" %1").arg(k);
        return out;
    }

  private Q_SLOTS:
    void initTestCase() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        qputenv("FARSIGHT_HOME", QByteArray::fromStdString(home().string()));
        qputenv("FARSIGHT_CONFIG", dir_->filePath(QStringLiteral("config")).toUtf8());
        fsv::sim::GenerateOptions o;
        o.cameras = 2;  // Motion JPEG 352 x 240, MPEG-4 704 x 480
        o.days = 1;
        o.eventsPerDay = 1;
        o.secondsPerEvent = 20;  // still playing while the flow runs on a loaded machine
        o.audioChannels = 0;
        const fs::path rec = fs::path(dir_->path().toStdString()) / "rec";
        std::string error;
        QVERIFY2(fsv::sim::generateRecordings(rec, o, &error), error.c_str());
        mjpeg_ = fsv::playback::test::firstAvi(rec / "Cam01");
        mpeg4_ = fsv::playback::test::firstAvi(rec / "Cam02");
        QVERIFY(!mjpeg_.empty() && !mpeg4_.empty());
        fs::create_directories(home());
        fs::create_directory_symlink(fs::path(FSV_BINARY_DIR) / "Metal_Style",
                                     home() / "Metal_Style");
        Prompts::setScript(&script_);
    }
    void cleanupTestCase() {
        viewer_.reset();
        Prompts::setScript(nullptr);
        dir_.reset();
    }

    void texts();
    void looksFollowTheChannel();
    void twoFilesPlayPauseStepAndEnd();
    void streamHasTheSpeedMenu();
    void plainWindowHasTheSameControls();
};

// The texts: channel, the frame's time and date (a placeholder for no date), the speeds.
void PlaybackPanelTest::texts() {
    QCOMPARE(channelNumberText(1), QStringLiteral("# 1"));
    QCOMPARE(channelNumberText(12), QStringLiteral("#12"));
    QCOMPARE(frameTimeText(at(2026, 12, 1, 9, 5, 3, 7)), QStringLiteral("09:05:03.007"));
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    QCOMPARE(frameDateText(at(2026, 12, 1, 9, 5, 3, 7), locale),
             locale.toString(QDate(2026, 12, 1), QLocale::ShortFormat));
    QCOMPARE(frameDateText(fsv::SystemTime{}, locale), QStringLiteral("0/0/00"));  // 2/2/00
    const struct {
        int value;
        bool slow;
        const char* text;
    } speeds[] = {{1, false, "x 1"}, {1, true, "x 1"},  {2, true, "x1/2"}, {4, true, "x1/4"},
                  {8, true, "x1/8"}, {2, false, "x 2"}, {5, false, "x 5"}, {32, false, "x32"}};
    for (const auto& s : speeds) QCOMPARE(speedText(s.value, s.slow), QString::fromLatin1(s.text));
}

// The looks of the nine playback buttons and the two save buttons for each state of a channel.
void PlaybackPanelTest::looksFollowTheChannel() {
    fsv::playback::PlayStatus playing;
    playing.frameCount = 100;
    playing.position = 40;
    auto paused = playing;
    paused.paused = true;
    auto start = paused;
    start.position = 0;
    auto end = paused;
    end.atEnd = true;
    end.position = 99;
    auto stream = paused;
    stream.local = false;
    for (auto* s : {&playing, &paused, &start, &end}) s->local = true;
    const struct {
        const char* name;
        std::optional<fsv::playback::PlayStatus> status;
        std::array<int, 9> play;
        int clip, picture;
    } rows[] = {
        {"none", std::nullopt, {0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0},
        {"playing", playing, {3, -1, 0, -1, 0, -1, -1, -1, -1}, 0, 0},
        {"paused", paused, {-1, 3, -1, -1, -1, -1, -1, -1, -1}, -1, -1},
        {"at the start", start, {-1, 3, 0, -1, 0, -1, -1, -1, -1}, -1, -1},
        {"stopped at the end", end, {-1, 3, -1, 0, -1, 0, 0, 0, -1}, -1, -1},
        {"paused stream", stream, {-1, 3, -1, -1, -1, -1, -1, -1, -1}, 0, -1},
    };
    for (const auto& r : rows) {
        const PanelLooks l = looksFor(r.status);
        QVERIFY2(l.play == r.play, r.name);
        QVERIFY2(l.saveClip == r.clip && l.savePicture == r.picture, r.name);
        QCOMPARE(l.slider, r.status.has_value());
    }
}

// Two local files play in their panels; the panel pauses one, steps it both ways and seeks it
// (the panel then shows exactly that decoded frame), runs it to its last frame, changes speeds,
// runs it without pacing while one-frame-forward is held, saves its picture and closes it.
void PlaybackPanelTest::twoFilesPlayPauseStepAndEnd() {
    viewer_ = std::make_unique<Viewer>();
    viewer_->start();
    MainWindow& w = window();
    QVERIFY(w.skin());
    ChannelView* view = w.channelView();
    // No channel: everything off, the reset texts.
    QCOMPARE(looks(), (std::array<int, 9>{}));
    QCOMPARE(panel().text(PlaybackPanel::kChannelText), QStringLiteral("# 0"));
    QCOMPARE(panel().text(PlaybackPanel::kTimeText), QStringLiteral("00:00:00.000"));
    QCOMPARE(panel().text(PlaybackPanel::kSpeedText), QStringLiteral("x 1"));
    auto* slider = w.findChild<QAbstractSlider*>(QStringLiteral("positionSlider"));
    QVERIFY(slider && !slider->isEnabled());
    QCOMPARE(button(PlaybackPanel::kForward)->accessibleName().left(10),
             QStringLiteral("Next Frame"));
    // The timeline is drawn in the colours of the skin's playback status panel.
    w.timelineAction()->trigger();
    {
        const auto* info = w.findChild<::fsv::ui::skin::SkinPanel*>(QStringLiteral("playbackInfo"));
        QVERIFY(info);
        const TimelineColours& c = w.timeline()->colours();
        QCOMPARE(c.local, info->text(PlaybackPanel::kChannelText).colour);
        QCOMPARE(c.text, info->text(PlaybackPanel::kDateText).colour);
        QCOMPARE(c.recorder, info->text(PlaybackPanel::kSpeedText).colour);
        const QImage& back = info->background();
        QCOMPARE(c.background, back.pixelColor(back.width() / 2, back.height() / 2));
        QVERIFY(c.local != TimelineColours{}.local && c.background != TimelineColours{}.background);
    }
    w.timelineAction()->trigger();
    // The skin's sync button: off without a local file.
    auto* sync = w.skin()->button(PlaybackPanel::kSaveLine, PlaybackPanel::kSyncButton);
    QVERIFY(sync);
    QCOMPARE(sync->accessibleName(), QStringLiteral("Sync"));
    QVERIFY(!sync->isEnabled());
    QTest::mouseClick(sync, Qt::LeftButton);
    QVERIFY(!viewer_->backend().synced());

    script_.openFiles = {mjpeg_, mpeg4_};
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    for (int p : {0, 1}) {
        QTRY_VERIFY_WITH_TIMEOUT(view->panel(p)->showing(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(view->panel(p)->picturesPainted() > 2, kWait);
    }
    // Each file takes the lowest free channel once it has opened: either may come first.
    const auto files = viewer_->backend().channelFiles();
    QCOMPARE(files.size(), size_t(2));
    const int mpegPanel = files[1] == mpeg4_ ? 1 : 0, mjpegPanel = 1 - mpegPanel;
    QCOMPARE(files[size_t(mpegPanel)], mpeg4_);
    view->setActivePanel(mpegPanel);
    QCOMPARE(panel().text(PlaybackPanel::kChannelText), channelNumberText(mpegPanel + 1));
    QTRY_COMPARE_WITH_TIMEOUT(looks(), (std::array<int, 9>{3, -1, 0, -1, 0, -1, -1, -1, -1}),
                              kWait);
    QVERIFY(slider->isEnabled());
    QCOMPARE(slider->maximum(), int(status().frameCount) - 1);
    // A click on the skin's sync button plays both files in step and shows it; the next leaves
    // it, and each file plays on by itself.
    const auto syncLook = [&] {
        return panel().look(PlaybackPanel::kSaveLine, PlaybackPanel::kSyncButton);
    };
    QVERIFY(sync->isEnabled());
    QCOMPARE(syncLook(), int(::fsv::ui::skin::LookNormal));
    QTest::mouseClick(sync, Qt::LeftButton);
    QVERIFY(viewer_->backend().synced());
    QVERIFY(panel().syncAction()->isChecked());
    QCOMPARE(syncLook(), int(::fsv::ui::skin::LookPlay));
    QTRY_VERIFY_WITH_TIMEOUT(status().synced, kWait);
    QTest::mouseClick(sync, Qt::LeftButton);
    QVERIFY(!viewer_->backend().synced());
    QCOMPARE(syncLook(), int(::fsv::ui::skin::LookNormal));
    QTRY_VERIFY_WITH_TIMEOUT(!status().synced && !status().paused, kWait);

    // Pause by its button: the paused looks, the picture can be saved.
    QTest::mouseClick(button(PlaybackPanel::kPause), Qt::LeftButton);
    QVERIFY(status().paused);
    QCOMPARE(button(PlaybackPanel::kPause)->look(), 3);
    QCOMPARE(w.skin()->button(PlaybackPanel::kSaveLine, PlaybackPanel::kSavePictureButton)->look(),
             -1);

    // Seek by the slider, then one frame forward and back by the buttons.
    slider->setValue(13);
    QTRY_VERIFY2_WITH_TIMEOUT(showsFrame(mpeg4_, 13), qPrintable(unlike(mpeg4_, 13)), kWait);
    {
        DisplayPanel* p = view->panel(mpegPanel);
        QVERIFY(grabbed(p) != rendered(p, referenceFrame(mpeg4_, 14, p)));  // frames differ
    }
    QTest::mouseClick(button(PlaybackPanel::kForward), Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(showsFrame(mpeg4_, 14), qPrintable(unlike(mpeg4_, 14)), kWait);
    QTest::mouseClick(button(PlaybackPanel::kBack), Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(showsFrame(mpeg4_, 13), qPrintable(unlike(mpeg4_, 13)), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(slider->value(), 13, kWait);
    // The same steps from the keyboard.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_Right, Qt::ControlModifier);
    QTRY_VERIFY2_WITH_TIMEOUT(showsFrame(mpeg4_, 14), qPrintable(unlike(mpeg4_, 14)), kWait);
    QTest::keyClick(&w, Qt::Key_Left, Qt::ControlModifier);
    QTRY_VERIFY2_WITH_TIMEOUT(showsFrame(mpeg4_, 13), qPrintable(unlike(mpeg4_, 13)), kWait);

    // Dragging the thumb: the channel follows on the ticks of timer 314 while it is held, and
    // the release applies the final position.
    {
        auto* skinSlider = static_cast<::fsv::ui::skin::SkinSlider*>(slider);
        const QPoint grab = skinSlider->thumbRect().center();
        QTest::mousePress(slider, Qt::LeftButton, {}, grab);
        QTest::mouseMove(slider, QPoint(slider->width() / 2, grab.y()));
        const int target = slider->value();
        QVERIFY(target > 20);
        QTRY_COMPARE_WITH_TIMEOUT(status().position, uint32_t(target), kWait);
        QTest::mouseMove(slider, QPoint(slider->width() / 3, grab.y()));
        const int last = slider->value();
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() / 3, grab.y()));
        QTRY_VERIFY2_WITH_TIMEOUT(showsFrame(mpeg4_, uint32_t(last)),
                                  qPrintable(unlike(mpeg4_, uint32_t(last))), kWait);
    }
    slider->setValue(13);
    QTRY_VERIFY2_WITH_TIMEOUT(showsFrame(mpeg4_, 13), qPrintable(unlike(mpeg4_, 13)), kWait);
    // The texts follow once the channel's notice has come through.
    QTRY_COMPARE_WITH_TIMEOUT(panel().text(PlaybackPanel::kTimeText), frameTimeText(status().time),
                              kWait);
    QCOMPARE(panel().text(PlaybackPanel::kDateText), frameDateText(status().time));
    QCOMPARE(panel().dateTimeText(),
             frameDateText(status().time) + QStringLiteral("  ") + frameTimeText(status().time));

    // The channel's pop-up menu while paused: Disconnect, Play and both saves.
    {
        QMenu menu;
        QVERIFY(w.fillChannelMenu(menu));
        QStringList items;
        for (QAction* a : menu.actions()) items << a->text();
        QCOMPARE(items,
                 (QStringList{"&Disconnect", "&Play", "&Save As BMP File", "Save as &AVI File"}));
    }

    // The picture on show as a bitmap, with the caption and time lines on it.
    const fs::path shot = fs::path(dir_->path().toStdString()) / "shot.bmp";
    script_.saveFiles = {shot};
    QTest::mouseClick(w.skin()->button(PlaybackPanel::kSaveLine, PlaybackPanel::kSavePictureButton),
                      Qt::LeftButton);
    QCOMPARE(fs::file_size(shot), uintmax_t(54 + 704 * 480 * 3));
    const QImage saved =
        QImage(QString::fromStdString(shot.string())).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(saved.size(), QSize(704, 480));
    {
        // The frame on show, with the caption and time lines written over its bottom left.
        const auto frame = referenceFrame(mpeg4_, 13);
        const QImage picture =
            QImage(frame.bits.data(), frame.width, frame.height, frame.stride, QImage::Format_RGB32)
                .copy();
        const QRect top(0, 0, 704, 400), lines(0, 430, 200, 50);
        QCOMPARE(saved.copy(top), picture.copy(top));
        QVERIFY(saved.copy(lines) != picture.copy(lines));
    }

    // Save as AVI File: the clip dialog of the paused file. Closing it leaves the clip button
    // as it was; a clip written brings it back once the clip component has ended.
    auto* clipButton = w.skin()->button(PlaybackPanel::kSaveLine, PlaybackPanel::kSaveClipButton);
    QCOMPARE(clipButton->look(), -1);
    inModalDialog([](QWidget* d) { QMetaObject::invokeMethod(d, "reject"); });
    QTest::mouseClick(clipButton, Qt::LeftButton);
    QCOMPARE(clipButton->look(), -1);
    const fs::path clip = fs::path(dir_->path().toStdString()) / "clip.avi";
    inModalDialog([&](QWidget* d) {
        d->findChild<QSpinBox*>(QStringLiteral("lastFrame"))->setValue(10);
        d->findChild<QLineEdit*>(QStringLiteral("clipPath"))
            ->setText(QString::fromStdString(clip.string()));
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("save")), Qt::LeftButton);
    });
    QTest::mouseClick(clipButton, Qt::LeftButton);  // returns when the dialog has closed
    QTRY_COMPARE_WITH_TIMEOUT(clipButton->look(), -1, kWait);
    {
        fsv::media::AviReader r;
        QCOMPARE(r.open(clip), 11);  // frames 0 ... 10
    }

    // The last frame: stopped at the end.
    QTest::mouseClick(button(PlaybackPanel::kLast), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(status().atEnd, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(looks(), (std::array<int, 9>{-1, 3, -1, 0, -1, 0, 0, 0, -1}), kWait);
    QTRY_VERIFY2_WITH_TIMEOUT(showsFrame(mpeg4_, status().frameCount - 1), qPrintable(shown_),
                              kWait);
    QTRY_COMPARE_WITH_TIMEOUT(slider->value(), slider->maximum(), kWait);

    // The other file: paused, three steps slower, then faster up to its fastest.
    view->setActivePanel(mjpegPanel);
    QCOMPARE(panel().text(PlaybackPanel::kChannelText), channelNumberText(mjpegPanel + 1));
    QTest::mouseClick(button(PlaybackPanel::kPlay), Qt::LeftButton);  // playing: pauses
    QVERIFY(status().paused);
    QStringList shown;
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(button(PlaybackPanel::kSlower), Qt::LeftButton);
        shown << panel().text(PlaybackPanel::kSpeedText);
    }
    for (int i = 0; i < 9; ++i) {
        QTest::mouseClick(button(PlaybackPanel::kFaster), Qt::LeftButton);
        shown << panel().text(PlaybackPanel::kSpeedText);
    }
    QCOMPARE(shown, (QStringList{"x1/2", "x1/4", "x1/8", "x1/4", "x1/2", "x 1", "x 2", "x 4", "x 8",
                                 "x16", "x32", "x32"}));
    for (int i = 0; i < 5; ++i) QTest::mouseClick(button(PlaybackPanel::kSlower), Qt::LeftButton);
    QCOMPARE(panel().text(PlaybackPanel::kSpeedText), QStringLiteral("x 1"));
    // A local file has no speed menu; the menu of a stream ticks the factor on show.
    QMenu speeds;
    panel().fillSpeedMenu(speeds);
    QCOMPARE(speeds.actions().size(), qsizetype(5));
    QCOMPARE(speeds.actions().at(0)->text(), QStringLiteral("x 1"));
    QVERIFY(speeds.actions().at(0)->isChecked() && !speeds.actions().at(0)->isEnabled());
    QVERIFY(speeds.actions().at(4)->isEnabled());

    // Holding one-frame-forward: after timer 425 the paused file runs without pacing until the
    // button is let go; the release also steps once.
    QTest::mouseClick(button(PlaybackPanel::kFirst), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status().position, 0u, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(button(PlaybackPanel::kBack)->look(), 0, kWait);  // at the start
    QTest::mousePress(button(PlaybackPanel::kForward), Qt::LeftButton);
    QVERIFY(panel().holding());
    QTRY_VERIFY_WITH_TIMEOUT(status().position > 10, kWait);
    QTest::mouseRelease(button(PlaybackPanel::kForward), Qt::LeftButton);
    QVERIFY(!panel().holding());
    QTest::qWait(300);  // a frame on its way and the release's step land
    const uint32_t after = status().position;
    QTest::qWait(300);
    QCOMPARE(status().position, after);  // paused again

    // Close by its button, after the question: the panel empties and the looks go off.
    script_.answers = {fsv::ui::BoxAnswer::Yes};
    QTest::mouseClick(button(PlaybackPanel::kClose), Qt::LeftButton);
    QVERIFY(script_.saw(kCloseChannelQuestion));
    QTRY_VERIFY_WITH_TIMEOUT(!view->panel(mjpegPanel)->showing(), kWait);
    QCOMPARE(looks(), (std::array<int, 9>{}));
    QCOMPARE(panel().text(PlaybackPanel::kChannelText), QStringLiteral("# 0"));
    QVERIFY(!slider->isEnabled());
}

// A stream: its speed steps, and a click on the speed opens the menu x 1 ... x 5 with the
// factor on show ticked; its channel menu offers no clip.
void PlaybackPanelTest::streamHasTheSpeedMenu() {
    viewer_.reset();
    viewer_ = std::make_unique<Viewer>();
    viewer_->start();
    MainWindow& w = window();
    QVERIFY(w.skin());
    FakeStream stream;
    auto& table = viewer_->backend().channels();
    const int position = table.take(fsv::playback::ChannelKind::RemoteStream, &stream);
    QCOMPARE(position, 0);
    w.channelView()->setActivePanel(0);
    panel().setChannel(w.currentChannel());
    QCOMPARE(looks(), (std::array<int, 9>{3, -1, 0, -1, 0, -1, -1, -1, -1}));

    QStringList shown;
    auto click = [&](int index) {
        QTest::mouseClick(button(index), Qt::LeftButton);
        shown << panel().text(PlaybackPanel::kSpeedText);
    };
    for (int i = 0; i < 4; ++i) click(PlaybackPanel::kSlower);
    for (int i = 0; i < 8; ++i) click(PlaybackPanel::kFaster);
    QCOMPARE(shown, (QStringList{"x1/2", "x1/4", "x1/8", "x1/8", "x1/4", "x1/2", "x 1", "x 2",
                                 "x 3", "x 4", "x 5", "x 5"}));

    // The menu at the speed item: the factor on show ticked and not choosable; x 3 chosen.
    auto* info = w.findChild<::fsv::ui::skin::SkinPanel*>(QStringLiteral("playbackInfo"));
    QVERIFY(info);
    const QPoint speed = info->text(PlaybackPanel::kSpeedText).rect.center();
    auto choose = [&](int entry, QStringList& ticks) {
        auto* timer = new QTimer(this);
        timer->setInterval(20);
        connect(timer, &QTimer::timeout, this, [timer, entry, &ticks] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible()) return;
            timer->stop();
            timer->deleteLater();
            for (QAction* a : menu->actions())
                if (a->isChecked()) ticks << a->text() + (a->isEnabled() ? "" : " (off)");
            QAction* a = menu->actions().at(entry - 1);
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
        });
        timer->start();
        QTest::mouseClick(info, Qt::LeftButton, {}, speed);
    };
    QStringList ticks;
    choose(3, ticks);
    QCOMPARE(ticks, QStringList{"x 5 (off)"});
    QCOMPARE(stream.fast, 3);
    QCOMPARE(panel().text(PlaybackPanel::kSpeedText), QStringLiteral("x 3"));
    // A stream that reports one half straight after x 2: the menu still ticks x 2, the last
    // factor shown.
    click(PlaybackPanel::kSlower);  // x 2
    stream.fast = 1;
    stream.slow = 2;
    panel().refresh();
    QCOMPARE(panel().text(PlaybackPanel::kSpeedText), QStringLiteral("x1/2"));
    ticks.clear();
    choose(5, ticks);
    QCOMPARE(ticks, QStringList{"x 2 (off)"});
    QCOMPARE(panel().text(PlaybackPanel::kSpeedText), QStringLiteral("x 5"));

    // Paused: Disconnect, Play and the picture, but no clip of a stream.
    QTest::mouseClick(button(PlaybackPanel::kPause), Qt::LeftButton);
    QVERIFY(stream.paused);
    QMenu menu;
    QVERIFY(w.fillChannelMenu(menu));
    QStringList items;
    for (QAction* a : menu.actions()) items << a->text();
    QCOMPARE(items, (QStringList{"&Disconnect", "&Play", "&Save As BMP File"}));
    QVERIFY(!viewer_->backend().clipSource(position));
    QCOMPARE(w.skin()->button(PlaybackPanel::kSaveLine, PlaybackPanel::kSaveClipButton)->look(), 0);
    table.giveBack(position);
}

// Without a skin the window carries a plain strip of the same controls, driven the same way.
void PlaybackPanelTest::plainWindowHasTheSameControls() {
    viewer_.reset();
    qputenv("FARSIGHT_HOME", dir_->filePath(QStringLiteral("plain")).toUtf8());  // no skin there
    viewer_ = std::make_unique<Viewer>();
    viewer_->start();
    MainWindow& w = window();
    QVERIFY(!w.skin());
    auto* bar = w.findChild<QWidget*>(QStringLiteral("playbackBar"));
    QVERIFY(bar && bar->isVisible());
    auto plain = [&](int index) {
        return w.findChild<QToolButton*>(QStringLiteral("plainButton3_%1").arg(index));
    };
    QVERIFY(plain(PlaybackPanel::kPlay) && !plain(PlaybackPanel::kPlay)->isEnabled());
    QCOMPARE(plain(PlaybackPanel::kForward)->accessibleName().left(10),
             QStringLiteral("Next Frame"));

    script_.openFiles = {mjpeg_};
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.channelView()->panel(0)->showing(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(plain(PlaybackPanel::kPlay)->isChecked(), kWait);  // playing
    QTest::mouseClick(plain(PlaybackPanel::kPause), Qt::LeftButton);
    QVERIFY(status().paused);
    QVERIFY(plain(PlaybackPanel::kPause)->isChecked() && !plain(PlaybackPanel::kPlay)->isChecked());
    auto* slider = w.findChild<QAbstractSlider*>(QStringLiteral("positionSlider"));
    QVERIFY(slider && slider->isEnabled());
    slider->setValue(5);
    QTRY_VERIFY2_WITH_TIMEOUT(showsFrame(mjpeg_, 5), qPrintable(unlike(mjpeg_, 5)), kWait);
    QTest::mouseClick(plain(PlaybackPanel::kForward), Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(showsFrame(mjpeg_, 6), qPrintable(unlike(mjpeg_, 6)), kWait);
    QCOMPARE(w.findChild<QToolButton*>(QStringLiteral("playbackText0"))->text(),
             QStringLiteral("# 1"));
    QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QToolButton*>(QStringLiteral("playbackText2"))->text(),
                              frameTimeText(status().time), kWait);
}

QTEST_MAIN(PlaybackPanelTest)
#include "PlaybackPanelTest.moc"
