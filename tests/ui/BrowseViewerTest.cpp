// Browsing and fetching from the program's own windows, offscreen, against recorder-sim: the
// event list window's period dialog, the start of work, the download list and history fed by
// the work list, the connection list's works, its disconnect with a resume file, and loading
// that file again.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "ModalBox.h"
#include "app/Viewer.h"
#include "media/AviReader.h"
#include "platform/UserPort.h"
#include "recordings/download/DownloadSession.h"
#include "recordings/download/StorageLayout.h"
#include "recordings/playback/StoppedStream.h"
#include "sim/Generate.h"
#include "state/ResumeFile.h"
#include "tests/support/Recordings.h"
#include "tests/support/SimProcess.h"
#include "ui/Prompts.h"
#include "ui/dialogs/PeriodDialog.h"
#include "ui/dialogs/SetupDialog.h"
#include "ui/lists/ConnectionListWindow.h"
#include "ui/lists/DownloadHistoryWindow.h"
#include "ui/lists/DownloadListWindow.h"
#include "ui/lists/EventListWindow.h"
#include "ui/panels/ChannelView.h"
#include "ui/panels/DisplayPanel.h"
#include "ui/panels/Snapshot.h"
#include "ui/playback/PlaybackPanel.h"
#include "ui/playback/TimelineView.h"
#include "ui/skin/SkinPanel.h"

namespace fs = std::filesystem;
namespace dl = fsv::download;
using fsv::app::Viewer;
using fsv::test::SimProcess;
using namespace fsv::ui;

namespace {

constexpr int kWait = 30000;       // generous: a loaded two-core machine
constexpr int kDownload = 180000;  // every recording of the period

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One selected event as the download queues take it, with the recorder's file it must equal.
struct Expected {
    dl::WorkItem item;
    fs::path source;
};

}  // namespace

class BrowseViewerTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    PromptScript script_;
    std::unique_ptr<Viewer> viewer_;

    fs::path dir() const { return dir_->path().toStdString(); }
    fs::path home() const { return dir() / "home"; }

    // Two cameras and an audio channel, two days of two events each.
    fs::path makeRecordings() {
        fsv::sim::GenerateOptions gen;
        gen.cameras = 2;
        gen.days = 2;
        gen.eventsPerDay = 2;
        gen.audioChannels = 1;
        std::string error;
        if (!fsv::sim::generateRecordings(dir() / "rec", gen, &error))
            qWarning("%s", error.c_str());
        return dir() / "rec";
    }

    void startViewer() {
        viewer_ = std::make_unique<Viewer>();
        viewer_->start();
    }

    int connections() { return static_cast<int>(viewer_->backend().sessions().size()); }

    void connectTo(const SimProcess& sim) {
        fsv::ConnectRequest r;
        r.address = "127.0.0.1";
        r.port = sim.port();
        QVERIFY(viewer_->backend().connect(r));
        QTRY_COMPARE_WITH_TIMEOUT(viewer_->eventList().recorders().count(), 1, kWait);
    }

    // The period over both days and every channel, chosen in the dialog the event list window
    // opens; its days are asked for and their events selected. Returns the start's end.
    void choosePeriod(QSignalSpy& started, int channels = 3, int selected = 12) {
        EventListWindow& events = viewer_->eventList();
        if (!events.isVisible()) viewer_->window().runCommand(cmd::kNormal);
        QVERIFY(events.isVisible());
        QTest::mouseClick(events.findChild<QPushButton*>("periodButton"), Qt::LeftButton);
        PeriodDialog& period = viewer_->periodDialog();
        QTRY_VERIFY(period.isVisible());
        QCOMPARE(period.findChild<QTreeWidget*>("cameraList")->topLevelItemCount(), channels);
        QTest::mouseClick(period.findChild<QPushButton*>("selectAllButton"), Qt::LeftButton);
        period.setPeriod(QDateTime(QDate(2026, 11, 30), QTime(0, 0)),
                         QDateTime(QDate(2026, 12, 1), QTime(23, 59, 59)));
        QSignalSpy done(&period, &PeriodDialog::queryFinished);
        QTest::mouseClick(period.findChild<QPushButton*>("okButton"), Qt::LeftButton);
        QVERIFY(done.wait(kWait));
        QCOMPARE(done.at(0).at(0).toInt(), static_cast<int>(fsv::PeriodOutcome::Selected));
        QCOMPARE(period.lastSummary().selected, selected);
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, kWait);
    }

    // The selected events as "Just Download" items under `root`, in the storage layout.
    std::vector<Expected> selectedItems(const fs::path& rec, const std::string& root) {
        auto& list = viewer_->backend().controller().eventList();
        std::vector<Expected> out;
        const int r = viewer_->eventList().shownRecorder();
        for (auto& ch : list.channels(r))
            for (auto& d : list.days(r, ch.position))
                for (auto& e : list.events(r, ch.position, d.position)) {
                    if (e.mark != fsv::kMarkSelected) continue;
                    dl::WorkItem item;
                    item.queue = ch.audio ? dl::QueueKind::Audio : dl::QueueKind::File;
                    item.action = dl::Action::JustDownload;
                    item.channelCode = fsv::codeOfNumber(ch.number);
                    item.channelName = ch.name;
                    item.dayPosition = d.position;
                    item.eventPosition = e.position;
                    item.eventKey = d.date + e.time;
                    item.dateId = d.dateId;
                    item.size = e.size;
                    item.outputPath =
                        dl::makeOutputPath({root, item.queue, item.channelCode, item.date(),
                                            item.time(), item.dateId, item.lastFrame});
                    out.push_back(
                        {item, rec /
                                   fsv::format(ch.audio ? "Aud%02d" : "Cam%02d", item.channelCode) /
                                   d.date / (e.time + (ch.audio ? ".wav" : ".avi"))});
                }
        return out;
    }

    // What the start of work does with the selection, done here by hand.
    void enqueue(const std::vector<Expected>& items) {
        auto& c = viewer_->backend().controller();
        const auto sessions = c.sessions();
        QCOMPARE(sessions.size(), size_t(1));
        bool all = true;
        QVERIFY(c.withDownloads(sessions[0].id, [&](dl::DownloadSession& d) {
            for (auto& e : items) all = d.enqueue(e.item) && all;
        }));
        QVERIFY(all);
    }

    // Watches the download list until the history holds `count` rows; the most rows and the
    // ratios the download list showed on the way.
    void waitForHistory(int count, int* mostRows, std::set<QString>* ratios) {
        auto& downloads = viewer_->downloadList().list();
        auto& history = viewer_->downloadHistory().list();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                *mostRows = std::max(*mostRows, downloads.topLevelItemCount());
                for (int i = 0; i < downloads.topLevelItemCount(); ++i)
                    ratios->insert(
                        downloads.topLevelItem(i)->text(DownloadListWindow::kRatioColumn));
                return history.topLevelItemCount() == count;
            }(),
            kDownload);
        QTRY_COMPARE_WITH_TIMEOUT(downloads.topLevelItemCount(), 0, kWait);
    }

    void compareFiles(const std::vector<Expected>& items) {
        for (auto& e : items) {
            QVERIFY2(fs::exists(e.item.outputPath), e.item.outputPath.c_str());
            QVERIFY2(slurp(e.item.outputPath) == slurp(e.source), e.item.outputPath.c_str());
        }
    }

    // One camera, one day, one event long enough to be steered while it arrives.
    fs::path makeOneEvent() {
        fsv::sim::GenerateOptions gen;
        gen.cameras = 1;
        gen.days = 1;
        gen.eventsPerDay = 1;
        gen.secondsPerEvent = 12;  // still arriving when the test pauses it, even under sanitizers
        gen.audioChannels = 0;
        std::string error;
        if (!fsv::sim::generateRecordings(dir() / "rec", gen, &error))
            qWarning("%s", error.c_str());
        return dir() / "rec";
    }

    static fs::path firstAvi(const fs::path& folder) { return fsv::test::firstAvi(folder); }

    // Answers the start of work's modal questions as a user would: the action dialog with
    // `action`, and the frame-range dialog (when asked) with the 1-based `first` ... `last`.
    // Starts work through the period dialog with `action` answered in the action dialog, into
    // a folder "out" of the test's own, and checks that it started.
    void startWorkFromPeriodDialog(dl::Action action, int selected, int first = 0, int last = 0) {
        const fs::path out = dir() / "out";
        fs::create_directories(out);
        script_.folders = {out};
        QTimer* answers = answerStartQuestions(action, first, last);
        QSignalSpy started(viewer_.get(), &Viewer::workStarted);
        choosePeriod(started, 1, selected);
        delete answers;
        QCOMPARE(started.at(0).at(0).toInt(), static_cast<int>(fsv::client::StartResult::Started));
    }

    QTimer* answerStartQuestions(dl::Action action, int first = 0, int last = 0) {
        auto* timer = new QTimer(this);
        timer->setInterval(20);
        connect(timer, &QTimer::timeout, this, [action, first, last] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible()) return;
            if (modal->objectName() == QLatin1String("actionDialog")) {
                auto* b = modal->findChild<QRadioButton*>(
                    QStringLiteral("action%1").arg(static_cast<int>(action)));
                if (!b) return;
                b->setChecked(true);
                QTest::mouseClick(modal->findChild<QPushButton*>("okButton"), Qt::LeftButton);
            } else if (modal->objectName() == QLatin1String("frameRangeDialog")) {
                modal->findChild<QLineEdit*>("startFrame")->setText(QString::number(first));
                modal->findChild<QLineEdit*>("endFrame")->setText(QString::number(last));
                QTest::mouseClick(modal->findChild<QPushButton*>("okButton"), Qt::LeftButton);
            }
        });
        timer->start();
        return timer;
    }

    // A button of the control panel's line 3, skinned or plain.
    QAbstractButton* playButton(int index) {
        MainWindow& w = viewer_->window();
        if (auto* b = w.findChild<QAbstractButton*>(QStringLiteral("playButton%1").arg(index)))
            return b;
        return w.findChild<QAbstractButton*>(QStringLiteral("plainButton3_%1").arg(index));
    }

    // Opens the speed menu at the speed text and chooses entry `factor`.
    void chooseSpeedFromMenu(int factor) {
        MainWindow& w = viewer_->window();
        auto* timer = new QTimer(this);
        timer->setInterval(20);
        connect(timer, &QTimer::timeout, this, [timer, factor] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible()) return;
            timer->stop();
            timer->deleteLater();
            QAction* a = menu->actions().at(factor - 1);
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
        });
        timer->start();
        if (auto* info = w.findChild<::fsv::ui::skin::SkinPanel*>(QStringLiteral("playbackInfo"));
            info && info->isVisible())
            QTest::mouseClick(info, Qt::LeftButton, {},
                              info->text(PlaybackPanel::kSpeedText).rect.center());
        else
            QTest::mouseClick(w.findChild<QAbstractButton*>("playbackText3"), Qt::LeftButton);
    }

    // The number of video frames ffprobe reads from `file`.
    static std::string probedFrames(const fs::path& file) {
        auto probed = fsv::test::runProgram(
            "/usr/bin/ffprobe",
            {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
             "stream=nb_read_packets", "-of", "csv=p=0", file.string()});
        if (probed.status != 0 || !probed.err.empty()) return "error: " + probed.err;
        return probed.out;
    }

  private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        qputenv("FARSIGHT_HOME", QByteArray::fromStdString(home().string()));
        qputenv("FARSIGHT_CONFIG", QByteArray::fromStdString((dir() / "config").string()));
        script_ = PromptScript{};
        Prompts::setScript(&script_);
    }
    void cleanup() {
        viewer_.reset();
        Prompts::setScript(nullptr);
        dir_.reset();
    }

    // Refresh takes the recorder drop-down, the tree and itself away while the recorder is read
    // again, and gives them back when the answer is in, and when the recorder drops the link
    // in the middle of it.
    void refreshGivesItsControlsBack() {
        SimProcess sim({"--recordings", makeRecordings().string(), "--delay-ms", "150"});
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        connectTo(sim);
        if (!viewer_->eventList().isVisible()) viewer_->window().runCommand(cmd::kNormal);
        EventListWindow& events = viewer_->eventList();
        auto* refresh = events.findChild<QPushButton*>("refreshButton");
        const auto controls = [&] {
            return QList<bool>{refresh->isEnabled(), events.recorders().isEnabled(),
                               events.tree().isEnabled()};
        };
        const QList<bool> on{true, true, true}, off{false, false, false};
        QCOMPARE(controls(), on);

        QTest::mouseClick(refresh, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(controls(), off, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(controls(), on, kWait);
        QCOMPARE(events.recorders().count(), 1);

        QTest::mouseClick(refresh, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(controls(), off, kWait);
        sim.stop();
        QTRY_COMPARE_WITH_TIMEOUT(controls(), on, kWait);
    }

    // The work of a selection goes through the queues; the download list shows each running
    // item, the history every finished one (double-click opens it), the connection list the
    // works left; a disconnect keeps them in a resume file, which loads again.
    void listsFollowTheWorkOfTheViewer() {
        const fs::path rec = makeRecordings();
        // Slow replies: the work stays long enough in the queues to be seen.
        SimProcess sim({"--recordings", rec.string(), "--delay-ms", "40"});
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        connectTo(sim);

        // A day opened in the tree is asked for; its events come and the wait ends.
        viewer_->window().runCommand(cmd::kNormal);
        EventListWindow& events = viewer_->eventList();
        auto& tree = events.tree();
        auto& model = events.model();
        const QModelIndex camera = model.index(0, 0, tree.rootIndex());
        tree.expand(camera);
        QTRY_COMPARE(model.rowCount(camera), 2);
        const QModelIndex day = model.index(0, 0, camera);
        tree.expand(day);
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(day), 2, kWait);
        QTRY_VERIFY(!events.waiting());

        // The selection is made in the hosted dialog; without a folder the start is declined
        // and the dialog comes back.
        QSignalSpy started(viewer_.get(), &Viewer::workStarted);
        choosePeriod(started);
        QCOMPARE(started.at(0).at(0).toInt(), static_cast<int>(fsv::client::StartResult::Declined));
        QTRY_VERIFY(viewer_->periodDialog().isVisible());
        QVERIFY(viewer_->eventList().findChild<QPushButton*>("downloadButton")->isEnabled());
        viewer_->periodDialog().reject();

        auto items = selectedItems(rec, (dir() / "out").string() + "/");
        QCOMPARE(items.size(), size_t(12));
        MainWindow& w = viewer_->window();
        w.runCommand(cmd::kDownloadList);
        w.runCommand(cmd::kDownloadHistory);
        enqueue(items);

        // The connection list: the works waiting, each with its device, date and type.
        w.runCommand(cmd::kConnectionList);
        ConnectionListWindow& connectionList = viewer_->connectionList();
        QVERIFY(connectionList.isVisible());
        auto& rows = connectionList.list();
        QCOMPARE(rows.topLevelItemCount(), 1);
        QVERIFY2(rows.topLevelItem(0)->text(2).toInt() > 0,
                 qPrintable(rows.topLevelItem(0)->text(2)));
        rows.topLevelItem(0)->setSelected(true);
        QTest::mouseClick(connectionList.findChild<QPushButton*>("workListButton"), Qt::LeftButton);
        QCOMPARE(connectionList.mode(), ConnectionListWindow::Mode::Works);
        QVERIFY(rows.topLevelItemCount() > 0);
        QCOMPARE(rows.topLevelItem(0)->text(2), QStringLiteral("Just Download"));
        // "&Delete" takes the last waiting work out of its queue: it leaves the works, never
        // runs and never reaches the history.
        const int works = rows.topLevelItemCount();
        QVERIFY(works > 2);
        QTreeWidgetItem* last = rows.topLevelItem(works - 1);
        const std::string device = last->text(0).toStdString();
        const std::string key =
            last->data(0, ConnectionListWindow::kKeyRole).toString().toStdString();
        last->setSelected(true);
        QVERIFY(connectionList.findChild<QPushButton*>("disconnectButton")->isEnabled());
        QTest::mouseClick(connectionList.findChild<QPushButton*>("disconnectButton"),
                          Qt::LeftButton);
        connectionList.fill();
        QVERIFY(rows.topLevelItemCount() < works);
        for (int i = 0; i < rows.topLevelItemCount(); ++i)
            QVERIFY(rows.topLevelItem(i)->text(0).toStdString() != device ||
                    rows.topLevelItem(i)
                            ->data(0, ConnectionListWindow::kKeyRole)
                            .toString()
                            .toStdString() != key);
        const auto gone = std::find_if(items.begin(), items.end(), [&](const Expected& e) {
            return e.item.channelName == device && e.item.eventKey == key;
        });
        QVERIFY(gone != items.end());
        const std::string deletedPath = gone->item.outputPath;
        items.erase(gone);
        QTest::mouseClick(connectionList.findChild<QPushButton*>("workListButton"), Qt::LeftButton);
        QCOMPARE(connectionList.mode(), ConnectionListWindow::Mode::Connections);

        int mostRows = 0;
        std::set<QString> ratios;
        waitForHistory(11, &mostRows, &ratios);
        QVERIFY(mostRows > 0);
        QVERIFY(!ratios.empty());
        compareFiles(items);
        QVERIFY(!fs::exists(deletedPath));

        // The history keeps each row's key and opens its file: an AVI plays (once), a WAV goes
        // to the sound player.
        DownloadHistoryWindow& history = viewer_->downloadHistory();
        // The sound player is caught here; the AVI goes on to the viewer's own side.
        struct Wavs : LocalFiles {
            LocalFiles& viewer;
            std::vector<fs::path> played;
            explicit Wavs(LocalFiles& v) : viewer(v) {}
            bool isPlaying(const fs::path& f) const override { return viewer.isPlaying(f); }
            void openAvi(const fs::path& f) override { viewer.openAvi(f); }
            void playWav(const fs::path& f) override { played.push_back(f); }
        } catcher(*history.files());
        history.setFiles(&catcher);
        auto& wavs = catcher.played;
        QTreeWidgetItem *avi = nullptr, *wav = nullptr;
        for (int i = 0; i < history.list().topLevelItemCount(); ++i) {
            auto* row = history.list().topLevelItem(i);
            QCOMPARE(row->data(0, DownloadHistoryWindow::kKeyRole).toString().size(), 14);
            QCOMPARE(row->text(0), QStringLiteral("recorder-sim"));
            (row->text(4).endsWith(".avi") ? avi : wav) = row;
        }
        QVERIFY(avi && wav);
        history.open(avi);
        QTRY_VERIFY_WITH_TIMEOUT(viewer_->backend().isPlaying(avi->text(4).toStdString()), kWait);
        history.open(avi);
        QVERIFY(script_.saw(kFilePlayingText));
        history.open(wav);
        QCOMPARE(wavs, std::vector<fs::path>{wav->text(4).toStdString()});
        history.setFiles(&catcher.viewer);

        // The same work again, and the connection closed while it runs: the unfinished items
        // are kept in the resume file the user names.
        auto again = items;
        for (auto& e : again) {
            const auto& i = e.item;
            e.item.outputPath =
                dl::makeOutputPath({(dir() / "again").string(), i.queue, i.channelCode, i.date(),
                                    i.time(), i.dateId, i.lastFrame});
        }
        enqueue(again);
        connectionList.fill();
        rows.topLevelItem(0)->setSelected(true);
        const fs::path kept = home() / "kept.rsm";
        script_.answers = {fsv::ui::BoxAnswer::Yes};
        script_.saveFiles = {kept};
        QTest::mouseClick(connectionList.findChild<QPushButton*>("disconnectButton"),
                          Qt::LeftButton);
        QVERIFY(script_.saw(fsv::state::kSaveUnfinishedQuestion));
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 0, kWait);
        // The session leaves the list first; its work is written while it goes.
        QTRY_VERIFY_WITH_TIMEOUT(!fsv::state::loadResumeFile(kept).value.records.empty(), kWait);
        auto saved = fsv::state::loadResumeFile(kept);
        QCOMPARE(saved.status, fsv::state::ReadStatus::Ok);
        QCOMPARE(saved.value.header.port, sim.port());

        // The closed connection's rows leave the download list; nothing reaches the history.
        QTRY_COMPARE_WITH_TIMEOUT(viewer_->downloadList().list().topLevelItemCount(), 0, kWait);
        QCOMPARE(viewer_->downloadHistory().list().topLevelItemCount(), 11);

        // Load Resume File: the housekeeping thread takes it up through the controller.
        script_.openFiles = {kept};
        w.runCommand(cmd::kLoadResumeFile);
        QTRY_COMPARE_WITH_TIMEOUT(viewer_->backend().resumeLoads(), 1, kWait);
        QVERIFY(viewer_->backend().lastResumeLoaded());
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 1, kWait);
        QVERIFY(!fs::exists(kept));
    }

    // "Yes" to the unfinished work of the last run: each file is taken up by the controller on
    // the housekeeping thread (it connects to the file's recorder); one it cannot take up stays.
    void unfinishedWorkAtStartIsTakenUp() {
        const fs::path rec = makeRecordings();
        SimProcess sim({"--recordings", rec.string()});
        QVERIFY2(sim.started(), sim.error().c_str());
        fs::create_directories(home());
        fsv::state::ResumeData data;
        data.header.address = "127.0.0.1";
        data.header.port = sim.port();
        data.header.id = "Guest";
        fsv::state::ResumeRecord r;
        r.listFlag = 0;  // a camera's file download
        r.type = 11;
        r.camera = 1;
        r.eventKey = "20261201080000";
        r.lastFrame = fsv::download::kWholeRecordingLastFrame;
        fs::create_directories(dir() /
                               "out");  // work is taken up only below a folder that is there
        r.path =
            fsv::download::makeOutputPath({(dir() / "out").string(), fsv::download::QueueKind::File,
                                           1, "20261201", "080000", 0, r.lastFrame});
        data.records.push_back(r);
        const fs::path file = home() / "Auto1.rsm";
        QVERIFY(fsv::state::saveResumeFile(file, data));
        script_.answers = {fsv::ui::BoxAnswer::Yes};
        startViewer();
        QTRY_VERIFY(script_.saw(fsv::state::kUnfinishedWorkQuestion));
        QTRY_COMPARE_WITH_TIMEOUT(viewer_->backend().resumeLoads(), 1, kWait);
        QVERIFY(viewer_->backend().lastResumeLoaded());
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 1, kWait);
        // The rebuilt work runs: the recording arrives whole, and the connection's own
        // automatic file (the same name) then holds no work.
        const std::string whole = slurp(rec / "Cam01" / "20261201" / "080000.avi");
        QVERIFY(!whole.empty());
        QTRY_VERIFY_WITH_TIMEOUT(slurp(r.path) == whole, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(
            !fs::exists(file) || fsv::state::loadResumeFile(file).value.records.empty(), kWait);
    }

    // The whole road from the window: period, "Just Download" into a folder, the lists, and
    // the recorder's own bytes on disk.
    void periodDialogStartsWorkEndToEnd() {
        const fs::path rec = makeRecordings();
        SimProcess sim({"--recordings", rec.string(), "--delay-ms", "20"});
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        connectTo(sim);
        const fs::path out = dir() / "out";
        fs::create_directories(out);
        script_.folders = {out};
        MainWindow& w = viewer_->window();
        w.runCommand(cmd::kDownloadList);
        w.runCommand(cmd::kDownloadHistory);

        QSignalSpy started(viewer_.get(), &Viewer::workStarted);
        choosePeriod(started);
        const auto result = static_cast<fsv::client::StartResult>(started.at(0).at(0).toInt());
        QCOMPARE(result, fsv::client::StartResult::Started);
        QVERIFY(!viewer_->periodDialog().isVisible());

        int mostRows = 0;
        std::set<QString> ratios;
        waitForHistory(12, &mostRows, &ratios);
        QVERIFY(mostRows > 0);

        // Each history row's file is the recorder's recording of that key and channel.
        auto& history = viewer_->downloadHistory().list();
        for (int i = 0; i < history.topLevelItemCount(); ++i) {
            auto* row = history.topLevelItem(i);
            const std::string key =
                row->data(0, DownloadHistoryWindow::kKeyRole).toString().toStdString();
            const fs::path file = row->text(4).toStdString();
            QVERIFY2(file.string().rfind(out.string(), 0) == 0, file.c_str());
            const std::string folder = file.parent_path().parent_path().filename().string();
            const bool audio = folder.rfind("Aud", 0) == 0;
            const fs::path source =
                rec / folder / key.substr(0, 8) / (key.substr(8) + (audio ? ".wav" : ".avi"));
            QVERIFY2(slurp(file) == slurp(source), file.c_str());
        }
    }
    // The timeline's click on a recorder's recording: the day opened in the event list
    // window's tree shows its recording as a start mark; a click on the mark brings the
    // action dialog, whose "Download && Play" plays the recording in a panel as it arrives.
    // A recorder that never answers a day's query: after the dialog's wait the time-out
    // question comes up over the viewer while the window keeps working; Retry waits again,
    // Cancel ends the query with nothing selected and the dialog's controls back. A query still
    // waiting when the program closes ends with it, without a hang.
    void periodQueryOnASilentRecorder() {
        const fs::path rec = makeRecordings();
        SimProcess sim({"--recordings", rec.string(), "--fault", "silent-dates"});
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        connectTo(sim);
        EventListWindow& events = viewer_->eventList();
        if (!events.isVisible()) viewer_->window().runCommand(cmd::kNormal);
        QTest::mouseClick(events.findChild<QPushButton*>("periodButton"), Qt::LeftButton);
        PeriodDialog& period = viewer_->periodDialog();
        QTRY_VERIFY(period.isVisible());
        auto* ok = period.findChild<QPushButton*>("okButton");
        period.replyTimeout = std::chrono::milliseconds(300);
        period.setChannelChosen(0, true);
        period.setPeriod(QDateTime(QDate(2026, 11, 30), QTime(0, 0)),
                         QDateTime(QDate(2026, 12, 1), QTime(23, 59, 59)));
        script_.realBoxes = true;
        auto retry = fsv::test::answerNextBox(QStringLiteral("Retry"), kWait);
        QSignalSpy done(&period, &PeriodDialog::queryFinished);
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(period.busy());
        QVERIFY(!ok->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(retry->clicked, kWait);
        QCOMPARE(retry->text, QString::fromLatin1(fsv::kTimeoutQuestion));
        QCOMPARE(retry->buttons, (QStringList{"Retry", "Cancel"}));
        QVERIFY(done.isEmpty());
        auto cancel = fsv::test::answerNextBox(QStringLiteral("Cancel"), kWait);
        QVERIFY(done.wait(kWait));
        QVERIFY(cancel->clicked);
        QCOMPARE(done.at(0).at(0).toInt(), static_cast<int>(fsv::PeriodOutcome::Cancelled));
        QCOMPARE(viewer_->backend().controller().eventList().selection().count, 0u);
        QVERIFY(!period.busy());
        QVERIFY(ok->isEnabled());

        // Again, and the program closes while the query waits.
        period.replyTimeout = std::chrono::seconds(60);
        period.openFor();
        QTRY_VERIFY(ok->isEnabled());
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(period.busy());
        auto leave = fsv::test::answerNextBox(QStringLiteral("Yes"), kWait);
        QElapsedTimer t;
        t.start();
        QVERIFY(viewer_->window().close());
        QVERIFY(leave->clicked);
        viewer_.reset();
        QVERIFY2(t.elapsed() < 10000, qPrintable(QString::number(t.elapsed())));
    }

    void timelineClickDownloadsAndPlaysARecording() {
        const fs::path rec = makeOneEvent();
        SimProcess sim({"--recordings", rec.string()});
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        connectTo(sim);
        MainWindow& w = viewer_->window();
        w.runCommand(cmd::kNormal);
        EventListWindow& events = viewer_->eventList();
        auto& tree = events.tree();
        auto& model = events.model();
        const QModelIndex camera = model.index(0, 0, tree.rootIndex());
        tree.expand(camera);
        QTRY_COMPARE(model.rowCount(camera), 1);
        const QModelIndex day = model.index(0, 0, camera);
        tree.expand(day);
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(day), 1, kWait);

        w.timelineAction()->trigger();
        TimelineView* timeline = w.timeline();
        QVERIFY(timeline->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!timeline->rows().empty() && !timeline->rows()[0].spans.empty(),
                                 kWait);
        const auto mark = timeline->rows()[0].spans[0];
        QVERIFY(!mark.end);  // its length is not known: a start mark
        timeline->fitAll();

        const fs::path out = dir() / "out";
        fs::create_directories(out);
        script_.folders = {out};
        // The action dialog, answered as a user does: "Download && Play", then OK.
        QString offered;
        QTimer answer;
        answer.setInterval(20);
        connect(&answer, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible() || modal->objectName() != "actionDialog") return;
            auto* play = modal->findChild<QRadioButton*>(
                QStringLiteral("action%1").arg(static_cast<int>(dl::Action::DownloadAndPlay)));
            if (!play) return;
            answer.stop();
            offered = play->text();
            QTest::mouseClick(play, Qt::LeftButton);
            QTest::mouseClick(modal->findChild<QPushButton*>("okButton"), Qt::LeftButton);
        });
        answer.start();
        QSignalSpy started(viewer_.get(), &Viewer::workStarted);
        QTest::mouseClick(timeline, Qt::LeftButton, {}, timeline->pointOf(0, mark.start));
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, kWait);
        QCOMPARE(offered, QStringLiteral("Download && Play"));
        QCOMPARE(started.at(0).at(0).toInt(), static_cast<int>(fsv::client::StartResult::Started));

        // The recording plays in a panel while it arrives: a stream of the recorder.
        DisplayPanel* panel = w.channelView()->panel(0);
        QTRY_VERIFY_WITH_TIMEOUT(panel->showing(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(panel->picturesPainted() > 2, kWait);
        const auto source = viewer_->backend().streamSource(0);
        QVERIFY(source.has_value());
        const auto& list = viewer_->backend().controller().eventList();
        const auto shownDay = list.days(mark.event.recorder, mark.event.channel).at(0);
        const auto event =
            list.events(mark.event.recorder, mark.event.channel, mark.event.day).at(0);
        QCOMPARE(source->eventKey, shownDay.date + event.time);
    }

    // "Download && Play" of one event chosen through the period dialog: the frames show in a
    // panel while they arrive and the control panel steers the stream with its own buttons;
    // the AVI gets every frame once and the channel goes on as a local file.
    void downloadAndPlayIsSteeredFromTheControlPanel() {
        const fs::path rec = makeOneEvent();
        const fs::path source = firstAvi(rec);
        const int frames = fsv::media::AviReader().open(source);
        QVERIFY(frames > 10);
        SimProcess sim({"--recordings", rec.string()});
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        connectTo(sim);
        startWorkFromPeriodDialog(dl::Action::DownloadAndPlay, 1);
        if (QTest::currentTestFailed()) return;
        const fs::path out = dir() / "out";

        MainWindow& w = viewer_->window();
        fsv::app::CoreBackend& backend = viewer_->backend();
        DisplayPanel* panel = w.channelView()->panel(0);
        PlaybackPanel& controls = *w.playbackPanel();
        QTRY_VERIFY_WITH_TIMEOUT(panel->showing(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(panel->picturesPainted() > 2, kWait);
        w.channelView()->setActivePanel(0);
        auto status = [&] {
            return backend.channelStatus(0).value_or(fsv::playback::PlayStatus{});
        };
        QVERIFY(!status().local);
        // The control panel follows the frames as they are shown.
        QTRY_VERIFY_WITH_TIMEOUT(controls.text(PlaybackPanel::kTimeText) != "00:00:00.000", kWait);
        const QString playing = controls.text(PlaybackPanel::kTimeText);
        QTRY_VERIFY_WITH_TIMEOUT(controls.text(PlaybackPanel::kTimeText) != playing, kWait);

        // Pause, then the first frame: the picture and texts settle on frame 0.
        QTest::mouseClick(playButton(PlaybackPanel::kPause), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(status().paused, kWait);
        QVERIFY2(
            status().position + 10 < static_cast<uint32_t>(frames),
            qPrintable(QStringLiteral("paused at %1 of %2").arg(status().position).arg(frames)));
        QTRY_VERIFY_WITH_TIMEOUT(playButton(PlaybackPanel::kFirst)->isEnabled(), kWait);
        QTest::mouseClick(playButton(PlaybackPanel::kFirst), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(status().position, 0u, kWait);
        auto shownTime = [&] { return frameTimeText(status().time); };
        QTRY_COMPARE_WITH_TIMEOUT(controls.text(PlaybackPanel::kTimeText), shownTime(), kWait);
        const QString time0 = controls.text(PlaybackPanel::kTimeText);
        // The frame's date is the recording's (its key starts with YYYYMMDD).
        const std::string key = viewer_->backend().streamSource(0).value().eventKey;
        QCOMPARE(controls.text(PlaybackPanel::kDateText),
                 QLocale().toString(QDate::fromString(QString::fromStdString(key.substr(0, 8)),
                                                      QStringLiteral("yyyyMMdd")),
                                    QLocale::ShortFormat));
        auto picture = [&] {
            return backend.pausedPicture(0).value_or(fsv::playback::PausedPicture{});
        };
        const fsv::playback::PausedPicture picture0 = picture();
        QVERIFY(picture0.width > 0 && !picture0.bits.empty());
        QTRY_COMPARE_WITH_TIMEOUT(panel->paintedSerial(), panel->slot()->published(), kWait);
        const QImage shown0 = panel->grab().toImage();

        // One frame forward: another picture, and the time text moves with it.
        QTest::mouseClick(playButton(PlaybackPanel::kForward), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(status().position, 1u, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(controls.text(PlaybackPanel::kTimeText), shownTime(), kWait);
        QVERIFY(controls.text(PlaybackPanel::kTimeText) != time0);
        QVERIFY(picture().bits != picture0.bits);
        QTRY_VERIFY_WITH_TIMEOUT(panel->grab().toImage() != shown0, kWait);
        QVERIFY(status().paused);

        // And back: frame 0's picture and time again.
        QTest::mouseClick(playButton(PlaybackPanel::kBack), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(status().position, 0u, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(controls.text(PlaybackPanel::kTimeText), time0, kWait);
        QVERIFY(picture().bits == picture0.bits);

        // Saved as a bitmap: the picture with the recorder and camera, then the time, on it.
        const QString camera = QString::fromStdString(status().cameraName);
        QCOMPARE(panel->caption(), QStringLiteral("1. recorder-sim ") + camera);
        const fs::path bmp = dir() / "still.bmp", expected = dir() / "expected.bmp";
        script_.saveFiles = {bmp};
        w.runCommand(cmd::kSaveAsBmp);
        QVERIFY(fs::exists(bmp));
        QVERIFY(saveSnapshot(
            expected, fsv::media::BitmapInfoHeader::rgb24(picture0.width, picture0.height),
            picture0.bits, QStringLiteral("recorder-sim - ") + camera, controls.dateTimeText()));
        QVERIFY(controls.dateTimeText().endsWith(time0));
        QVERIFY(slurp(bmp) == slurp(expected));

        // The speed menu at the speed text: x 2.
        chooseSpeedFromMenu(2);
        QTRY_COMPARE_WITH_TIMEOUT(controls.text(PlaybackPanel::kSpeedText), QStringLiteral("x 2"),
                                  kWait);
        QCOMPARE(status().speed, 2);
        QCOMPARE(controls.speedFactor(), 2);
        QTest::mouseClick(playButton(PlaybackPanel::kPlay), Qt::LeftButton);

        // The finished download plays on as a local file, its AVI whole.
        QTRY_COMPARE_WITH_TIMEOUT(backend.channels().kindAt(0),
                                  fsv::playback::ChannelKind::LocalFile, kDownload);
        QTRY_VERIFY_WITH_TIMEOUT(status().local && status().frameCount == uint32_t(frames), kWait);
        const fs::path avi = firstAvi(out);
        QVERIFY(!avi.empty());
        QCOMPARE(probedFrames(avi), std::to_string(frames) + "\n");
        fsv::media::AviReader original, copy;
        QCOMPARE(original.open(source), frames);
        QCOMPARE(copy.open(avi), frames);
        for (int i = 0; i < frames; ++i) QVERIFY(copy.videoSample(i) == original.videoSample(i));
    }

    // A recorder that goes silent in the middle of a "Download && Play" stream, with the wait
    // set to a second: connected and asked nothing, it is not cut off; while the stream waits
    // for its frame, the wait ends the session with a box naming the recorder, the row fails,
    // the channel stays on its last picture, and the work goes to the resume file chosen.
    void silentRecorderEndsItsWorkAfterTheWait() {
        fs::create_directories(dir() / "config");
        std::ofstream(dir() / "config" / "FarsightViewer.ini") << "[Connection]\nWait=1\n";
        const fs::path rec = makeOneEvent();
        SimProcess sim({"--recordings", rec.string(), "--silent-stream-after", "6"});
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        connectTo(sim);
        QTest::qWait(2500);  // idle, well past the wait
        QCOMPARE(connections(), 1);

        const fs::path out = dir() / "out";
        fs::create_directories(out);
        script_.folders = {out};
        const fs::path kept = home() / "silent.rsm";
        script_.saveFiles = {kept};
        script_.realBoxes = true;
        QTimer* answers = answerStartQuestions(dl::Action::DownloadAndPlay);
        viewer_->window().runCommand(cmd::kDownloadList);
        auto seen = fsv::test::answerNextBox(QStringLiteral("Yes"), kDownload);
        QSignalSpy started(viewer_.get(), &Viewer::workStarted);
        choosePeriod(started, 1, 1);
        delete answers;
        QCOMPARE(started.at(0).at(0).toInt(), static_cast<int>(fsv::client::StartResult::Started));
        QTRY_COMPARE_WITH_TIMEOUT(viewer_->downloadList().list().topLevelItemCount(), 1, kWait);

        QTRY_VERIFY_WITH_TIMEOUT(seen->shown, kWait);
        QVERIFY(seen->clicked);
        QCOMPARE(seen->text, QStringLiteral("Timeout: no answer from 127.0.0.1 for 1 second.\n") +
                                 QString::fromLatin1(fsv::state::kSaveUnfinishedQuestion));
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 0, kWait);

        // The row failed: it leaves the download list without reaching the history.
        const auto rows = viewer_->backend().controller().workList().rows();
        QCOMPARE(rows.size(), size_t(1));
        QCOMPARE(rows[0].state, dl::RowState::Stopped);
        QTRY_COMPARE_WITH_TIMEOUT(viewer_->downloadList().list().topLevelItemCount(), 0, kWait);
        QCOMPARE(viewer_->downloadHistory().list().topLevelItemCount(), 0);

        // The channel keeps the last frame that came, paused.
        fsv::app::CoreBackend& backend = viewer_->backend();
        DisplayPanel* panel = viewer_->window().channelView()->panel(0);
        auto still = [&] {
            bool is = false;
            backend.channels().withPlayer(0, [&](fsv::playback::Player& p) {
                is = dynamic_cast<fsv::playback::StoppedStream*>(&p) != nullptr;
            });
            return is;
        };
        QTRY_VERIFY_WITH_TIMEOUT(still(), kWait);
        QVERIFY(panel->showing());
        const auto status = backend.channelStatus(0);
        QVERIFY(status && status->paused);
        QCOMPARE(status->position, 5u);

        // The work is in the file the user chose, ready to be taken up again.
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(kept), kWait);
        const auto saved = fsv::state::loadResumeFile(kept);
        QCOMPARE(saved.status, fsv::state::ReadStatus::Ok);
        QCOMPARE(saved.value.header.port, sim.port());
        QCOMPARE(saved.value.records.size(), size_t(1));
        QCOMPARE(saved.value.records[0].path, rows[0].path);
    }

    // Setup's OK while two "Download && Play" streams of one camera are under way, the first
    // playing and the second queued with a file of its name already on the disk: Overwrite on
    // and Tell off hold at once for both (the second replaces the file without asking, neither
    // says it finished), and the playing panel's caption drops the server name at once.
    void setupAppliesAtOnceToWorkUnderWay_data() {
        QTest::addColumn<bool>("writable");
        QTest::newRow("settings file written") << true;
        // The choices still hold for the run when the file cannot take them.
        QTest::newRow("settings file cannot be written") << false;
    }
    void setupAppliesAtOnceToWorkUnderWay() {
        QFETCH(bool, writable);
        if (!writable) fs::create_directories(fsv::state::settingsPath());
        fsv::sim::GenerateOptions gen;
        gen.cameras = 1;
        gen.days = 1;
        gen.eventsPerDay = 2;
        gen.audioChannels = 0;
        std::string error;
        QVERIFY2(fsv::sim::generateRecordings(dir() / "rec", gen, &error), error.c_str());
        const int frames = fsv::media::AviReader().open(firstAvi(dir() / "rec"));
        QVERIFY(frames > 10);
        SimProcess sim({"--recordings", (dir() / "rec").string()});
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        connectTo(sim);
        startWorkFromPeriodDialog(dl::Action::DownloadAndPlay, 2);
        if (QTest::currentTestFailed()) return;

        MainWindow& w = viewer_->window();
        DisplayPanel* panel = w.channelView()->panel(0);
        QTRY_VERIFY_WITH_TIMEOUT(panel->picturesPainted() > 0, kWait);
        const QString camera =
            QString::fromStdString(viewer_->backend().channelStatus(0).value().cameraName);
        QCOMPARE(panel->caption(), QStringLiteral("1. recorder-sim ") + camera);
        auto& work = viewer_->backend().controller().workList();
        const auto rows = work.rows();
        QCOMPARE(rows.size(), size_t(2));
        const fs::path queued = rows[1].path;
        QVERIFY2(!fs::exists(queued), queued.c_str());
        fs::create_directories(queued.parent_path());
        std::ofstream(queued) << "not a recording";

        w.findChild<QToolButton*>("setupButton")->click();
        SetupDialog* setup = nullptr;
        QTRY_VERIFY((setup = w.findChild<SetupDialog*>()) && setup->isVisible());
        setup->findChild<QCheckBox*>("overwriteCheck")->setChecked(true);
        setup->findChild<QCheckBox*>("tellCheck")->setChecked(false);
        setup->findChild<QCheckBox*>("serverNameCheck")->setChecked(false);
        const size_t boxesBefore = script_.shown.size();
        // Both still under way: the first playing, the second not started (its file as it was).
        QVERIFY(work.rows()[0].state == dl::RowState::Running);
        QVERIFY(work.rows()[1].state == dl::RowState::Running);
        QCOMPARE(fs::file_size(queued), uintmax_t(15));
        QTest::mouseClick(setup->findChild<QPushButton*>("okButton"), Qt::LeftButton);
        QTRY_COMPARE(panel->caption(), QStringLiteral("1. ") + camera);

        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (auto& r : work.rows())
                    if (r.state == dl::RowState::Running) return false;
                return true;
            }(),
            kDownload);
        for (auto& r : work.rows()) QCOMPARE(r.state, dl::RowState::Finished);
        QCOMPARE(fsv::media::AviReader().open(queued), frames);
        for (size_t i = boxesBefore; i < script_.shown.size(); ++i)
            QVERIFY2(script_.shown[i].text.find("finish download.") == std::string::npos,
                     script_.shown[i].text.c_str());
    }

    // "Download && Play (Period)" of one event with a frame range: only those frames are asked
    // for, and the AVI holds exactly them.
    void downloadAndPlayPeriodTakesOnlyTheChosenFrames() {
        const fs::path rec = makeOneEvent();
        const fs::path source = firstAvi(rec);
        QVERIFY(fsv::media::AviReader().open(source) > 12);
        SimProcess sim({"--recordings", rec.string()});
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        connectTo(sim);
        startWorkFromPeriodDialog(dl::Action::DownloadAndPlayPeriod, 1, 3, 10);
        if (QTest::currentTestFailed()) return;
        const fs::path out = dir() / "out";

        fsv::app::CoreBackend& backend = viewer_->backend();
        QTRY_COMPARE_WITH_TIMEOUT(backend.channels().kindAt(0),
                                  fsv::playback::ChannelKind::LocalFile, kDownload);
        const fs::path avi = firstAvi(out);
        QVERIFY(!avi.empty());
        QCOMPARE(probedFrames(avi), std::string("8\n"));
        // Frames 3 ... 10 of the recording (1-based), in order.
        fsv::media::AviReader original, copy;
        QVERIFY(original.open(source) > 0);
        QCOMPARE(copy.open(avi), 8);
        for (int i = 0; i < 8; ++i) QVERIFY(copy.videoSample(i) == original.videoSample(i + 2));
    }
};

QTEST_MAIN(BrowseViewerTest)
#include "BrowseViewerTest.moc"
