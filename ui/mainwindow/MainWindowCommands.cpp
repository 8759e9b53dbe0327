// The button dispatcher and the menu commands.
#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>

#include "merge/KtMerge.h"
#include "platform/UserPort.h"
#include "ui/Prompts.h"
#include "ui/mainwindow/MainWindow.h"
#include "ui/panels/ChannelView.h"
#include "ui/playback/PlaybackPanel.h"
#include "ui/skin/SkinButton.h"
#include "ui/skin/SkinSurface.h"

namespace fsv::ui {

void MainWindow::dispatchButton(int line, int index) {
    // Line 0 lays out the channel view, 1 is the menu button, 2 the caption's minimise and
    // exit, 3 the playback controls, 4 the save buttons, 6 the toolbar; the side panel's line 5
    // comes with that window. The save line's sync button toggles playing in step.
    if (line == kToolbarLine)
        toolbarClicked(index);
    else if (line == 0 && index >= 0 && index < 4)
        setChannelsPerPage((index + 1) * (index + 1));  // 1, 4, 9, 16
    else if (line == 1 || line == 2)
        windowButton(line, index);
    else if (line == PlaybackPanel::kPlayLine && index == PlaybackPanel::kClose)
        runCommand(cmd::kDisconnect);  // asks first
    else if (line == PlaybackPanel::kPlayLine)
        playback_->click(index);
    else if (line == PlaybackPanel::kSaveLine && index == PlaybackPanel::kSaveClipButton)
        runCommand(cmd::kSaveAsAvi);
    else if (line == PlaybackPanel::kSaveLine && index == PlaybackPanel::kSavePictureButton)
        runCommand(cmd::kSaveAsBmp);
    else if (line == PlaybackPanel::kSaveLine && index == PlaybackPanel::kSyncButton)
        playback_->syncAction()->trigger();  // does nothing while disabled
}

void MainWindow::toolbarClicked(int index) {
    refreshCommands();
    switch (index) {
        case kSetupButton:
            openSetup();
            break;
        case kAddressBookButton:
            openAddressBook();
            break;
        case kFileButton:
            popupAt(fileMenu_, index);
            break;
        case kWindowsButton:
            popupAt(windowsMenu_, index);
            break;
        case kOpenAviButton:
            setButtonState(kToolbarLine, kOpenAviButton, 1);
            openAviFiles();
            setButtonState(kToolbarLine, kOpenAviButton, -1);
            break;
        case kModeButton:
            popupAt(modeMenu_, index);
            break;
        case kCloseButton:
            popupAt(closeMenu_, index);
            break;
        case kConnectButton:
            openConnectTo();
            break;
        default:
            break;
    }
}

void MainWindow::popupAt(QMenu* menu, int index) {
    // At the mouse when the mouse pressed the button, else under the button (keyboard).
    QWidget* b = buttons_[static_cast<size_t>(index)];
    if (skin_ && skin_->button(kToolbarLine, index)) b = skin_->button(kToolbarLine, index);
    QPoint at = QCursor::pos();
    if (b && !b->rect().contains(b->mapFromGlobal(at))) at = b->mapToGlobal(b->rect().bottomLeft());
    menu->popup(at);
}

void MainWindow::refreshCommands() {
    const bool connected = !backend_.sessions().empty();
    commands_[cmd::kSaveConnectiveStatus]->setEnabled(connected);
    commands_[cmd::kConnectionList]->setChecked(connectionList_->isVisible());
    const auto status = backend_.channelStatus(currentChannel());
    for (int id : {cmd::kPause, cmd::kPlay, cmd::kDisconnect})
        commands_[id]->setEnabled(status.has_value());
    // A picture is saved from a paused channel, a clip from a paused local file.
    const bool paused = status && (status->paused || status->atEnd);
    commands_[cmd::kSaveAsBmp]->setEnabled(paused);
    commands_[cmd::kSaveAsAvi]->setEnabled(paused && status->local && KtMerge_IsNotEnd() == 0);
    // The lists other than the connection list come with their windows.
    for (int id : {cmd::kChannelList, cmd::kDownloadList, cmd::kDownloadHistory, cmd::kArchive})
        commands_[id]->setEnabled(false);
    for (const auto& [id, w] : listWindows_) {
        commands_[id]->setEnabled(w != nullptr);
        commands_[id]->setChecked(w && w->isVisible());
    }
    // The modes are checked by what they show: the event list, the connection list window.
    commands_[cmd::kAdvanced]->setChecked(commands_[cmd::kConnectionList]->isChecked());
    const int page = channels_->page();
    commands_[cmd::kNextPage]->setEnabled(page + 1 < pageCount());
    commands_[cmd::kPreviousPage]->setEnabled(page > 0);
}

void MainWindow::showListWindow(int command) {
    auto it = listWindows_.find(command);
    QWidget* w = it != listWindows_.end() ? it->second.data() : nullptr;
    if (!w) return;
    w->show();
    w->raise();
    w->activateWindow();
}

void MainWindow::setListWindow(int command, QWidget* window) {
    listWindows_[command] = window;
    if (auto it = commands_.find(command); it != commands_.end()) it->second->setCheckable(true);
    refreshCommands();
}

void MainWindow::runCommand(int id) {
    // The list commands show or hide their windows; Normal only shows the event list.
    if (auto it = listWindows_.find(id);
        id != cmd::kNormal && it != listWindows_.end() && it->second) {
        QWidget* w = it->second;
        w->setVisible(!w->isVisible());
        if (w->isVisible()) {
            w->raise();
            w->activateWindow();
        }
        refreshCommands();
        return;
    }
    switch (id) {
        case cmd::kCloseAllConnections:
            closeAllConnections();
            break;
        case cmd::kSelectDisconnections:
        case cmd::kAdvanced:
            // The connection list window, where connections are picked and closed.
            if (listWindows_.count(cmd::kConnectionList) && listWindows_[cmd::kConnectionList])
                showListWindow(cmd::kConnectionList);
            else
                connectionList_->show();
            break;
        case cmd::kConnectionList:
            connectionList_->setVisible(!connectionList_->isVisible());
            break;
        case cmd::kNormal:
            setButtonState(kToolbarLine, kModeButton, -1);
            showListWindow(cmd::kNormal);
            break;
        case cmd::kNextPage:
        case cmd::kPreviousPage:
            showChannelPage(channels_->page() + (id == cmd::kNextPage ? 1 : -1));
            break;
        case cmd::kSaveConnectiveStatus:
            if (!backend_.sessions().empty()) saveConnectiveStatus();
            break;
        case cmd::kLoadConnectiveStatus:
            loadConnectiveStatus();
            break;
        case cmd::kLoadResumeFile:
            loadResumeFile();
            break;
        case cmd::kPause:
        case cmd::kPlay:
            backend_.channelCommand(currentChannel(), id == cmd::kPause
                                                          ? playback::PlayCommand::Pause
                                                          : playback::PlayCommand::Play);
            playback_->refresh();
            break;
        case cmd::kSaveAsBmp:
            saveAsBmp();
            break;
        case cmd::kSaveAsAvi:
            saveAsAvi();
            break;
        case cmd::kDisconnect:
            if (backend_.channelStatus(currentChannel()) &&
                Prompts::box(this, kCloseChannelQuestion, {BoxButtons::YesNo, BoxIcon::Question}) ==
                    BoxAnswer::Yes) {
                backend_.closeChannel(currentChannel());
                refreshPanels();
            }
            break;
        default:
            break;
    }
    refreshCommands();
}

int MainWindow::currentChannel() const {
    return channels_->firstChannel() + channels_->activePanel();
}

int MainWindow::pageCount() const {
    int used = 0;
    for (int i = backend_.channelCount() - 1; i >= 0; --i)
        if (backend_.hasChannel(i)) {
            used = i + 1;
            break;
        }
    return channels_->pageCount(used);
}

void MainWindow::showChannelPage(int page) {
    page = std::clamp(page, 0, pageCount() - 1);
    if (page == channels_->page()) return;
    channels_->setPage(page);
    backend_.showPage(channels_->firstChannel(), channels_->channelsPerPage());
    refreshPanels();
}

void MainWindow::showChannel(int channel) {
    if (channel < 0 || !backend_.hasChannel(channel)) return;
    const int perPage = channels_->channelsPerPage();
    if (channel / perPage != channels_->page()) {
        channels_->setPage(channel / perPage);
        backend_.showPage(channels_->firstChannel(), perPage);
    }
    channels_->setActivePanel(channel - channels_->firstChannel());
    refreshPanels();
}

void MainWindow::openAviFiles() {
    for (const auto& file : Prompts::openFiles(this, kAviFilter)) {
        const auto result = backend_.openLocalFile(file);
        if (result == ViewerBackend::OpenResult::AlreadyPlaying) {
            Prompts::box(this, kFilePlaying, {BoxButtons::Ok, BoxIcon::Warning});
        } else if (result == ViewerBackend::OpenResult::OverMaximum) {
            Prompts::box(this, kOverMaxChannel, {BoxButtons::Ok, BoxIcon::Stop});
            break;
        }
    }
    refreshPanels();
}

void MainWindow::setChannelsPerPage(int count) {
    channels_->setChannelsPerPage(count);
    backend_.showPage(channels_->firstChannel(), channels_->channelsPerPage());
    showLayoutOnSkin();
    refreshPanels();
}

void MainWindow::showLayoutOnSkin() {
    // The layout button of the panels on show looks pressed.
    if (!skin_) return;
    for (int i = 0; i < 4; ++i)
        skin_->setButtonLook(0, i, (i + 1) * (i + 1) == channels_->channelsPerPage() ? 1 : -1);
}

void MainWindow::refreshPanel(int index) {
    DisplayPanel* panel = channels_->panel(index);
    const auto caption = backend_.panelCaption(index);
    const QString text = QString::fromStdString(caption.value_or(std::string()));
    showPanelFrame(index);
    if (panel->showing() == caption.has_value() && panel->caption() == text) return;
    panel->setShowing(caption.has_value());
    panel->setCaption(text);
    panel->update();
}

void MainWindow::refreshPanels() {
    // Channels closed past the last page in use: the last page with channels comes into view.
    if (channels_->page() >= pageCount()) {
        channels_->setPage(pageCount() - 1);
        backend_.showPage(channels_->firstChannel(), channels_->channelsPerPage());
    }
    for (int i = 0; i < channels_->channelsPerPage(); ++i) refreshPanel(i);
    playback_->setChannel(currentChannel());
    refreshCommands();
}

void MainWindow::closeAllConnections() {
    if (backend_.sessions().empty()) return;
    if (Prompts::box(this, kCloseAllQuestion, {BoxButtons::YesNo, BoxIcon::Question}) ==
        BoxAnswer::Yes)
        backend_.closeAll();
}

}  // namespace fsv::ui
