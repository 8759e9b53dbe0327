// The desktop program's windows, offscreen, against recorder-sim started as a process.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <atomic>
#include <deque>
#include <fstream>
#include <memory>
#include <thread>

#include "ModalBox.h"
#include "app/Viewer.h"
#include "media/AviReader.h"
#include "platform/System.h"
#include "platform/UserPort.h"
#include "recordings/download/DownloadSession.h"
#include "recordings/download/StorageLayout.h"
#include "recordings/download/Stream.h"
#include "recordings/playback/LocalPlayer.h"
#include "recordings/playback/StoppedStream.h"
#include "sim/Generate.h"
#include "state/AddressBook.h"
#include "state/ConnectionSet.h"
#include "state/LoginLog.h"
#include "state/ResumeFile.h"
#include "state/Settings.h"
#include "tests/support/Loopback.h"
#include "tests/support/Recordings.h"
#include "tests/support/SimProcess.h"
#include "ui/Prompts.h"
#include "ui/dialogs/AddressBookDialog.h"
#include "ui/dialogs/ConnectToDialog.h"
#include "ui/dialogs/PeriodDialog.h"
#include "ui/dialogs/SetupDialog.h"
#include "ui/dialogs/StartWorkDialogs.h"
#include "ui/lists/ArchiveWindow.h"
#include "ui/lists/ChannelListWindow.h"
#include "ui/lists/ConnectionListWindow.h"
#include "ui/lists/DownloadHistoryWindow.h"
#include "ui/lists/DownloadListWindow.h"
#include "ui/lists/EventListWindow.h"
#include "ui/mainwindow/StatusWindow.h"
#include "ui/panels/ChannelView.h"
#include "ui/skin/SkinButton.h"
#include "ui/skin/SkinSurface.h"

namespace fs = std::filesystem;
using fsv::app::Viewer;
using fsv::test::SimProcess;
using namespace fsv::ui;

namespace {

constexpr int kWait = 20000;  // generous: a loaded two-core machine

// A visible dialog of type T among the main window's children.
template <class T>
T* shown(QWidget& parent) {
    for (T* d : parent.findChildren<T*>())
        if (d->isVisible()) return d;
    return nullptr;
}

fs::path recordings() {
    const fs::path dir =
        fs::path(FSV_BINARY_DIR) / "test-recordings" / ("viewer-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    for (auto* f :
         {"Cam01/20261201/100000.avi", "Cam02/20261201/120000.avi", "Aud01/20261201/100000.wav"}) {
        fs::create_directories((dir / f).parent_path());
        std::ofstream(dir / f);
    }
    return dir;
}

std::vector<std::string> simArgs() {
    return {"--recordings", recordings().string(), "--user", "admin", "--password", "pw", "--name",
            "Yard DVR"};
}

using fsv::test::firstAvi;

// The share of a panel's pixels that are not (nearly) black.
double litShare(QWidget* panel) {
    const QImage image = panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
    qsizetype lit = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) + qGreen(c) + qBlue(c) > 48) ++lit;
        }
    return image.isNull() ? 0.0 : double(lit) / double(image.width() * image.height());
}

}  // namespace

class ViewerTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    PromptScript script_;
    std::unique_ptr<Viewer> viewer_;

    fs::path home() const { return dir_->filePath(QStringLiteral("home")).toStdString(); }
    fs::path config() const { return dir_->filePath(QStringLiteral("config")).toStdString(); }
    std::map<std::string, std::string> env() const {
        return {{"FARSIGHT_HOME", home().string()}, {"FARSIGHT_CONFIG", config().string()}};
    }

    Viewer& startViewer() {
        viewer_ = std::make_unique<Viewer>();
        viewer_->start();
        return *viewer_;
    }
    QToolButton* toolbarButton(const char* name) {
        return viewer_->window().findChild<QToolButton*>(QString::fromLatin1(name));
    }
    int connections() {
        return viewer_->window().findChild<QTreeWidget*>("connectionList")->topLevelItemCount();
    }

    void connectThroughDialog(const SimProcess& sim, const char* password) {
        QTest::mouseClick(toolbarButton("connectButton"), Qt::LeftButton);
        ConnectToDialog* d = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((d = shown<ConnectToDialog>(viewer_->window())), kWait);
        d->findChild<QComboBox*>("addressCombo")->setCurrentText(QStringLiteral("127.0.0.1"));
        d->findChild<QLineEdit*>("portEdit")->setText(QString::number(sim.port()));
        d->findChild<QLineEdit*>("idEdit")->setText(QStringLiteral("admin"));
        d->findChild<QLineEdit*>("passwordEdit")->setText(QString::fromLatin1(password));
        QTest::mouseClick(d->findChild<QPushButton*>("connectButton"), Qt::LeftButton);
        QVERIFY(!d->isVisible());
    }

    fsv::playback::LocalChannel* channelAt(int position) {
        auto* p = dynamic_cast<fsv::playback::LocalPlayer*>(
            viewer_->backend().channels().playerAt(position));
        return p ? &p->channel() : nullptr;
    }

  private Q_SLOTS:
    void openAviFilesPlayInPanels();
    void streamsPlayInPanelsThenGoOnAsLocalFiles();
    void streamCutOffStaysPausedOnItsLastPicture();
    void listWindowsFollowTheirCommands();
    void channelPagesReachEveryChannel();
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        qputenv("FARSIGHT_HOME", QByteArray::fromStdString(home().string()));
        qputenv("FARSIGHT_CONFIG", QByteArray::fromStdString(config().string()));
        script_ = PromptScript{};
        Prompts::setScript(&script_);
    }
    void cleanup() {
        viewer_.reset();
        Prompts::setScript(nullptr);
        dir_.reset();
    }

    // A command as the user gives it: through its action, which must be enabled.
    void trigger(int id) {
        auto* action = viewer_->window().findChild<QAction*>(QStringLiteral("command%1").arg(id));
        QVERIFY(action);
        QVERIFY2(action->isEnabled(), qPrintable(action->text()));
        action->trigger();
    }

    void messageBoxesShowTheButtonsOfTheirType() {
        Prompts::setScript(nullptr);
        struct Case {
            BoxStyle style;
            QStringList buttons;  // sorted
            QString click;
            BoxAnswer answer;
            QMessageBox::Icon icon;
        };
        const Case cases[] = {
            {{BoxButtons::Ok, BoxIcon::Stop}, {"OK"}, "OK", BoxAnswer::Ok, QMessageBox::Critical},
            {{BoxButtons::OkCancel, BoxIcon::Warning},
             {"Cancel", "OK"},
             "Cancel",
             BoxAnswer::Cancel,
             QMessageBox::Warning},
            {{BoxButtons::YesNo, BoxIcon::Question},
             {"No", "Yes"},
             "Yes",
             BoxAnswer::Yes,
             QMessageBox::Question},
            {{BoxButtons::YesNoCancel, BoxIcon::Question},
             {"Cancel", "No", "Yes"},
             "No",
             BoxAnswer::No,
             QMessageBox::Question},
            {{BoxButtons::RetryCancel, BoxIcon::Information},
             {"Cancel", "Retry"},
             "Retry",
             BoxAnswer::Retry,
             QMessageBox::Information},
            {{BoxButtons::RetryCancel, BoxIcon::Information},
             {"Cancel", "Retry"},
             "Cancel",
             BoxAnswer::Cancel,
             QMessageBox::Information},
            {{BoxButtons::Ok, BoxIcon::None}, {"OK"}, "OK", BoxAnswer::Ok, QMessageBox::NoIcon},
        };
        for (const Case& c : cases) {
            auto seen = fsv::test::answerNextBox(c.click);
            const BoxAnswer answer = Prompts::box(nullptr, "Go on?", c.style);
            QVERIFY(seen->clicked);
            QCOMPARE(answer, c.answer);
            QCOMPARE(seen->text, QStringLiteral("Go on?"));
            QCOMPARE(seen->icon, c.icon);
            auto buttons = seen->buttons;
            buttons.sort();
            QCOMPARE(buttons, c.buttons);
            QCOMPARE(seen->accessibleNames, seen->buttons);  // named for screen readers
        }

        // The keyboard: Enter takes the first button, Escape the one that declines.
        struct Key {
            BoxButtons buttons;
            Qt::Key key;
            BoxAnswer answer;
        };
        for (const Key& k : {Key{BoxButtons::RetryCancel, Qt::Key_Return, BoxAnswer::Retry},
                             Key{BoxButtons::RetryCancel, Qt::Key_Escape, BoxAnswer::Cancel},
                             Key{BoxButtons::YesNo, Qt::Key_Escape, BoxAnswer::No},
                             Key{BoxButtons::YesNoCancel, Qt::Key_Escape, BoxAnswer::Cancel}}) {
            QTimer::singleShot(0, [key = k.key] {
                QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
                QTest::keyClick(QApplication::activeModalWidget(), key);
            });
            QCOMPARE(Prompts::box(nullptr, "Go on?", {k.buttons, BoxIcon::None}), k.answer);
        }
    }

    // What a worker reports reaches its window through the backend's typed signals: a box with
    // its buttons and icon, the event list window's waiting state and controls.
    void workerReportsReachTheirWindows() {
        startViewer();
        auto& backend = viewer_->backend();
        auto& list = backend.controller().eventList();
        std::thread([&] {
            backend.user().messageBox("Disk full", fsv::mb::kOkCancel | fsv::mb::kIconWarning);
            std::lock_guard lock(list.lock());
            list.postToWindow(fsv::EventListMessage::Waiting, 0, 0);
            list.setControlsEnabled(false);
        }).join();
        QTRY_VERIFY(script_.saw("Disk full"));
        QCOMPARE(script_.shown.back().style, (BoxStyle{BoxButtons::OkCancel, BoxIcon::Warning}));
        QTRY_VERIFY(viewer_->eventList().waiting());
        QTRY_VERIFY(!viewer_->eventList().recorders().isEnabled());
        std::thread([&] {
            std::lock_guard lock(list.lock());
            list.postToWindow(fsv::EventListMessage::Waiting, 1, 0);
            list.setControlsEnabled(true);
        }).join();
        QTRY_VERIFY(!viewer_->eventList().waiting());
        QTRY_VERIFY(viewer_->eventList().recorders().isEnabled());
    }

    // Exit with connections, the event list, the list windows and the period dialog open: Yes
    // in the real question ends the event loop with status 0 and leaves no window on screen.
    void exitEndsTheProgramWithEveryWindowOpen() {
        SimProcess sim(simArgs());
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        fsv::ConnectRequest r;
        r.address = "127.0.0.1";
        r.port = sim.port();
        r.id = "admin";
        r.password = "pw";
        QVERIFY(viewer_->backend().connect(r));
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(viewer_->eventList().recorders().count() == 1, kWait);
        for (int id : {cmd::kDownloadList, cmd::kDownloadHistory, cmd::kChannelList}) trigger(id);
        if (!viewer_->eventList().isVisible()) trigger(cmd::kNormal);
        QTest::mouseClick(viewer_->eventList().findChild<QPushButton*>("periodButton"),
                          Qt::LeftButton);
        QTRY_VERIFY(viewer_->periodDialog().isVisible());
        QVERIFY(viewer_->downloadList().isVisible() && viewer_->eventList().isVisible());

        Prompts::setScript(nullptr);
        auto seen = fsv::test::answerNextBox(QStringLiteral("Yes"));
        QTimer::singleShot(0, &viewer_->window(), [this] { viewer_->window().close(); });
        // Were the program to go on, this ends the loop with another status.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(kWait);
        const int status = QApplication::exec();
        QVERIFY(seen->clicked);
        QCOMPARE(seen->text, QString::fromLatin1(kStillConnectedQuestion));
        QCOMPARE(status, 0);
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName() + " " + w->windowTitle()));
        QVERIFY(viewer_->backend().sessions().empty());
    }

    void connectToLogsInAndRefusesAWrongPassword() {
        SimProcess sim(simArgs());
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        QTRY_VERIFY(viewer_->window().isVisible());

        connectThroughDialog(sim, "pw");
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 1, kWait);
        auto* list = viewer_->window().findChild<QTreeWidget*>("connectionList");
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("Yard DVR"));
        QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItem(0)->text(3), QStringLiteral("2"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(viewer_->window().buttonState(kToolbarLine, kConnectButton), -1,
                                  kWait);
        QCOMPARE(fsv::state::loadLoginLog(fsv::state::loginLogPath()).value,
                 std::vector<std::string>{"127.0.0.1"});

        script_.realBoxes = true;
        auto refused = fsv::test::answerNextBox(QStringLiteral("OK"));
        connectThroughDialog(sim, "wrong");
        QTRY_VERIFY_WITH_TIMEOUT(refused->shown, kWait);
        QVERIFY(refused->clicked);
        QCOMPARE(refused->text, QStringLiteral("Password Error! (127.0.0.1)"));
        QCOMPARE(refused->icon, QMessageBox::Critical);
        QTRY_VERIFY_WITH_TIMEOUT(!viewer_->backend().connecting(), kWait);
        QCOMPARE(connections(), 1);

        // The connective status saved and loaded again: one more connection to the same recorder.
        const fs::path set = home() / "site.sav";
        script_.saveFiles = {set};
        viewer_->window().runCommand(cmd::kSaveConnectiveStatus);
        auto saved = fsv::state::loadConnectionSet(set);
        QCOMPARE(saved.value.size(), size_t(1));
        QCOMPARE(saved.value[0].port, sim.port());
        QCOMPARE(saved.value[0].password, std::string("pw"));
        script_.openFiles = {set};
        viewer_->window().runCommand(cmd::kLoadConnectiveStatus);
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 2, kWait);

        // Exit with connections: No keeps everything running, Yes ends it without hanging.
        auto stay = fsv::test::answerNextBox(QStringLiteral("No"));
        viewer_->window().close();
        QVERIFY(stay->clicked);
        QCOMPARE(stay->text, QString::fromLatin1(kStillConnectedQuestion));
        QVERIFY(viewer_->window().isVisible());
        QCOMPARE(connections(), 2);
        auto leave = fsv::test::answerNextBox(QStringLiteral("Yes"));
        QElapsedTimer t;
        t.start();
        QVERIFY(viewer_->window().close());
        QVERIFY(leave->clicked);
        QVERIFY(!viewer_->window().isVisible());
        QVERIFY2(t.elapsed() < 10000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(viewer_->backend().sessions().empty());
    }

    void addressBookOfFsvConnectsAndRecorderCloseIsReported() {
        SimProcess sim(simArgs());
        QVERIFY2(sim.started(), sim.error().c_str());
        auto add =
            fsv::test::runProgram(fsv::test::fsvPath(),
                                  {"book", "add", "Yard", "127.0.0.1", "-u", "admin", "-p", "pw",
                                   "--port", std::to_string(sim.port()), "--group", "Site"},
                                  env());
        QVERIFY2(add.status == 0, add.err.c_str());
        startViewer();

        QTest::mouseClick(toolbarButton("addressBookButton"), Qt::LeftButton);
        AddressBookDialog* book = nullptr;
        QTRY_VERIFY((book = shown<AddressBookDialog>(viewer_->window())));
        auto* tree = book->findChild<QTreeWidget*>("bookTree");
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("Site"));
        QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QStringLiteral("Yard"));
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
        QCOMPARE(book->findChild<QLineEdit*>("addressEdit")->text(), QStringLiteral("127.0.0.1"));
        QTest::mouseClick(book->findChild<QPushButton*>("connectButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 1, kWait);

        // A group made here is in the file fsv reads.
        QTest::mouseClick(toolbarButton("addressBookButton"), Qt::LeftButton);
        QTRY_VERIFY((book = shown<AddressBookDialog>(viewer_->window())));
        QTest::mouseClick(book->findChild<QPushButton*>("newGroupButton"), Qt::LeftButton);
        QTest::mouseClick(book->findChild<QPushButton*>("closeButton"), Qt::LeftButton);
        QTRY_VERIFY(!shown<AddressBookDialog>(viewer_->window()));
        auto list = fsv::test::runProgram(fsv::test::fsvPath(), {"book", "list", "--json"}, env());
        QVERIFY2(list.status == 0, list.err.c_str());
        QVERIFY2(list.out.find("\"New Group\"") != std::string::npos, list.out.c_str());
        QVERIFY2(list.out.find("\"Yard\"") != std::string::npos, list.out.c_str());

        // The recorder goes away: the session leaves the list and the user is told in a box.
        script_.realBoxes = true;
        auto told = fsv::test::answerNextBox(QStringLiteral("OK"));
        sim.stop();
        QTRY_VERIFY_WITH_TIMEOUT(told->shown, kWait);
        QVERIFY(told->clicked);
        QCOMPARE(told->text, QStringLiteral("Yard DVR (127.0.0.1) is closed by remote site!"));
        QCOMPARE(told->buttons, QStringList{QStringLiteral("OK")});
        QTRY_COMPARE(connections(), 0);
        QCOMPARE(viewer_->window().buttonState(kToolbarLine, kCloseButton), 0);
    }

    void closeAllConnectionsAsksAndEndsEveryOne() {
        SimProcess sim(simArgs());
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        fsv::ConnectRequest r;
        r.address = "127.0.0.1";
        r.port = sim.port();
        r.id = "admin";
        r.password = "pw";
        QVERIFY(viewer_->backend().connect(r));
        QVERIFY(viewer_->backend().connect(r));  // queued behind the first
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 2, kWait);
        script_.realBoxes = true;
        auto no = fsv::test::answerNextBox(QStringLiteral("No"));
        trigger(cmd::kCloseAllConnections);
        QVERIFY(no->clicked);
        QCOMPARE(no->text, QString::fromLatin1(kCloseAllQuestion));
        QCOMPARE(no->icon, QMessageBox::Question);
        QCOMPARE(connections(), 2);
        auto yes = fsv::test::answerNextBox(QStringLiteral("Yes"));
        trigger(cmd::kCloseAllConnections);
        QVERIFY(yes->clicked);
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 0, kWait);
        QVERIFY(viewer_->backend().sessions().empty());
        QCOMPARE(viewer_->window().buttonState(kToolbarLine, kCloseButton), 0);
    }

    void addressBookChecksAndAnUnreadableBook() {
        fs::create_directories(home());
        const fs::path file = fsv::state::addressBookPath();
        std::ofstream(file) << "NOT_A_BOOK";
        startViewer();
        QTRY_VERIFY(viewer_->window().isVisible());
        viewer_->window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&viewer_->window()));
        QTest::keyClick(&viewer_->window(), Qt::Key_2, Qt::ControlModifier);  // the shortcut
        AddressBookDialog* book = nullptr;
        QTRY_VERIFY((book = shown<AddressBookDialog>(viewer_->window())));
        QVERIFY(script_.saw(fsv::state::kUnexpectedFileFormat));
        QCOMPARE(book->findChild<QTreeWidget*>("bookTree")->topLevelItemCount(), 0);
        QCOMPARE(book->findChild<QLabel*>("nameLabel")->text().toStdString(),
                 std::string(fsv::state::kEmptyBookText));
        QVERIFY(!book->findChild<QPushButton*>("connectButton")->isEnabled());
        // Looking does not replace a file that could not be read.
        QTest::mouseClick(book->findChild<QPushButton*>("closeButton"), Qt::LeftButton);
        QTRY_VERIFY(!shown<AddressBookDialog>(viewer_->window()));
        QCOMPARE(fs::file_size(file), uintmax_t(10));

        // A change does, and the unreadable file is kept as the backup.
        QTest::mouseClick(toolbarButton("addressBookButton"), Qt::LeftButton);
        QTRY_VERIFY((book = shown<AddressBookDialog>(viewer_->window())));
        QTest::mouseClick(book->findChild<QPushButton*>("newServerButton"), Qt::LeftButton);
        QCOMPARE(fs::file_size(fsv::state::addressBookBackupPath(file)), uintmax_t(10));
        auto* name = book->findChild<QLineEdit*>("nameEdit");
        auto* port = book->findChild<QLineEdit*>("portEdit");
        QCOMPARE(name->text(), QStringLiteral("New Server"));

        // Refused commits: an empty name gets the stored one back, a bad port keeps what was
        // typed; neither lets the next operation run.
        name->clear();
        QTest::mouseClick(book->findChild<QPushButton*>("newGroupButton"), Qt::LeftButton);
        QCOMPARE(script_.shown.back().text, std::string(fsv::state::kEnterName));
        QCOMPARE(name->text(), QStringLiteral("New Server"));
        port->setText(QStringLiteral("99"));
        QTest::mouseClick(book->findChild<QPushButton*>("newGroupButton"), Qt::LeftButton);
        QCOMPARE(script_.shown.back().text, std::string(fsv::state::kPortRangeMessage));
        QCOMPARE(port->text(), QStringLiteral("99"));
        QCOMPARE(book->findChild<QTreeWidget*>("bookTree")->topLevelItemCount(), 1);
        port->setText(QStringLiteral("6000"));
        QTest::mouseClick(book->findChild<QPushButton*>("closeButton"), Qt::LeftButton);
        auto saved = fsv::state::loadAddressBook(file);
        QCOMPARE(saved.status, fsv::state::ReadStatus::Ok);
        QCOMPARE(saved.value.root().entries.size(), size_t(1));
        QCOMPARE(saved.value.root().entries[0].port, uint16_t(6000));
    }

    void cancelEndsTheWaitForASilentRecorder() {
        // Accepts the TCP connection (the kernel does) and never says a word.
        fsv::test::LoopbackListener silent(4);
        QVERIFY(silent.listening());
        startViewer();

        fsv::ConnectRequest r;
        r.address = "127.0.0.1";
        r.port = silent.port();
        QVERIFY(viewer_->backend().connect(r));
        auto* status = viewer_->window().statusWindow();
        QTRY_VERIFY_WITH_TIMEOUT(status->isVisible(), kWait);
        QCOMPARE(status->text(), QStringLiteral("Connecting..."));
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(10);
        QTRY_VERIFY(ticks >= 5);  // the event loop runs while the connect waits
        QVERIFY(viewer_->backend().connecting());

        QElapsedTimer t;
        t.start();
        QTest::mouseClick(status->findChild<QPushButton*>("statusCancel"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!viewer_->backend().connecting(), kWait);
        QVERIFY2(t.elapsed() < 10000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!status->isVisible());
        QCOMPARE(connections(), 0);
    }

    // A peer that takes the TCP connection and never gives the verdict, and a recorder that
    // gives it and then says nothing: with the settings' wait at a second, each connect ends
    // with a box naming the recorder, and nothing is left waiting.
    void connectWaitEndsAfterTheSettingsWait() {
        fs::create_directories(config());
        std::ofstream(config() / "FarsightViewer.ini") << "[Connection]\nWait=1\n";
        fsv::test::LoopbackListener mute(4);
        QVERIFY(mute.listening());
        SimProcess sim({"--recordings", recordings().string(), "--fault", "silent-after-verdict"});
        QVERIFY2(sim.started(), sim.error().c_str());
        startViewer();
        script_.realBoxes = true;
        for (const uint16_t port : {mute.port(), sim.port()}) {
            auto seen = fsv::test::answerNextBox(QStringLiteral("OK"));
            fsv::ConnectRequest r;
            r.address = "127.0.0.1";
            r.port = port;
            QVERIFY(viewer_->backend().connect(r));
            QTRY_VERIFY_WITH_TIMEOUT(seen->shown, kWait);
            QVERIFY(seen->clicked);
            QCOMPARE(seen->text, QStringLiteral("Timeout: no answer from 127.0.0.1 for 1 second."));
            QCOMPARE(seen->icon, QMessageBox::Critical);
            QTRY_VERIFY_WITH_TIMEOUT(!viewer_->backend().connecting(), kWait);
            QCOMPARE(connections(), 0);
            QTRY_VERIFY(!viewer_->window().statusWindow()->isVisible());
        }
        mute.close();
    }

    void questionsFromWorkersAreAskedOnTheUiThread() {
        startViewer();
        auto& user = viewer_->backend().user();
        bool onUiThread = false;
        script_.onBox = [&](const PromptScript::Box&) {
            onUiThread = QThread::currentThread() == qApp->thread();
        };
        script_.answers = {BoxAnswer::Yes};
        std::atomic<int> answer{0};
        std::thread asker([&] {
            answer = user.messageBox("Continue?", fsv::mb::kYesNo | fsv::mb::kIconQuestion, true);
        });
        QTRY_COMPARE_WITH_TIMEOUT(answer.load(), fsv::mb::kIdYes, kWait);
        asker.join();
        QVERIFY(onUiThread);

        // A question still waiting when the program ends is answered "no", and nothing shows.
        std::thread waiting([&] {
            answer = user.messageBox("Continue?", fsv::mb::kYesNo | fsv::mb::kIconQuestion, true);
        });
        viewer_->backend().shutdown();  // no event runs in between
        waiting.join();
        QCOMPARE(answer.load(), fsv::mb::kIdNo);
        QCoreApplication::processEvents();
        QCOMPARE(script_.shown.size(), size_t(1));
        // Deferred boxes are dropped from then on.
        QCOMPARE(user.messageBox("late", fsv::mb::kIconStop), fsv::mb::kIdNo);
        script_.onBox = {};
    }

    // File dialogs start where their callers say: a worker's save dialog at the file it would
    // replace, Load Resume File in the data folder where the resume files are kept.
    void fileDialogsStartWhereTheyAreAskedTo() {
        startViewer();
        auto& user = viewer_->backend().user();
        const fs::path current = home() / "Cam01" / "100000.avi";
        std::thread asker([&] { user.saveFileDialog(current, "AVI File(*.AVI)||", "avi"); });
        QTRY_COMPARE_WITH_TIMEOUT(script_.dialogStarts.size(), size_t(1), kWait);
        asker.join();
        QCOMPARE(script_.dialogStarts[0], current);
        trigger(cmd::kLoadResumeFile);
        QCOMPARE(script_.dialogStarts.size(), size_t(2));
        QCOMPARE(script_.dialogStarts[1], fsv::platform::dataFolder());
    }

    void unfinishedWorkAtStart() {
        // A header without records goes without a question; one with a record is asked about.
        fs::create_directories(home());
        fsv::state::ResumeData data;
        data.header.address = "127.0.0.1";
        data.header.id = "admin";
        fsv::state::ResumeRecord rec;
        rec.eventKey = "20261201100000";
        rec.path = "/tmp/x.avi";
        rec.type = 11;
        data.records.push_back(rec);
        QVERIFY(fsv::state::saveResumeFile(home() / "Auto2.rsm", data));
        data.records.clear();
        QVERIFY(fsv::state::saveResumeFile(home() / "Auto1.rsm", data));
        QCOMPARE(fs::file_size(home() / "Auto1.rsm"), uintmax_t(101));

        script_.realBoxes = true;
        auto no = fsv::test::answerNextBox(QStringLiteral("No"));
        startViewer();
        QTRY_VERIFY_WITH_TIMEOUT(no->shown, kWait);
        QVERIFY(no->clicked);
        QCOMPARE(no->text, QString::fromLatin1(fsv::state::kUnfinishedWorkQuestion));
        QCOMPARE(no->icon, QMessageBox::Question);
        QCOMPARE(script_.shown.size(), size_t(1));
        QVERIFY(!fs::exists(home() / "Auto1.rsm"));
        QVERIFY(!fs::exists(home() / "Auto2.rsm"));

        // Without connections the exit asks nothing.
        QVERIFY(viewer_->window().close());
        QCOMPARE(script_.shown.size(), size_t(1));
    }

    void setupWritesWhatTheReadersRead() {
        const fs::path rec = dir_->filePath(QStringLiteral("rec")).toStdString();
        fsv::sim::GenerateOptions o;
        o.cameras = 1;
        o.days = 1;
        o.eventsPerDay = 1;
        o.audioChannels = 0;
        std::string error;
        QVERIFY2(fsv::sim::generateRecordings(rec, o, &error), error.c_str());
        startViewer();
        // A channel playing: its caption follows the setup at once.
        script_.openFiles = {firstAvi(rec)};
        viewer_->window().dispatchButton(kToolbarLine, kOpenAviButton);
        DisplayPanel* panel = viewer_->window().channelView()->panel(0);
        QTRY_COMPARE_WITH_TIMEOUT(panel->caption(), QStringLiteral("1. Local File"), kWait);
        // The first start leaves a complete file with the size chosen from the screen.
        const auto first = fsv::state::readSettings(fsv::state::settingsPath());
        QCOMPARE(first.tell, true);
        QTest::mouseClick(toolbarButton("setupButton"), Qt::LeftButton);
        SetupDialog* d = nullptr;
        QTRY_VERIFY((d = shown<SetupDialog>(viewer_->window())));
        QCOMPARE(viewer_->window().buttonState(kToolbarLine, kSetupButton), 1);
        d->findChild<QCheckBox*>("overwriteCheck")->setChecked(true);
        d->findChild<QCheckBox*>("tellCheck")->setChecked(false);
        d->findChild<QCheckBox*>("serverNameCheck")->setChecked(false);
        d->findChild<QCheckBox*>("channelNumCheck")->setChecked(false);
        d->findChild<QComboBox*>("resolutionCombo")->setCurrentIndex(2);
        QTest::mouseClick(d->findChild<QPushButton*>("okButton"), Qt::LeftButton);
        QTRY_COMPARE(viewer_->window().buttonState(kToolbarLine, kSetupButton), -1);
        QCOMPARE(panel->caption(), QStringLiteral(" Local File"));

        auto s = fsv::state::readSettings(fsv::state::settingsPath());
        QCOMPARE(s.overwrite, true);
        QCOMPARE(s.tell, false);
        QCOMPARE(s.channelNum, false);
        QCOMPARE(s.serverName, false);
        QCOMPARE(s.captionPartCount(), 1);
        QCOMPARE(s.panelWidth, 1280);
        QCOMPARE(s.panelHeight, 1024);
        QCOMPARE(s.maxChannel, first.maxChannel);

        // The Connect To dialog's log, read back by the log's own reader.
        QTest::mouseClick(toolbarButton("connectButton"), Qt::LeftButton);
        ConnectToDialog* c = nullptr;
        QTRY_VERIFY((c = shown<ConnectToDialog>(viewer_->window())));
        c->findChild<QLineEdit*>("idEdit")->clear();
        QTest::mouseClick(c->findChild<QPushButton*>("connectButton"), Qt::LeftButton);
        QVERIFY(script_.saw(fsv::state::kEnterId));
        QVERIFY(c->isVisible());
        QTest::mouseClick(c->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
        QVERIFY(!fs::exists(fsv::state::loginLogPath()));

        // Files that are not what they claim give the reader's message and nothing else.
        std::ofstream(home() / "bad.sav") << "KOR_FSV_Lin";
        std::ofstream(home() / "bad.rsm") << "KorFSV_Resume4";
        script_.openFiles = {home() / "bad.sav", home() / "bad.rsm"};
        viewer_->window().runCommand(cmd::kLoadConnectiveStatus);
        viewer_->window().runCommand(cmd::kLoadResumeFile);
        QTRY_COMPARE(script_.shown.size(), size_t(3));
        QCOMPARE(script_.shown[1].text, std::string(fsv::state::kUnexpectedFileFormat));
        QCOMPARE(script_.shown[2].text, std::string(fsv::state::kUnexpectedFileFormat));
        QVERIFY(!viewer_->backend().connecting());
    }

    void skinnedWindowKeepsEveryCommandReachable() {
        // The skin the build drew, in the data folder.
        fs::create_directories(home());
        fs::create_directory_symlink(fs::path(FSV_BINARY_DIR) / "Metal_Style",
                                     home() / "Metal_Style");
        startViewer();
        MainWindow& w = viewer_->window();
        auto* skin = w.skin();
        QVERIFY(skin);
        QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!w.menuBar()->isVisible());
        QCOMPARE(skin->size(), w.size());
        auto* connect = skin->button(kToolbarLine, kConnectButton);
        QCOMPARE(connect->accessibleName(), QStringLiteral("Connect To..."));
        // Without connections the close button is off, in the skin's look too.
        QCOMPARE(skin->button(kToolbarLine, kCloseButton)->look(),
                 int(fsv::ui::skin::LookDisabled));

        // A click on the skinned button goes through the dispatcher: the dialog, the look.
        QTest::mouseClick(connect, Qt::LeftButton);
        ConnectToDialog* d = nullptr;
        QTRY_VERIFY((d = shown<ConnectToDialog>(w)));
        QCOMPARE(connect->look(), int(fsv::ui::skin::LookHighlighted));
        QTest::mouseClick(d->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
        QTRY_COMPARE(connect->look(), int(fsv::ui::skin::LookNormal));
        // The toolbar's state reaches the skinned button.
        w.setButtonState(kToolbarLine, kConnectButton, 0);
        QCOMPARE(connect->look(), int(fsv::ui::skin::LookDisabled));
        w.setButtonState(kToolbarLine, kConnectButton, -1);

        // The keyboard: the toolbar's shortcut and F10 for the main menu.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_2, Qt::ControlModifier);
        AddressBookDialog* book = nullptr;
        QTRY_VERIFY((book = shown<AddressBookDialog>(w)));
        QTest::mouseClick(book->findChild<QPushButton*>("closeButton"), Qt::LeftButton);
        QTRY_VERIFY(!shown<AddressBookDialog>(w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F10);
        QTRY_VERIFY(w.mainMenu()->isVisible());
        QCOMPARE(w.mainMenu()->actions().size(), qsizetype(5));
        w.mainMenu()->hide();

        // The caption: minimise, and exit without connections asks nothing.
        QTest::mouseClick(skin->button(2, 0), Qt::LeftButton);
        QTRY_VERIFY(w.windowState() & Qt::WindowMinimized);
        QTest::mouseClick(skin->button(2, 1), Qt::LeftButton);
        QTRY_VERIFY(!w.isVisible());
        QVERIFY(script_.shown.empty());
    }

    // Skins that cannot carry the window's controls: garbage, the drawn skin with every bitmap
    // gone, and the drawn skin with its toolbar placed far outside the surface.
    void unusableSkinLeavesThePlainWindow_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("garbage") << "garbage";
        QTest::newRow("no bitmaps") << "no bitmaps";
        QTest::newRow("giant coordinates") << "giant coordinates";
    }
    void unusableSkinLeavesThePlainWindow() {
        QFETCH(QString, damage);
        for (const char* folder : {"FarsightViewer_CommRes", "FarsightViewer_CommRes1024",
                                   "FarsightViewer_CommRes1280"}) {
            const fs::path to = home() / "Metal_Style" / folder;
            fs::create_directories(to);
            if (damage == "garbage") {
                std::ofstream(to / "skin_e.ini") << "\x01\x02garbage";
                continue;
            }
            for (const auto& e :
                 fs::directory_iterator(fs::path(FSV_BINARY_DIR) / "Metal_Style" / folder))
                if (e.path().extension() != ".bmp" || damage != "no bitmaps")
                    fs::copy_file(e.path(), to / e.path().filename());
            if (damage != "giant coordinates") continue;
            // Every toolbar button moved to x = 8000.
            std::ifstream in(to / "skin_e.ini");
            std::string text, line;
            bool toolbar = false;
            while (std::getline(in, line)) {
                if (!line.empty() && line[0] == '[') toolbar = line.rfind("[ButtonTool]", 0) == 0;
                const size_t eq = line.find('='), comma = line.find(',', eq);
                const size_t next = comma == std::string::npos ? comma : line.find(',', comma + 1);
                if (toolbar && next != std::string::npos)
                    line = line.substr(0, comma + 1) + "8000" + line.substr(next);
                text += line + "\n";
            }
            in.close();
            std::ofstream(to / "skin_e.ini") << text;
        }
        startViewer();
        QTRY_VERIFY(viewer_->window().isVisible());
        QVERIFY(!viewer_->window().skin());
        QVERIFY(!(viewer_->window().windowFlags() & Qt::FramelessWindowHint));
        QVERIFY(toolbarButton("connectButton")->isVisible());
    }

    void secondInstanceEndsAtOnce() {
        fs::create_directories(home());
        auto e = env();
        e["QT_QPA_PLATFORM"] = "offscreen";
        fsv::test::detail::SpawnArgs first(FSV_BINARY_DIR "/app/FarsightViewer", {}, e);
        pid_t pid = -1;
        QCOMPARE(::posix_spawn(&pid, first.argv[0], nullptr, nullptr, first.argv.data(),
                               first.envp.data()),
                 0);
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(home() / "FarsightViewer.lock"), kWait);
        QElapsedTimer t;
        t.start();
        auto second = fsv::test::runProgram(FSV_BINARY_DIR "/app/FarsightViewer", {}, e);
        const qint64 ms = t.elapsed();
        int status = 0;
        const pid_t running = ::waitpid(pid, &status, WNOHANG);
        ::kill(pid, SIGTERM);
        ::waitpid(pid, &status, 0);
        QCOMPARE(second.status, 0);
        QVERIFY2(second.out.empty() && second.err.empty(), second.err.c_str());
        QVERIFY2(ms < 10000, qPrintable(QString::number(ms)));
        QCOMPARE(running, 0);  // the first one was still there
    }
};

