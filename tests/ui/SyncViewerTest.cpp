// Local files playing in step, through the plain window's controls: three recordings of three
// cameras that overlap in time are opened through Open AVI, "Sync" is turned on, and each
// panel's frame time (read from its accessible description) is checked against the files' own
// time stamps after a seek, steps and a change of speed.

#include <QAbstractSlider>
#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDialogButtonBox>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "ReferenceFrame.h"
#include "app/Viewer.h"
#include "media/AviReader.h"
#include "recordings/playback/SyncClock.h"
#include "sim/Generate.h"
#include "ui/Prompts.h"
#include "ui/lists/EventListWindow.h"
#include "ui/panels/ChannelView.h"
#include "ui/panels/Snapshot.h"
#include "ui/playback/PlaybackPanel.h"
#include "ui/playback/TimelineView.h"

namespace fs = std::filesystem;
using fsv::app::Viewer;
using namespace fsv::ui;

namespace {

constexpr int kWait = 20000;  // generous: a loaded two-core machine

// Every frame's stamp of a file, read apart from the player.
std::vector<int64_t> stampsOf(const fs::path& file) {
    std::vector<int64_t> out;
    fsv::media::AviReader r;
    const int n = r.open(file);
    fsv::SystemTime first{};
    r.readTimeStamp(0, first);
    for (int i = 0; i < n; ++i) {
        fsv::SystemTime t = first;
        r.readTimeStamp(i, t);
        out.push_back(fsv::playback::stampMs(t));
    }
    return out;
}

QString dateTime(int64_t ms) {
    const auto t = fsv::playback::stampTime(ms);
    return frameDateText(t) + QStringLiteral("  ") + frameTimeText(t);
}

}  // namespace

class SyncViewerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    PromptScript script_;
    std::unique_ptr<Viewer> viewer_;
    std::map<int, std::vector<int64_t>> stamps_;  // by channel position
    fs::path fourth_;

    MainWindow& window() { return viewer_->window(); }
    template <class T>
    T* child(const char* name) {
        return window().findChild<T*>(QString::fromLatin1(name));
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
    void click(const char* name) {
        auto* b = child<QToolButton>(name);
        QVERIFY2(b && b->isEnabled() && b->isVisible(), name);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    // What every panel should say with the clock at `t`: its frame at or just before it, or
    // "No recording" outside its recording (kept on its last picture).
    QString expected(int position, int64_t t) const {
        const auto& s = stamps_.at(position);
        if (t < s.front() || t > s.back() + 100) return QStringLiteral("No recording");
        return dateTime(s[size_t(fsv::playback::frameAtOrBefore(s, t))]);
    }
    bool panelsAt(int64_t t, QString* seen) {
        ChannelView* view = window().channelView();
        bool all = true;
        seen->clear();
        for (auto& [position, s] : stamps_) {
            DisplayPanel* p = view->panel(position);
            const QString d = p->accessibleDescription();
            const QString want = expected(position, t);
            *seen += QStringLiteral("[%1: %2 / want %3] ").arg(position).arg(d, want);
            all = all && d.startsWith(p->caption().trimmed() + QStringLiteral(", ")) &&
                  d.endsWith(want);
        }
        return all;
    }

  private Q_SLOTS:
    void initTestCase() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        qputenv("FARSIGHT_HOME", dir_->filePath(QStringLiteral("home")).toUtf8());
        qputenv("FARSIGHT_CONFIG", dir_->filePath(QStringLiteral("config")).toUtf8());
        Prompts::setScript(&script_);
    }
    void cleanupTestCase() {
        viewer_.reset();
        Prompts::setScript(nullptr);
        dir_.reset();
    }

    void threeCamerasPlayInStep();
    void timelineShowsTheRecorderAndTheLocalFiles();
};

