// What each panel shows: the date and time of its frame (also for screen readers, in the
// panel's accessible description) and, while the local files play in step, "No recording"
// where the clock stands outside a channel's recording.
#include "ui/mainwindow/MainWindow.h"
#include "ui/panels/ChannelView.h"
#include "ui/panels/Snapshot.h"
#include "ui/playback/PlaybackPanel.h"

namespace fsv::ui {

void MainWindow::showPanelFrame(int index) {
    if (index < 0 || index >= channels_->channelsPerPage()) return;
    DisplayPanel* panel = channels_->panel(index);
    const auto status = backend_.channelStatus(channels_->firstChannel() + index);
    if (!status || status->time == SystemTime{}) {
        panel->setShownFrame(QString(), false);
        return;
    }
    panel->setShownFrame(
        frameDateText(status->time) + QStringLiteral("  ") + frameTimeText(status->time),
        status->noRecording);
}

}  // namespace fsv::ui
