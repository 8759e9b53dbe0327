// Connecting: the Connect To dialog, the address book, the status window and what the backend
// tells about connections.
#include <QAction>
#include <QDateTime>
#include <QToolButton>
#include <QTreeWidget>

#include "platform/UserPort.h"
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
    auto* dialog = new SetupDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this,
            [this] { setButtonState(kToolbarLine, kSetupButton, -1); });
    // The captions change at once; the panel size waits for the next start.
    connect(dialog, &QDialog::accepted, this, [this] {
        backend_.settingsChanged();
        refreshPanels();
    });
    dialog->open();
}

void MainWindow::onNotice(const ViewerNotice& n) {
    if (exiting_) return;  // nothing more is shown once the program is ending
    switch (n.kind) {
        case ViewerNotice::Kind::ShowStatus:
            status_->showText(QString::fromStdString(n.text));
            break;
        case ViewerNotice::Kind::HideStatus:
            status_->hide();
            break;
        case ViewerNotice::Kind::ConnectFinished:
            status_->hide();
            if (!backend_.connecting()) setButtonState(kToolbarLine, kConnectButton, -1);
            refreshConnectionList();
            break;
        case ViewerNotice::Kind::SessionsChanged:
            refreshConnectionList();
            break;
        case ViewerNotice::Kind::MessageBox:
            Prompts::box(this, n.text, n.type);
            break;
        case ViewerNotice::Kind::PanelMessage:
            panelMessage(n.message, n.wParam, n.lParam);
            break;
        case ViewerNotice::Kind::FrameReady: {
            // A channel that took its position since the panels were last set up shows its
            // first frame here, and a caption changes once the file has loaded.
            const int panel = static_cast<int>(n.wParam);
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
            break;
        }
        case ViewerNotice::Kind::PlayPosition:
            showPanelFrame(static_cast<int>(n.wParam));
            // The active channel moved, paused, reached its end or changed speed.
            if (static_cast<int>(n.wParam) == channels_->activePanel()) {
                const int pauseLook =
                    playback_->look(PlaybackPanel::kPlayLine, PlaybackPanel::kPause);
                playback_->refresh();
                // The commands follow a pause or the end, not every frame.
                if (playback_->look(PlaybackPanel::kPlayLine, PlaybackPanel::kPause) != pauseLook)
                    refreshCommands();
            }
            break;
    }
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

void MainWindow::panelMessage(unsigned message, intptr_t wParam, intptr_t lParam) {
    // The look message: wParam is index * 65536 + line, lParam the look. The other messages
    // belong to the channel view and the lists.
    if (message == static_cast<unsigned>(PanelMessage::RedrawChannel)) {
        // A channel came, went or moved: the panels show the table again.
        refreshPanels();
        return;
    }
    if (message != static_cast<unsigned>(PanelMessage::SkinButtonState)) return;
    const int line = static_cast<int>(wParam & 0xFFFF);
    const int index = static_cast<int>((wParam >> 16) & 0xFFFF);
    const int look = static_cast<int>(lParam);
    if (line == kToolbarLine)
        setButtonState(line, index, look);
    else if (skin_)
        skin_->setButtonLook(line, index, look);
}

}  // namespace fsv::ui
