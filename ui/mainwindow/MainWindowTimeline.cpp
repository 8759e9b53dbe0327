// The timeline under the panels: its command, its rows (the recorder of the event list window
// and the local files), the cursor at the active channel's frame time, and what a click does.
#include <QAction>
#include <QTimer>

#include "recordings/playback/SyncClock.h"
#include "ui/mainwindow/MainWindow.h"
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

void MainWindow::refreshTimeline() {
    playback::TimelineModel model;
    if (timelineRecorder) timelineRecorder(model);
    model.setLocal(backend_.localExtents());
    timeline_->setRows(model.rows());
    const auto status = backend_.channelStatus(currentChannel());
    timeline_->setCursorTime(status && !(status->time == SystemTime{})
                                 ? std::optional<int64_t>(playback::stampMs(status->time))
                                 : std::nullopt);
    // The skin's colours: its status panel's text colour for the text and the cursor's
    // counterpart; the bars keep their own hues.
    if (skin_) {
        const auto& panels = skin_->controls().panels;
        if (auto it = panels.find(0); it != panels.end() && it->second->textCount() > 0) {
            const QColor text = it->second->text(0).colour;
            timeline_->setColours(QColor(0x10, 0x10, 0x14), text, QColor(0x3C, 0x8C, 0xDC),
                                  QColor(0xF0, 0xB4, 0x28), QColor(0xFF, 0x30, 0x30));
        }
    }
}

}  // namespace fsv::ui
