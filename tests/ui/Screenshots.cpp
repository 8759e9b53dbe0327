// viewer-screenshots OUTDIR HOST:PORT [HOST:PORT...]: drives the viewer's real windows (connects
// to each recorder through "Connect To...", opens the dialogs) and writes one PNG per window.
// scripts/screenshots.sh runs it under Xvfb with a fresh data folder and recorder-sim. With
// FSV_SCREENSHOT_AVI naming a folder, four AVI files below it play in the main window's panels.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/Viewer.h"
#include "platform/UserPort.h"
#include "recordings/PeriodQuery.h"
#include "recordings/download/DownloadSession.h"
#include "ui/Prompts.h"
#include "ui/dialogs/AddressBookDialog.h"
#include "ui/dialogs/ConnectToDialog.h"
#include "ui/dialogs/PeriodDialog.h"
#include "ui/dialogs/SetupDialog.h"
#include "ui/lists/DownloadListWindow.h"
#include "ui/lists/EventListWindow.h"
#include "ui/panels/ChannelView.h"
#include "ui/playback/PlaybackPanel.h"

using namespace fsv::ui;

namespace {

template <class T>
T* shown(QWidget& parent) {
    for (T* d : parent.findChildren<T*>())
        if (d->isVisible()) return d;
    return nullptr;
}

bool save(QWidget* w, const QString& dir, const char* name) {
    QTest::qWait(300);  // let layouts and fonts settle
    const QString path = dir + QLatin1Char('/') + QLatin1String(name);
    if (!w->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The question of a period query whose recorder went silent, as the user sees it; Cancel.
bool saveRetryBox(QWidget* parent, const QString& out) {
    bool saved = false;
    QTimer::singleShot(0, parent, [&] {
        QMessageBox* box = nullptr;
        if (!QTest::qWaitFor(
                [&] {
                    return (box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
                },
                5000))
            return;
        saved = QTest::qWaitForWindowExposed(box, 5000) && save(box, out, "retry-cancel-box.png");
        box->button(QMessageBox::Cancel)->click();
    });
    Prompts::box(parent, fsv::kTimeoutQuestion,
                 {fsv::ui::BoxButtons::RetryCancel, fsv::ui::BoxIcon::Information});
    return saved;
}

// Two more files make a second page of channels; Page Down shows it, Page Up goes back.
bool saveSecondPage(fsv::app::Viewer& viewer, const std::filesystem::path& dir,
                    const QString& out) {
    MainWindow& w = viewer.window();
    const auto press = [&](Qt::Key key) {
        for (QAction* a : w.findChildren<QAction*>())
            if (a->shortcut() == QKeySequence(key) && a->isEnabled()) a->trigger();
    };
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.path().extension() == ".avi") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    PromptScript script;
    for (const auto& f : files)
        if (!viewer.backend().isPlaying(f) && script.openFiles.size() < 2)
            script.openFiles.push_back(f);
    Prompts::setScript(&script);
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    Prompts::setScript(nullptr);
    if (!QTest::qWaitFor([&] { return w.pageCount() == 2; }, 10000)) return false;
    press(Qt::Key_PageDown);
    ChannelView* view = w.channelView();
    const bool shown = QTest::qWaitFor(
        [&] { return view->page() == 1 && view->panel(1)->picturesPainted() >= 3; }, 20000);
    const bool saved = shown && save(&w, out, "channels-second-page.png");
    press(Qt::Key_PageUp);
    return saved;
}

// Opens up to four AVI files below `dir` (one a camera first) through the Open AVI button and
// waits until each panel has drawn a picture.
bool playLocalFiles(MainWindow& w, const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.path().extension() == ".avi") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    // One file of each camera first, so that the panels show different pictures.
    std::vector<std::filesystem::path> chosen;
    for (const auto& f : files) {
        const auto camera = f.parent_path().parent_path();
        if (chosen.size() < 4 && std::none_of(chosen.begin(), chosen.end(), [&](const auto& c) {
                return c.parent_path().parent_path() == camera;
            }))
            chosen.push_back(f);
    }
    for (const auto& f : files)
        if (chosen.size() < 4 && std::find(chosen.begin(), chosen.end(), f) == chosen.end())
            chosen.push_back(f);
    PromptScript script;
    script.openFiles.assign(chosen.begin(), chosen.end());
    Prompts::setScript(&script);
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    Prompts::setScript(nullptr);
    ChannelView* view = w.channelView();
    const int count = static_cast<int>(chosen.size());
    return QTest::qWaitFor(
        [&] {
            for (int i = 0; i < count; ++i)
                if (!view->panel(i)->showing() || view->panel(i)->picturesPainted() < 3 ||
                    view->panel(i)->caption().contains(QStringLiteral("Loading")))
                    return false;
            return true;
        },
        20000);
}

// The event list window of the first recorder with the period dialog over it; after its OK
// the tree shows the selected events, and when the start of work runs, the download list.
bool browseInViewer(fsv::app::Viewer& viewer, const QString& out) {
    MainWindow& w = viewer.window();
    w.runCommand(cmd::kNormal);
    EventListWindow& events = viewer.eventList();
    events.resize(360, 520);
    events.move(w.geometry().right() + 8, w.geometry().top());
    events.findChild<QPushButton*>(QStringLiteral("periodButton"))->click();
    PeriodDialog& period = viewer.periodDialog();
    if (!QTest::qWaitFor([&] { return period.isVisible(); }, 5000)) return false;
    period.findChild<QPushButton*>(QStringLiteral("selectAllButton"))->click();
    period.setPeriod(QDateTime(QDate(2026, 11, 30), QTime(0, 0)),
                     QDateTime(QDate(2026, 12, 1), QTime(23, 59, 59)));
    if (!save(&period, out, "period-in-viewer.png")) return false;

    // The start of work asks for a folder: a fresh one, answered without a window.
    QTemporaryDir folder;
    PromptScript script;
    script.folders = {folder.path().toStdString()};
    Prompts::setScript(&script);
    QSignalSpy done(&period, &PeriodDialog::queryFinished);
    QSignalSpy started(&viewer, &fsv::app::Viewer::workStarted);
    period.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    const bool ok = done.wait(20000) && (started.count() > 0 || started.wait(20000));
    period.hide();
    auto& tree = events.tree();
    auto& model = events.model();
    const QModelIndex camera = model.index(0, 0, tree.rootIndex());
    tree.expand(camera);
    QTest::qWait(200);
    tree.expand(model.index(model.rowCount(camera) - 1, 0, camera));
    bool saved = ok && save(&events, out, "event-list-in-viewer.png");
    if (saved && started.at(0).at(0).toInt() == static_cast<int>(fsv::client::StartResult::Started)) {
        w.runCommand(cmd::kDownloadList);
        auto& rows = viewer.downloadList().list();
        saved = QTest::qWaitFor([&] { return rows.topLevelItemCount() > 0; }, 20000) &&
                save(&viewer.downloadList(), out, "download-list-in-viewer.png");
    }
    Prompts::setScript(nullptr);
    return saved;
}

// A "Just Play" stream of the first recorder's first camera in the fifth channel, shown on a
// page of nine panels with the control panel on it: its picture, time and speed.
bool playStream(fsv::app::Viewer& viewer, const std::filesystem::path& rec, const QString& out) {
    namespace dl = fsv::download;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(rec / "Cam01"))
        if (e.path().extension() == ".avi") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    auto& controller = viewer.backend().controller();
    const auto sessions = controller.sessions();
    if (files.empty() || sessions.empty()) return false;
    MainWindow& w = viewer.window();
    w.dispatchButton(0, 2);  // nine panels
    dl::WorkItem item;
    item.queue = dl::QueueKind::Video;
    item.action = dl::Action::JustPlay;
    item.channelCode = 1;
    item.eventKey = files.front().parent_path().filename().string() + files.front().stem().string();
    ChannelView* view = w.channelView();
    const int position = viewer.backend().channels().usedCount();  // the next free channel
    bool queued = false;
    controller.withDownloads(sessions[0].id,
                             [&](dl::DownloadSession& d) { queued = d.enqueue(item); });
    if (!queued || position >= view->channelsPerPage() ||
        !QTest::qWaitFor([&] { return view->panel(position)->picturesPainted() > 5; }, 20000))
        return false;
    view->setActivePanel(position);
    PlaybackPanel& controls = *w.playbackPanel();
    return QTest::qWaitFor(
               [&] {
                   return controls.text(PlaybackPanel::kTimeText) != QStringLiteral("00:00:00.000");
               },
               5000) &&
           save(&w, out, "stream-playing.png");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: viewer-screenshots OUTDIR HOST:PORT [HOST:PORT...]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    fsv::app::Viewer viewer;
    viewer.start();
    MainWindow& w = viewer.window();
    if (!QTest::qWaitForWindowExposed(&w, 10000)) return 1;
    auto* connectButton = w.findChild<QToolButton*>(QStringLiteral("connectButton"));

    int wanted = 0;
    for (int i = 2; i < argc; ++i) {
        const QString target = QString::fromLocal8Bit(argv[i]);
        const auto colon = target.lastIndexOf(QLatin1Char(':'));
        connectButton->click();
        ConnectToDialog* d = nullptr;
        if (!QTest::qWaitFor([&] { return (d = shown<ConnectToDialog>(w)) != nullptr; }, 5000))
            return 1;
        d->findChild<QComboBox*>(QStringLiteral("addressCombo"))
            ->setCurrentText(target.left(colon));
        d->findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText(target.mid(colon + 1));
        d->findChild<QLineEdit*>(QStringLiteral("idEdit"))->setText(QStringLiteral("admin"));
        d->findChild<QLineEdit*>(QStringLiteral("passwordEdit"))->setText(QStringLiteral("pw"));
        if (i == 2 && !save(d, out, "connect-to.png")) return 1;
        d->findChild<QPushButton*>(QStringLiteral("connectButton"))->click();
        ++wanted;
        auto* list = w.findChild<QTreeWidget*>(QStringLiteral("connectionList"));
        if (!QTest::qWaitFor(
                [&] {
                    return list->topLevelItemCount() == wanted &&
                           list->topLevelItem(wanted - 1)->text(3) != QStringLiteral("0");
                },
                20000)) {
            std::fprintf(stderr, "no connection to %s\n", argv[i]);
            return 1;
        }
    }
    if (const char* avi = std::getenv("FSV_SCREENSHOT_AVI")) {
        if (!playLocalFiles(w, avi)) {
            std::fprintf(stderr, "the local files did not play\n");
            return 1;
        }
        if (!save(w.channelView(), out, "panels-in-viewer.png")) return 1;
    }
    if (!save(&w, out, "main-window.png")) return 1;
    if (!saveRetryBox(&w, out)) return 1;
    if (std::getenv("FSV_SCREENSHOT_AVI")) {
        // The control panel on a paused channel: its looks, texts and slider; then the channel's
        // pop-up menu.
        w.channelView()->setActivePanel(1);
        w.dispatchButton(PlaybackPanel::kPlayLine, PlaybackPanel::kPause);
        w.dispatchButton(PlaybackPanel::kPlayLine, PlaybackPanel::kForward);
        QTest::qWait(500);
        if (!save(&w, out, "playback-paused.png")) return 1;
        QMenu menu(&w);
        if (w.fillChannelMenu(menu)) {
            DisplayPanel* panel = w.channelView()->panel(1);
            menu.popup(panel->mapToGlobal(panel->rect().center()));
            if (!QTest::qWaitForWindowExposed(&menu, 5000) || !save(&menu, out, "channel-menu.png"))
                return 1;
            menu.hide();
        }
    }
    if (const char* avi = std::getenv("FSV_SCREENSHOT_AVI")) {
        if (!saveSecondPage(viewer, avi, out)) {
            std::fprintf(stderr, "the second page of channels did not show\n");
            return 1;
        }
        if (!playStream(viewer, avi, out)) {
            std::fprintf(stderr, "the stream did not play\n");
            return 1;
        }
    }

    w.findChild<QToolButton*>(QStringLiteral("addressBookButton"))->click();
    AddressBookDialog* book = nullptr;
    if (!QTest::qWaitFor([&] { return (book = shown<AddressBookDialog>(w)) != nullptr; }, 5000))
        return 1;
    auto* tree = book->findChild<QTreeWidget*>(QStringLiteral("bookTree"));
    tree->expandAll();
    if (tree->topLevelItemCount() > 0 && tree->topLevelItem(0)->childCount() > 0)
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    if (!save(book, out, "address-book.png")) return 1;
    book->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();

    w.findChild<QToolButton*>(QStringLiteral("setupButton"))->click();
    SetupDialog* setup = nullptr;
    if (!QTest::qWaitFor([&] { return (setup = shown<SetupDialog>(w)) != nullptr; }, 5000))
        return 1;
    if (!save(setup, out, "setup.png")) return 1;
    setup->reject();
    if (!browseInViewer(viewer, out)) return 1;
    return 0;
}