void SyncViewerTest::threeCamerasPlayInStep() {
    // Each camera starts one second after the one before: all three overlap for a while.
    const fs::path rec = fs::path(dir_->path().toStdString()) / "rec";
    fsv::sim::GenerateOptions o;
    o.cameras = 4;  // the fourth joins later, on the timeline
    o.days = 1;
    o.eventsPerDay = 1;
    o.secondsPerEvent = 4;
    o.audioChannels = 0;
    o.cameraOffsetSeconds = 1;
    std::string error;
    QVERIFY2(fsv::sim::generateRecordings(rec, o, &error), error.c_str());
    std::vector<fs::path> files;
    for (const char* cam : {"Cam01", "Cam02", "Cam03"})
        files.push_back(fsv::playback::test::firstAvi(rec / cam));
    fourth_ = fsv::playback::test::firstAvi(rec / "Cam04");

    viewer_ = std::make_unique<Viewer>();
    viewer_->start();
    MainWindow& w = window();
    QVERIFY(!w.skin());  // the plain window: its control strip carries the toggle
    QAction* sync = child<QAction>("syncAction");
    QVERIFY(sync && !sync->isEnabled());  // no local file yet
    QCOMPARE(child<QToolButton>("syncButton")->accessibleName(), QStringLiteral("Sync"));
    QCOMPARE(sync->shortcut(), QKeySequence(QStringLiteral("Ctrl+Y")));

    script_.openFiles = {files.begin(), files.end()};
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    ChannelView* view = w.channelView();
    for (int p : {0, 1, 2}) QTRY_VERIFY_WITH_TIMEOUT(view->panel(p)->picturesPainted() > 0, kWait);
    const auto open = viewer_->backend().channelFiles();
    QCOMPARE(open.size(), size_t(3));
    int middle = -1;  // the channel of camera 2
    for (int p = 0; p < 3; ++p) {
        stamps_[p] = stampsOf(open[size_t(p)]);
        QVERIFY(stamps_[p].size() > 30);
        if (open[size_t(p)] == files[1]) middle = p;
    }
    QVERIFY(middle >= 0);
    view->setActivePanel(middle);
    PlaybackPanel& panel = *w.playbackPanel();
    QTRY_VERIFY(sync->isEnabled());
    click("plainButton3_1");  // pause
    QTRY_VERIFY(viewer_->backend().channelStatus(middle)->paused);

    click("syncButton");
    QVERIFY(sync->isChecked());
    QVERIFY(viewer_->backend().synced());
    for (int p = 0; p < 3; ++p) QVERIFY(viewer_->backend().channelStatus(p)->synced);

    const auto& active = stamps_[middle];
    QString seen;
    // The slider: camera 2's frame 5 is before camera 3 has started.
    auto* slider = child<QAbstractSlider>("positionSlider");
    slider->setValue(5);
    QTRY_VERIFY2_WITH_TIMEOUT(panelsAt(active[5], &seen), qPrintable(seen), kWait);
    QVERIFY(seen.contains(QStringLiteral("No recording / want No recording")));
    QCOMPARE(panel.text(PlaybackPanel::kTimeText),
             frameTimeText(fsv::playback::stampTime(active[5])));

    // Into the stretch where all three record, then one frame on and two back.
    slider->setValue(int(active.size()) / 2);
    QTRY_VERIFY2_WITH_TIMEOUT(panelsAt(active[active.size() / 2], &seen), qPrintable(seen), kWait);
    QVERIFY(!seen.contains(QStringLiteral("No recording")));
    click("plainButton3_3");  // next frame: the active channel's next frame is the clock
    QTRY_VERIFY2_WITH_TIMEOUT(panelsAt(active[active.size() / 2 + 1], &seen), qPrintable(seen),
                              kWait);
    click("plainButton3_2");
    click("plainButton3_2");
    QTRY_VERIFY2_WITH_TIMEOUT(panelsAt(active[active.size() / 2 - 1], &seen), qPrintable(seen),
                              kWait);

    // Faster acts on all: every channel reports the clock's speed. Play a little, pause, and
    // step once: all three stand on the frames of the new clock again.
    click("plainButton3_7");
    click("plainButton3_7");
    QCOMPARE(panel.text(PlaybackPanel::kSpeedText), QStringLiteral("x 4"));
    for (int p = 0; p < 3; ++p) QCOMPARE(viewer_->backend().channelStatus(p)->speed, 4);
    click("plainButton3_0");  // play
    QTRY_VERIFY_WITH_TIMEOUT(
        viewer_->backend().channelStatus(middle)->position > active.size() / 2 + 3, kWait);
    click("plainButton3_1");  // pause
    QTRY_VERIFY(viewer_->backend().channelStatus(middle)->paused);
    QTest::qWait(100);
    const uint32_t at = viewer_->backend().channelStatus(middle)->position;
    QVERIFY(at + 1 < active.size());
    click("plainButton3_3");
    QTRY_VERIFY2_WITH_TIMEOUT(panelsAt(active[at + 1], &seen), qPrintable(seen), kWait);

    // Last: camera 1 has ended by then.
    click("plainButton3_5");
    QTRY_VERIFY2_WITH_TIMEOUT(panelsAt(active.back(), &seen), qPrintable(seen), kWait);

    // The shortcut leaves sync: each channel stays on its frame, paused, and plays on its own.
    std::map<int, fsv::playback::PlayStatus> before;
    for (int p = 0; p < 3; ++p) before[p] = *viewer_->backend().channelStatus(p);
    sync->trigger();
    QVERIFY(!viewer_->backend().synced());
    QVERIFY(!sync->isChecked());
    QTest::qWait(200);
    for (int p = 0; p < 3; ++p) {
        const auto s = viewer_->backend().channelStatus(p);
        QVERIFY(!s->synced && s->paused && !s->noRecording);
        QCOMPARE(s->position, before[p].position);
        QCOMPARE(fsv::playback::stampMs(s->time), fsv::playback::stampMs(before[p].time));
        QVERIFY(view->panel(p)->accessibleDescription().endsWith(
            dateTime(fsv::playback::stampMs(s->time))));
    }
}