// Open AVI plays each chosen file in a panel of its own, in the order chosen; the current channel
// pauses, plays and disconnects; the same file twice and one past the maximum are refused; the
// layout buttons set the panels on show.
void ViewerTest::openAviFilesPlayInPanels() {
    const fs::path rec = fs::path(dir_->path().toStdString()) / "rec";
    fsv::sim::GenerateOptions o;
    o.cameras = 3;  // Motion JPEG 352 x 240, MPEG-4 704 x 480, field-only MPEG-4 704 x 240
    o.days = 1;
    o.eventsPerDay = 1;
    o.secondsPerEvent = 20;  // still playing while the test runs
    o.audioChannels = 0;
    std::string error;
    QVERIFY2(fsv::sim::generateRecordings(rec, o, &error), error.c_str());
    const fs::path a = firstAvi(rec / "Cam01"), b = firstAvi(rec / "Cam02"),
                   c = firstAvi(rec / "Cam03");
    QVERIFY(!a.empty() && !b.empty() && !c.empty());

    Viewer& v = startViewer();
    MainWindow& w = v.window();
    ChannelView* view = w.channelView();
    QVERIFY(view);
    QCOMPARE(view->channelsPerPage(), 4);
    QVERIFY(!w.findChild<QAction*>("command32819")->isEnabled());  // no channel yet

    // Whichever is open first, the file chosen first takes channel 1.
    script_.openFiles = {b, a};
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    QVERIFY(script_.shown.empty());
    for (int panel : {0, 1}) {
        DisplayPanel* p = view->panel(panel);
        QTRY_VERIFY_WITH_TIMEOUT(p->showing(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(p->picturesPainted() > 2, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(litShare(p) > 0.05, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(p->caption(), QStringLiteral("%1. Local File").arg(panel + 1),
                                  kWait);
    }
    QVERIFY(!view->panel(2)->showing());
    QCOMPARE(v.backend().channels().usedCount(), 2);
    QCOMPARE(channelAt(0)->path(), b);
    QCOMPARE(channelAt(1)->path(), a);

    // The same file again: refused, nothing new opens.
    script_.openFiles = {a};
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    QVERIFY(script_.saw(kFilePlaying));
    QCOMPARE(v.backend().channels().usedCount(), 2);

    // Pause and Play act on the channel of the active panel.
    view->setActivePanel(1);
    QVERIFY(w.findChild<QAction*>("command32817")->isEnabled());
    auto* second = channelAt(1);
    QVERIFY(second);
    trigger(cmd::kPause);
    QVERIFY(second->paused());
    QVERIFY(!channelAt(0)->paused());
    trigger(cmd::kPlay);
    QVERIFY(!second->paused());
    trigger(cmd::kPause);

    // Disconnect asks; No keeps the channel, Yes closes it and its panel empties.
    script_.realBoxes = true;
    for (const char* answer : {"No", "Yes"}) {
        auto seen = fsv::test::answerNextBox(QString::fromLatin1(answer));
        trigger(cmd::kDisconnect);
        QVERIFY(seen->clicked);
        QCOMPARE(seen->text, QString::fromLatin1(kCloseChannelQuestion));
        QCOMPARE(seen->icon, QMessageBox::Question);
        QCOMPARE(bool(channelAt(1)), answer == std::string("No"));
    }
    script_.realBoxes = false;
    QTRY_VERIFY_WITH_TIMEOUT(!view->panel(1)->showing(), kWait);
    QVERIFY(view->panel(0)->showing());
    QCOMPARE(v.backend().channels().usedCount(), 1);
    QVERIFY(!w.findChild<QAction*>("command32819")->isEnabled());

    // Past the maximum: refused with the message and the stop icon.
    v.backend().channels().setMaxChannels(1);
    script_.shown.clear();
    script_.openFiles = {c};
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    QVERIFY(script_.saw(kOverMaxChannel));
    QCOMPARE(script_.shown.back().style, (BoxStyle{BoxButtons::Ok, BoxIcon::Stop}));
    QCOMPARE(v.backend().channels().usedCount(), 1);

    // Layout buttons: one panel, then sixteen.
    w.dispatchButton(0, 0);
    QCOMPARE(view->channelsPerPage(), 1);
    QVERIFY(view->panel(0)->showing());
    w.dispatchButton(0, 3);
    QCOMPARE(view->channelsPerPage(), 16);
    QVERIFY(view->panel(0)->showing() && !view->panel(1)->showing());
}

// The list commands show and hide their windows and are checked while the window is visible;
// Normal shows the event list, Advanced and Select Disconnections the connection list window;
// the list windows are windows a screen reader names; the channel list lists the local file;
// the event list comes up with the recorder once its information has arrived.
void ViewerTest::listWindowsFollowTheirCommands() {
    const fs::path rec = fs::path(dir_->path().toStdString()) / "rec";
    fsv::sim::GenerateOptions o;
    o.cameras = 1;
    o.days = 1;
    o.eventsPerDay = 1;
    o.audioChannels = 0;
    std::string error;
    QVERIFY2(fsv::sim::generateRecordings(rec, o, &error), error.c_str());
    const fs::path avi = firstAvi(rec);

    Viewer& v = startViewer();
    MainWindow& w = v.window();
    const auto action = [&](int id) {
        return w.findChild<QAction*>(QStringLiteral("command%1").arg(id));
    };
    for (int id :
         {cmd::kChannelList, cmd::kDownloadList, cmd::kDownloadHistory, cmd::kConnectionList}) {
        QVERIFY(action(id)->isEnabled() && action(id)->isCheckable());
        QVERIFY(!action(id)->isChecked());
        trigger(id);
        QVERIFY2(action(id)->isChecked(), qPrintable(action(id)->text()));
        trigger(id);
        QVERIFY(!action(id)->isChecked());
    }

    // The modes show their windows (again and again) and are checked by their visibility,
    // also after the user closed a window by its own close button.
    auto* modeMenu = w.findChild<QMenu*>("modeMenu");
    const auto modeChecks = [&] {
        modeMenu->popup(w.mapToGlobal(QPoint(10, 10)));
        const QList<bool> checks{action(cmd::kNormal)->isChecked(),
                                 action(cmd::kAdvanced)->isChecked()};
        modeMenu->hide();
        return checks;
    };
    for (int i = 0; i < 2; ++i) trigger(cmd::kNormal);
    QVERIFY(v.eventList().isVisible());
    QCOMPARE(modeChecks(), (QList<bool>{true, false}));
    v.eventList().close();
    QCOMPARE(modeChecks(), (QList<bool>{false, false}));
    for (int i = 0; i < 2; ++i) trigger(cmd::kAdvanced);
    QVERIFY(v.connectionList().isVisible());
    QCOMPARE(modeChecks(), (QList<bool>{false, true}));
    v.connectionList().close();
    QCOMPARE(modeChecks(), (QList<bool>{false, false}));
    trigger(cmd::kSelectDisconnections);
    QVERIFY(v.connectionList().isVisible());
    v.connectionList().close();

    // Each list window is a window with a name, not a bare pane; the dialogs are named too.
    for (QWidget* list : std::initializer_list<QWidget*>{
             &v.eventList(), &v.channelList(), &v.connectionList(), &v.downloadList(),
             &v.downloadHistory(), &v.archiveWindow()}) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(list);
        QVERIFY(a);
        QCOMPARE(a->role(), QAccessible::Window);
        QVERIFY2(!a->text(QAccessible::Name).trimmed().isEmpty(), list->metaObject()->className());
    }
    ActionDialog actions(2);
    for (QWidget* dialog : std::initializer_list<QWidget*>{&v.periodDialog(), &actions})
        QVERIFY(!QAccessible::queryAccessibleInterface(dialog)
                     ->text(QAccessible::Name)
                     .trimmed()
                     .isEmpty());

    script_.openFiles = {avi};
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.channelView()->panel(0)->showing(), kWait);
    trigger(cmd::kChannelList);
    QVERIFY(v.channelList().isVisible());
    auto& list = v.channelList().list();
    QCOMPARE(list.topLevelItemCount(), 1);
    QCOMPARE(list.topLevelItem(0)->text(1), QStringLiteral("Local Host"));
    QCOMPARE(list.topLevelItem(0)->text(2), QString::fromStdString(avi.string()));
    trigger(cmd::kChannelList);
    QVERIFY(!v.channelList().isVisible());

    SimProcess sim(simArgs());
    QVERIFY2(sim.started(), sim.error().c_str());
    QVERIFY(!v.eventList().isVisible());
    connectThroughDialog(sim, "pw");
    QTRY_COMPARE_WITH_TIMEOUT(connections(), 1, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(v.eventList().isVisible(), kWait);
    QCOMPARE(v.eventList().recorders().count(), 1);
    QVERIFY(v.eventList().windowTitle().contains(QStringLiteral("Yard DVR")));
    QVERIFY(v.eventList().tree().isVisible());

    // The connection list window shows the connection and follows it as it goes.
    trigger(cmd::kConnectionList);
    auto& connectionsShown = v.connectionList().list();
    QTRY_COMPARE_WITH_TIMEOUT(connectionsShown.topLevelItemCount(), 1, kWait);
    script_.realBoxes = true;
    auto seen = fsv::test::answerNextBox(QStringLiteral("Yes"));
    trigger(cmd::kCloseAllConnections);
    QVERIFY(seen->clicked);
    QCOMPARE(seen->text, QString::fromLatin1(kCloseAllQuestion));
    QTRY_COMPARE_WITH_TIMEOUT(connections(), 0, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(connectionsShown.topLevelItemCount(), 0, kWait);
}

// Six channels on pages of four: Page Down and Page Up (menu items with those keys) move the page
// while there is one to move to; a channel chosen in the Channel List comes into view as the
// active panel; when the channels of the last page close, the page count follows.
void ViewerTest::channelPagesReachEveryChannel() {
    const fs::path rec = fs::path(dir_->path().toStdString()) / "rec";
    fsv::sim::GenerateOptions o;
    o.cameras = 1;
    o.days = 1;
    o.eventsPerDay = 1;
    o.audioChannels = 0;
    std::string error;
    QVERIFY2(fsv::sim::generateRecordings(rec, o, &error), error.c_str());
    const fs::path avi = firstAvi(rec);
    std::deque<fs::path> files;
    for (int i = 1; i <= 6; ++i) {
        files.push_back(rec / ("copy" + std::to_string(i) + ".avi"));
        fs::copy_file(avi, files.back());
    }

    Viewer& v = startViewer();
    MainWindow& w = v.window();
    ChannelView* view = w.channelView();
    QCOMPARE(view->channelsPerPage(), 4);
    auto* next = w.findChild<QAction*>(QStringLiteral("command%1").arg(cmd::kNextPage));
    auto* previous = w.findChild<QAction*>(QStringLiteral("command%1").arg(cmd::kPreviousPage));
    QVERIFY(next && previous);
    QCOMPARE(next->shortcut(), QKeySequence(Qt::Key_PageDown));
    QCOMPARE(previous->shortcut(), QKeySequence(Qt::Key_PageUp));
    QVERIFY(!next->isEnabled() && !previous->isEnabled());

    script_.openFiles = files;
    w.dispatchButton(kToolbarLine, kOpenAviButton);
    QTRY_VERIFY_WITH_TIMEOUT(channelAt(5) != nullptr, kWait);
    QCOMPARE(w.pageCount(), 2);
    QVERIFY(next->isEnabled() && !previous->isEnabled());

    trigger(cmd::kNextPage);
    QCOMPARE(view->page(), 1);
    QCOMPARE(w.currentChannel(), 4 + view->activePanel());
    QTRY_VERIFY_WITH_TIMEOUT(view->panel(0)->showing() && view->panel(1)->showing(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(view->panel(1)->caption(), QStringLiteral("6. Local File"), kWait);
    QVERIFY(!view->panel(2)->showing() && !view->panel(3)->showing());
    QVERIFY(!next->isEnabled() && previous->isEnabled());
    trigger(cmd::kPreviousPage);
    QCOMPARE(view->page(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(view->panel(0)->caption(), QStringLiteral("1. Local File"), kWait);

    // Channel 6 chosen in the Channel List (Enter on its row).
    trigger(cmd::kChannelList);
    auto& list = v.channelList().list();
    QCOMPARE(list.topLevelItemCount(), 6);
    list.setCurrentItem(list.topLevelItem(5));
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(view->page(), 1);
    QCOMPARE(view->activePanel(), 1);
    QCOMPARE(w.currentChannel(), 5);
    QVERIFY(view->panel(1)->active());

    // Channels 5 and 6 close: one page is left, and it is on show.
    for (int channel : {5, 4}) v.backend().closeChannel(channel);
    QTRY_COMPARE_WITH_TIMEOUT(view->page(), 0, kWait);
    QCOMPARE(w.pageCount(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(view->panel(3)->showing(), kWait);
    QVERIFY(!next->isEnabled() && !previous->isEnabled());
}

// "Download && Play" of one event against recorder-sim: the frames show in a panel while they
// arrive, pause and the steps act on the stream, the AVI file gets every frame once, and the
// channel then plays the file as a local file. "Just Play" of the same event writes nothing.
void ViewerTest::streamsPlayInPanelsThenGoOnAsLocalFiles() {
    namespace dl = fsv::download;
    const fs::path rec = fs::path(dir_->path().toStdString()) / "rec";
    fsv::sim::GenerateOptions o;
    o.cameras = 1;
    o.days = 1;
    o.eventsPerDay = 1;
    o.secondsPerEvent = 5;  // still arriving while the test steps it
    o.audioChannels = 0;
    std::string error;
    QVERIFY2(fsv::sim::generateRecordings(rec, o, &error), error.c_str());
    const fs::path source = firstAvi(rec);
    const int frames = fsv::media::AviReader().open(source);
    QVERIFY(frames > 10);
    SimProcess sim({"--recordings", rec.string()});
    QVERIFY2(sim.started(), sim.error().c_str());

    Viewer& v = startViewer();
    fsv::app::CoreBackend& backend = v.backend();
    ChannelView* view = v.window().channelView();
    fsv::ConnectRequest r;
    r.address = "127.0.0.1";
    r.port = sim.port();
    QVERIFY(backend.connect(r));
    fsv::client::SessionId session = -1;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            auto all = backend.controller().sessions();
            // Its queues are made once the server information is in: wait for them too.
            if (all.empty() || all[0].cameras == 0 ||
                !backend.controller().withDownloads(all[0].id, [](dl::DownloadSession&) {}))
                return false;
            session = all[0].id;
            return true;
        }(),
        kWait);

    const fs::path out = fs::path(dir_->path().toStdString()) / "out";
    auto item = [&](dl::Action action) {
        dl::WorkItem w;
        w.queue = dl::QueueKind::Video;
        w.action = action;
        w.channelCode = 1;
        w.channelName = "Cam01";
        w.eventKey = source.parent_path().filename().string() + source.stem().string();
        w.size = fs::file_size(source);
        if (action != dl::Action::JustPlay)
            w.outputPath = dl::makeOutputPath({out.string() + "/", w.queue, w.channelCode, w.date(),
                                               w.time(), w.dateId, w.lastFrame});
        return w;
    };
    auto enqueue = [&](const dl::WorkItem& w) {
        bool queued = false;
        backend.controller().withDownloads(session,
                                           [&](dl::DownloadSession& d) { queued = d.enqueue(w); });
        return queued;
    };
    auto status = [&](int position) { return backend.channelStatus(position); };
    auto published = [&](int panel) { return backend.frameSlots().slot(panel)->published(); };

    const dl::WorkItem download = item(dl::Action::DownloadAndPlay);
    QVERIFY(enqueue(download));
    DisplayPanel* panel = view->panel(0);
    QTRY_VERIFY_WITH_TIMEOUT(panel->showing(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(panel->picturesPainted() > 2, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(litShare(panel) > 0.05, kWait);
    QCOMPARE(panel->caption(), QStringLiteral("1. recorder-sim Cam01"));
    QVERIFY(!status(0)->local);
    QCOMPARE(status(0)->frameCount, static_cast<uint32_t>(frames));
    QVERIFY(status(0)->caption.find(" - Cam01: ") != std::string::npos);

    // Pause (a frame under way may still show), go to a frame ahead of the file, then one
    // frame back and forward: each shows its frame and the stream stays paused.
    QVERIFY(backend.channelCommand(0, fsv::playback::PlayCommand::Pause));
    QTRY_VERIFY_WITH_TIMEOUT(status(0)->paused, kWait);
    const uint32_t at = static_cast<uint32_t>(frames / 2);
    QVERIFY2(status(0)->position + 3 < at, "paused well before the middle");
    QVERIFY(backend.goToFrame(0, at));
    QTRY_COMPARE_WITH_TIMEOUT(status(0)->position, at, kWait);
    for (auto [command, expected] : {std::pair{fsv::playback::PlayCommand::StepBack, at - 1},
                                     {fsv::playback::PlayCommand::StepForward, at}}) {
        const uint64_t before = published(0);
        QVERIFY(backend.channelCommand(0, command));
        QTRY_COMPARE_WITH_TIMEOUT(status(0)->position, expected, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(published(0) > before, kWait);
        QVERIFY(status(0)->paused);
    }
    QVERIFY(backend.setChannelSpeed(0, 5));
    QCOMPARE(status(0)->speed, 5);
    QVERIFY(backend.channelCommand(0, fsv::playback::PlayCommand::Play));

    // The finished download goes on as a local file on the same channel.
    fsv::playback::LocalChannel* local = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((local = channelAt(0)) != nullptr, kWait);
    QCOMPARE(local->path(), fs::path(download.outputPath));
    QCOMPARE(backend.channels().kindAt(0), fsv::playback::ChannelKind::LocalFile);
    QTRY_COMPARE_WITH_TIMEOUT(local->frameCount(), frames, kWait);
    QVERIFY(panel->showing());
    QCOMPARE(backend.channels().usedCount(), 1);

    // Every frame once, in order.
    fsv::media::AviReader original, copy;
    QCOMPARE(original.open(source), frames);
    QCOMPARE(copy.open(download.outputPath), frames);
    for (int i = 0; i < frames; ++i) {
        QVERIFY(copy.videoSample(i) == original.videoSample(i));
        QCOMPARE(copy.isKeyFrame(i), original.isKeyFrame(i));
    }
    auto probed = fsv::test::runProgram(
        "/usr/bin/ffprobe",
        {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
         "stream=nb_read_packets", "-of", "csv=p=0", download.outputPath});
    QVERIFY2(probed.status == 0 && probed.err.empty(), probed.err.c_str());
    QCOMPARE(probed.out, std::to_string(frames) + "\n");

    // "Just Play" of the same event: a channel of its own, its frames shown, no file.
    auto files = [&] {
        int n = 0;
        for (auto& e : fs::recursive_directory_iterator(out))
            if (e.is_regular_file()) ++n;
        return n;
    };
    QCOMPARE(files(), 1);
    QVERIFY(enqueue(item(dl::Action::JustPlay)));
    QTRY_VERIFY_WITH_TIMEOUT(view->panel(1)->showing(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(status(1) && status(1)->atEnd, kWait);
    QVERIFY(!status(1)->local);
    QVERIFY(published(1) > 0);
    QCOMPARE(files(), 1);
}

// A recorder that drops the link mid-way: the channel stays, paused on the last picture
// shown, until the user closes it.
void ViewerTest::streamCutOffStaysPausedOnItsLastPicture() {
    namespace dl = fsv::download;
    const fs::path rec = fs::path(dir_->path().toStdString()) / "rec";
    fsv::sim::GenerateOptions o;
    o.cameras = 1;
    o.days = 1;
    o.eventsPerDay = 1;
    o.audioChannels = 0;
    std::string error;
    QVERIFY2(fsv::sim::generateRecordings(rec, o, &error), error.c_str());
    const fs::path source = firstAvi(rec);
    SimProcess sim({"--recordings", rec.string(), "--drop-stream-after", "6"});
    QVERIFY2(sim.started(), sim.error().c_str());

    Viewer& v = startViewer();
    fsv::app::CoreBackend& backend = v.backend();
    fsv::ConnectRequest r;
    r.address = "127.0.0.1";
    r.port = sim.port();
    QVERIFY(backend.connect(r));
    fsv::client::SessionId session = -1;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            auto all = backend.controller().sessions();
            // Its queues are made once the server information is in: wait for them too.
            if (all.empty() || all[0].cameras == 0 ||
                !backend.controller().withDownloads(all[0].id, [](dl::DownloadSession&) {}))
                return false;
            session = all[0].id;
            return true;
        }(),
        kWait);
    dl::WorkItem w;
    w.queue = dl::QueueKind::Video;
    w.action = dl::Action::JustPlay;
    w.channelCode = 1;
    w.channelName = "Cam01";
    w.eventKey = source.parent_path().filename().string() + source.stem().string();
    bool queued = false;
    backend.controller().withDownloads(session,
                                       [&](dl::DownloadSession& d) { queued = d.enqueue(w); });
    QVERIFY(queued);

    QTRY_COMPARE_WITH_TIMEOUT(connections(), 0, kWait);  // the recorder went
    auto stopped = [&] {
        bool still = false;
        backend.channels().withPlayer(0, [&](fsv::playback::Player& p) {
            still = dynamic_cast<fsv::playback::StoppedStream*>(&p) != nullptr;
        });
        return still;
    };
    QTRY_VERIFY_WITH_TIMEOUT(stopped(), kWait);  // the stream has gone with its session
    DisplayPanel* panel = v.window().channelView()->panel(0);
    QTRY_VERIFY_WITH_TIMEOUT(panel->showing(), kWait);
    auto status = backend.channelStatus(0);
    QVERIFY(status);
    QVERIFY(status->paused);
    QCOMPARE(status->position, 5u);
    QCOMPARE(panel->caption(), QStringLiteral("1. recorder-sim Cam01"));
    QVERIFY(!backend.channelCommand(0, fsv::playback::PlayCommand::Play));  // nothing left to play
    v.window().runCommand(cmd::kChannelList);
    auto* row = v.channelList().list().topLevelItem(0);
    QVERIFY(row);
    QCOMPARE(row->text(1), QStringLiteral("recorder-sim"));
    QVERIFY(row->text(2).startsWith(QStringLiteral("Cam01: ")));
    v.window().runCommand(cmd::kChannelList);

    QVERIFY(backend.closeChannel(0));
    QTRY_VERIFY_WITH_TIMEOUT(!panel->showing(), kWait);
    QCOMPARE(backend.channels().usedCount(), 0);
}

QTEST_MAIN(ViewerTest)
#include "ViewerTest.moc"
