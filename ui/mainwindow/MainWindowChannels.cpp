// The active channel: its pop-up menu, the picture saved as a bitmap and the clip handed to the
// clip component.
#include <QMenu>
#include <QMetaObject>
#include <atomic>

#include "media/AviTypes.h"
#include "merge/KtMerge.h"
#include "ui/Prompts.h"
#include "ui/mainwindow/MainWindow.h"
#include "ui/panels/ChannelView.h"
#include "ui/panels/Snapshot.h"
#include "ui/playback/PlaybackPanel.h"

namespace fsv::ui {

namespace {
// The window the clip component reports to; its callback may come on any thread.
std::atomic<MainWindow*> clipWindow{nullptr};
}  // namespace

void MainWindow::startClipComponent() {
    clipWindow = this;
    KtMerge_Create(this, &MainWindow::mergeCallback);
}

void MainWindow::stopClipComponent() {
    clipWindow = nullptr;
    KtMerge_Destroy();  // no callback comes after it
}

void MainWindow::mergeCallback(int32_t value, int32_t state) {
    if (value != 100 && state != 1) return;
    // Posted: the look changes on the UI thread, and a window already gone drops it.
    if (MainWindow* w = clipWindow.load())
        QMetaObject::invokeMethod(
            w, [w] { w->clipFinished(); }, Qt::QueuedConnection);
}

void MainWindow::clipFinished() {
    if (KtMerge_IsNotEnd() != 0) return;
    const auto status = backend_.channelStatus(currentChannel());
    if (status && status->local && (status->paused || status->atEnd))
        playback_->setLook(PlaybackPanel::kSaveLine, PlaybackPanel::kSaveClipButton, -1);
    refreshCommands();
}

bool MainWindow::fillChannelMenu(QMenu& menu) {
    const auto status = backend_.channelStatus(currentChannel());
    if (!status) return false;
    auto add = [&](int id, const char* text, bool enabled = true) {
        QAction* a = menu.addAction(QString::fromLatin1(text));
        a->setObjectName(QStringLiteral("channelMenu%1").arg(id));
        a->setData(id);
        a->setEnabled(enabled);
    };
    add(cmd::kDisconnect, "&Disconnect");
    if (status->paused || status->atEnd) {
        add(cmd::kPlay, "&Play");
        add(cmd::kSaveAsBmp, "&Save As BMP File");
        if (status->local) add(cmd::kSaveAsAvi, "Save as &AVI File", KtMerge_IsNotEnd() == 0);
    } else {
        add(cmd::kPause, "&Pause");
    }
    return true;
}

void MainWindow::showChannelMenu(int panel, QPoint at) {
    // The menu's commands act on the active channel: the panel clicked becomes the active one.
    channels_->setActivePanel(panel);
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("channelMenu"));
    if (!fillChannelMenu(menu)) return;
    if (QAction* chosen = menu.exec(at)) runCommand(chosen->data().toInt());
}

void MainWindow::saveAsBmp() {
    const int position = currentChannel();
    const auto status = backend_.channelStatus(position);
    if (!status) return;
    const auto file = Prompts::saveFile(this, kBmpFilter, "bmp");
    if (file.empty()) return;
    // The picture is handed out only while the channel is paused.
    const auto picture = backend_.pausedPicture(position);
    if (!picture) return;
    const auto header = media::BitmapInfoHeader::rgb24(picture->width, picture->height);
    const QString caption =
        snapshotCaption(status->local, QString::fromStdString(status->serverName),
                        QString::fromStdString(status->cameraName));
    // A file that cannot be written leaves no message.
    saveSnapshot(file, header, picture->bits, caption, playback_->dateTimeText());
}

void MainWindow::saveAsAvi() {
    const int position = currentChannel();
    if (!backend_.channelStatus(position)) return;
    const auto source = backend_.clipSource(position);  // a local file channel only
    if (!source) return;
    const std::string& credential = source->credential;
    if (const auto colon = credential.find(':'); colon != std::string::npos)
        KtMerge_Authority(credential.substr(0, colon).c_str(),
                          credential.substr(colon + 1).c_str());
    if (source->file.empty() || KtMerge_IsNotEnd() != 0) return;
    if (KtMerge_AddAVideoFile(source->file.c_str()) && KtMerge_DoModal(0) == 1)
        playback_->setLook(PlaybackPanel::kSaveLine, PlaybackPanel::kSaveClipButton, 0);
}

}  // namespace fsv::ui
