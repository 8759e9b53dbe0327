// The timeline under the panels: its command, its rows (the recorder of the event list window
// and the local files), the cursor at the active channel's frame time, and what a click does.
#include <QAction>
#include <QTimer>

#include "recordings/playback/SyncClock.h"
#include "ui/mainwindow/MainWindow.h"
#include "ui/panels/DisplayPanel.h"
#include "ui/playback/PlaybackPanel.h"
#include "ui/playback/TimelineView.h"
#include "ui/skin/SkinPanel.h"
#include "ui/skin/SkinSurface.h"

namespace fsv::ui {

QWidget* MainWindow::buildTimeline(QWidget* parent) {
    timeline_ = new TimelineView(parent);
    timeline_->hide();
    timelineAction_ = new QAction(QStringLiteral("&Timeline"), this);
    timelineAction_->setObjectName(QStringLiteral("timelineAction"));
    timelineAction_->setCheckable(true);
    timelineAction_->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
    addAction(timelineAction_);
    timelineTimer_ = new QTimer(this);
    timelineTimer_->setInterval(250);
    connect(timelineTimer_, &QTimer::timeout, this, &MainWindow::refreshTimeline);
    connect(timelineAction_, &QAction::toggled, this, [this](bool on) {
        if (on) refreshTimeline();
        timeline_->setVisible(on);
        if (on) {
            timelineTimer_->start();
            timeline_->setFocus();
        } else {
            timelineTimer_->stop();
        }
    });
    connect(timeline_, &TimelineView::localRecordingClicked, this,
            [this](int position, qint64 t) { backend_.seekChannelTime(position, t); });
    connect(timeline_, &TimelineView::recorderRecordingClicked, this,
            [this](int recorder, int channel, int day, int event) {
                if (onTimelineRecording)
                    onTimelineRecording(EventRef{recorder, channel, day, event});
            });
    buildSaveMoment();
    return timeline_;
}

TimelineColours timelineColours(const ::fsv::ui::skin::SkinSurface& skin) {
    TimelineColours c;
    // The playback status panel's colours: the background of its display, its date for the
    // text, its channel number for the local files in channels, its speed (the recorder's pace)
    // for the recorder's recordings. The cursor marks the active channel's time in the active
    // panel's red.
    c.cursor = DisplayPanel::kActiveBorder;
    const auto& panels = skin.controls().panels;
    const auto it = panels.find(0);
    if (it == panels.end()) return c;
    const ::fsv::ui::skin::SkinPanel& info = *it->second;
    const QImage& back = info.background();
    if (!back.isNull()) c.background = back.pixelColor(back.width() / 2, back.height() / 2);
    if (info.textCount() > PlaybackPanel::kChannelText)
        c.local = info.text(PlaybackPanel::kChannelText).colour;
    if (info.textCount() > PlaybackPanel::kDateText)
        c.text = info.text(PlaybackPanel::kDateText).colour;
    if (info.textCount() > PlaybackPanel::kSpeedText)
        c.recorder = info.text(PlaybackPanel::kSpeedText).colour;
    return c;
}

void MainWindow::refreshTimeline() {
    playback::TimelineModel model;
    if (timelineRecorder) timelineRecorder(model);
    model.setLocal(backend_.localExtents());
    timeline_->setRows(model.rows());
    const auto status = backend_.channelStatus(currentChannel());
    timeline_->setCursorTime(status && !(status->time == SystemTime{})
                                 ? std::optional<int64_t>(playback::stampMs(status->time))
                                 : std::nullopt);
    if (skin_) timeline_->setColours(timelineColours(*skin_));
}

}  // namespace fsv::ui
