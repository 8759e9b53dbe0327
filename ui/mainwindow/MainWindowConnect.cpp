// Connecting: the Connect To dialog, the address book, the status window and what the backend
// tells about connections.
#include <QAction>
#include <QDateTime>
#include <QToolButton>
#include <QTreeWidget>

#include "ui/BackendSignals.h"
#include "ui/Prompts.h"
#include "ui/dialogs/AddressBookDialog.h"
#include "ui/dialogs/ConnectToDialog.h"
#include "ui/dialogs/SetupDialog.h"
#include "ui/mainwindow/MainWindow.h"
#include "ui/mainwindow/StatusWindow.h"
#include "ui/panels/ChannelView.h"
#include "ui/playback/PlaybackPanel.h"
#include "ui/skin/SkinSurface.h"

namespace fsv::ui {

void MainWindow::openConnectTo() {
    setButtonState(kToolbarLine, kConnectButton, 1);
    auto* dialog = new ConnectToDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this, [this, dialog](int result) {
        if (result == QDialog::Accepted) {
            connectTo(dialog->request());
        } else {
            setButtonState(kToolbarLine, kConnectButton, -1);
        }
    });
    dialog->open();
}

void MainWindow::connectTo(const ConnectRequest& request) {
    setButtonState(kToolbarLine, kConnectButton, 1);
    // A connect thread that could not start leaves the button pressed until the next connect.
    backend_.connect(request);
}

void MainWindow::openAddressBook() {
    setButtonState(kToolbarLine, kAddressBookButton, 1);
    auto* dialog = new AddressBookDialog(this, AddressBookDialog::Mode::Manage,
                                         [this](const ConnectRequest& r) {
                                             setButtonState(kToolbarLine, kConnectButton, 1);
                                             return backend_.connect(r);
                                         });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this,
            [this] { setButtonState(kToolbarLine, kAddressBookButton, -1); });
    dialog->open();
}

void MainWindow::openSetup() {
    setButtonState(kToolbarLine, kSetupButton, 1);
    auto* dialog = new SetupDialog(this, backend_.settings());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this,
            [this] { setButtonState(kToolbarLine, kSetupButton, -1); });
    // The captions change at once; the panel size waits for the next start.
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        backend_.settingsChanged(dialog->settings());
        refreshPanels();
    });
    dialog->open();
}

void MainWindow::followBackend() {
    // Nothing more is shown once the program is ending.
    const auto live = [this](auto handle) {
        return [this, handle](auto&&... args) {
            if (!exiting_) handle(args...);
        };
    };
    BackendSignals& n = backend_.notices();
    connect(&n, &BackendSignals::statusShown, this, live([this](const std::string& text) {
        status_->showText(QString::fromStdString(text));
    }));
    connect(&n, &BackendSignals::statusHidden, this, live([this] { status_->hide(); }));
    connect(&n, &BackendSignals::connectFinished, this, live([this] { connectFinished(); }));
    connect(&n, &BackendSignals::sessionAdded, this,
            live([this](const client::SessionAdded&) { refreshConnectionList(); }));
    connect(&n, &BackendSignals::sessionRemoved, this,
            live([this](const client::SessionRemoved&) { refreshConnectionList(); }));
    // A recorder's server information arrived or went: its channel counts changed.
    connect(&n, &BackendSignals::eventListChanged, this,
            live([this](const client::EventListChanged& e) {
                if (e.what == client::EventListChanged::What::Recorders) refreshConnectionList();
            }));
    connect(
        &n, &BackendSignals::messageBox, this,
        live([this](const std::string& text, BoxStyle style) { Prompts::box(this, text, style); }));
    // A channel came, went or moved: the panels show the table again.
    connect(&n, &BackendSignals::panelsChanged, this, live([this](int) { refreshPanels(); }));
    connect(&n, &BackendSignals::frameReady, this, live([this](int panel) { frameReady(panel); }));
    connect(&n, &BackendSignals::playbackPosition, this,
            live([this](const client::PlaybackPosition& p) { playbackMoved(p.panel); }));
}

void MainWindow::connectFinished() {
    status_->hide();
    if (!backend_.connecting()) setButtonState(kToolbarLine, kConnectButton, -1);
    refreshConnectionList();
}

void MainWindow::frameReady(int panel) {
    // A channel that took its position since the panels were last set up shows its first frame
    // here, and a caption changes once the file has loaded.
    if (panel >= 0 && panel < channels_->channelsPerPage()) {
        const bool wasShowing = channels_->panel(panel)->showing();
        refreshPanel(panel);
        if (!wasShowing) {
            // A stream that took the active panel's channel: the control panel steers it.
            if (panel == channels_->activePanel()) playback_->setChannel(currentChannel());
            refreshCommands();
        }
    }
    channels_->frameReady(panel);
}

void MainWindow::playbackMoved(int panel) {
    // Only the latest position of a panel is queued; the control panel reads the rest itself.
    showPanelFrame(panel);
    // The active channel moved, paused, reached its end or changed speed.
    if (panel != channels_->activePanel()) return;
    const int pauseLook = playback_->look(PlaybackPanel::kPlayLine, PlaybackPanel::kPause);
    playback_->refresh();
    // The commands follow a pause or the end, not every frame.
    if (playback_->look(PlaybackPanel::kPlayLine, PlaybackPanel::kPause) != pauseLook)
        refreshCommands();
}

void MainWindow::refreshConnectionList() {
    const auto sessions = backend_.sessions();
    connectionList_->clear();
    for (const auto& s : sessions) {
        auto* item = new QTreeWidgetItem(connectionList_);
        item->setText(0, QString::fromStdString(s.recorderName));
        item->setText(1,
                      QStringLiteral("%1:%2").arg(QString::fromStdString(s.address)).arg(s.port));
        item->setText(2, QDateTime::fromSecsSinceEpoch(s.connectionTime)
                             .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        item->setText(3, QString::number(s.cameras));
        item->setText(4, QString::number(s.audioChannels));
    }
    const bool connected = !sessions.empty();
    if (skin_)
        showConnectionsOnSkin(static_cast<int>(sessions.size()),
                              connected ? QStringLiteral("%1  %2").arg(
                                              QString::fromStdString(sessions[0].recorderName),
                                              QString::fromStdString(sessions[0].address))
                                        : QString());
    // A list window of the connections on show is filled again.
    if (auto it = listWindows_.find(cmd::kConnectionList);
        it != listWindows_.end() && it->second && it->second->isVisible())
        QMetaObject::invokeMethod(it->second, "fill");
    setButtonState(kToolbarLine, kCloseButton, connected ? -1 : 0);
    setButtonState(kToolbarLine, kModeButton, connected ? -1 : 0);
    refreshCommands();
}

}  // namespace fsv::ui