// The timeline (Ctrl+T): a row per camera of the recorder the event list window shows, with a
// start mark per recording, and a bar per local file over its true extent; a click on a bar
// seeks that channel, a click on a mark asks to play that recording. With FSV_SCREENSHOT_DIR
// set it writes timeline.png and sync.png (four panels in step) there.
void SyncViewerTest::timelineShowsTheRecorderAndTheLocalFiles() {
    QVERIFY(viewer_);
    MainWindow& w = window();
    // A day of a recorder as the event list holds it: two cameras, recordings through the day
    // and one beside the local files.
    auto& list = viewer_->backend().controller().eventList();
    const int r =
        list.rebuildRecorder(-1, fsv::RecorderInfo{1, "Yard DVR", "127.0.0.1", "", "", ""});
    for (int cam = 1; cam <= 2; ++cam) {
        const int ch =
            list.addChannel(r, cam == 1 ? "Gate" : "Yard", fsv::cameraNumber(cam), false);
        const int day = list.addDay(r, ch, "20261201", 0);
        for (const char* t : {"001500", "031000", "064500", "080003", "101500", "134000", "170000",
                              "203000", "225500"})
            if ((t[1] - '0') % 2 == cam % 2 || cam == 1) list.addEvent(r, ch, day, t, 1000);
    }
    viewer_->eventList().showRecorder(r);
    std::optional<fsv::EventRef> asked;
    w.onTimelineRecording = [&](const fsv::EventRef& ref) { asked = ref; };

    // In step again, and a fourth camera opened meanwhile joins the three.
    click("syncButton");
    QVERIFY(viewer_->backend().synced());
    script_.openFiles = {fourth_};
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    ChannelView* view = w.channelView();
    QTRY_VERIFY_WITH_TIMEOUT(view->panel(3)->showing(), kWait);
    // A file still opening has no play status yet.
    QTRY_VERIFY_WITH_TIMEOUT(
        viewer_->backend().channelStatus(3).value_or(fsv::playback::PlayStatus{}).synced, kWait);
    QCOMPARE(viewer_->backend().channelFiles().at(3), fourth_);
    stamps_[3] = stampsOf(fourth_);

    QAction* show = w.timelineAction();
    QCOMPARE(show->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
    TimelineView* tl = w.timeline();
    QVERIFY(!tl->isVisible());
    show->trigger();
    QVERIFY(tl->isVisible());
    QCOMPARE(tl->accessibleName(), QStringLiteral("Timeline"));
    QTRY_COMPARE_WITH_TIMEOUT(int(tl->rows().size()), 6, kWait);
    QCOMPARE(QString::fromStdString(tl->rows()[0].label), QStringLiteral("Yard DVR Gate"));
    QCOMPARE(int(tl->rows()[0].spans.size()), 9);
    QVERIFY(!tl->rows()[0].spans[0].end);  // length unknown: a start mark
    const auto& bar = tl->rows()[2].spans.at(0);
    QCOMPARE(bar.position, 0);
    QCOMPARE(bar.start, stamps_[0].front());
    QCOMPARE(*bar.end, stamps_[0].back());
    QVERIFY(tl->cursorTime());

    // Zoom in on the local files, then a click in the middle of channel 3's bar seeks there.
    tl->fitAll();
    for (int i = 0; i < 12; ++i) QTest::keyClick(tl, Qt::Key_Plus);
    tl->timeWindow().fit(stamps_[0].front(), stamps_[2].back());
    tl->update();
    const int64_t target = (stamps_[2].front() + stamps_[2].back()) / 2;
    QTest::mouseClick(tl, Qt::LeftButton, {}, tl->pointOf(4, target));
    QString seen;
    QTRY_VERIFY2_WITH_TIMEOUT(
        panelsAt(stamps_[2][size_t(fsv::playback::frameAtOrBefore(stamps_[2], target))], &seen),
        qPrintable(seen), kWait);

    // Home shows the whole day; a click on a recorder's mark asks for that recording.
    QTest::keyClick(tl, Qt::Key_Home);
    const auto& mark = tl->rows()[0].spans[4];  // 10:15:00
    QTest::mouseClick(tl, Qt::LeftButton, {}, tl->pointOf(0, mark.start));
    QVERIFY(asked && *asked == mark.event);
    // The keyboard reaches it too: Page Up/Down walk the marks, Enter acts.
    asked.reset();
    QTest::keyClick(tl, Qt::Key_PageUp);  // 08:00:03, the one before
    QTest::keyClick(tl, Qt::Key_Enter);
    QVERIFY(asked && *asked == tl->rows()[0].spans[3].event);
    QVERIFY(tl->accessibleDescription().contains(QStringLiteral("Yard DVR Gate")));

    // The moment: one PNG of the four panels, each with its caption, date and time.
    QAction* moment = w.saveMomentAction();
    QVERIFY(moment->isEnabled());
    const fs::path png = fs::path(dir_->path().toStdString()) / "moment.png";
    script_.saveFiles = {png};
    // Then the small dialog: a clip of each camera, four seconds around the clock.
    inModalDialog([](QWidget* d) {
        d->findChild<QSpinBox*>(QStringLiteral("momentSeconds"))->setValue(4);
        QTest::mouseClick(d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
    });
    moment->trigger();
    QImage saved;
    QVERIFY(saved.load(QString::fromStdString(png.string())));
    QCOMPARE(saved.size(), view->size());
    QVERIFY(saved != QImage(saved.size(), saved.format()));
    // The manifest names a clip per camera; each hash is the clip's.
    QFile json(QString::fromStdString((png.parent_path() / "moment.json").string()));
    QVERIFY(json.open(QIODevice::ReadOnly));
    const QJsonArray clips = QJsonDocument::fromJson(json.readAll()).array();
    QCOMPARE(clips.size(), 4);
    for (const auto& v : clips) {
        const QJsonObject o = v.toObject();
        QFile clip(QString::fromStdString(png.parent_path().string()) + QLatin1Char('/') +
                   o[QStringLiteral("file")].toString());
        QVERIFY(clip.open(QIODevice::ReadOnly));
        QCOMPARE(o[QStringLiteral("sha256")].toString(),
                 QString::fromLatin1(
                     QCryptographicHash::hash(clip.readAll(), QCryptographicHash::Sha256).toHex()));
        QVERIFY(o[QStringLiteral("camera")].toString().endsWith(QStringLiteral("Local File")));
        QVERIFY(!o[QStringLiteral("first")].toString().isEmpty());
    }

    if (const QByteArray dir = qgetenv("FSV_SCREENSHOT_DIR"); !dir.isEmpty()) {
        w.resize(1100, 820);
        QTest::qWait(400);
        QVERIFY(tl->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/timeline.png")));
        tl->timeWindow().fit(stamps_[0].front(), stamps_[3].back());
        w.refreshTimeline();
        QTest::qWait(400);
        QVERIFY(w.centralWidget()->grab().save(QString::fromLocal8Bit(dir) +
                                               QStringLiteral("/sync.png")));
        QVERIFY(w.momentImage().save(QString::fromLocal8Bit(dir) + QStringLiteral("/moment.png")));
    }
}

QTEST_MAIN(SyncViewerTest)
#include "SyncViewerTest.moc"
