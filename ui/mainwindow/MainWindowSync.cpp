// What each panel shows: the date and time of its frame (also for screen readers, in the
// panel's accessible description) and, while the local files play in step, "No recording"
// where the clock stands outside a channel's recording.
#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QImage>
#include <QPainter>
#include <QSpinBox>

#include "ui/Prompts.h"
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

void MainWindow::buildSaveMoment() {
    saveMomentAction_ = new QAction(QStringLiteral("Save this &moment..."), this);
    saveMomentAction_->setObjectName(QStringLiteral("saveMomentAction"));
    saveMomentAction_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+M")));
    saveMomentAction_->setEnabled(false);
    addAction(saveMomentAction_);
    connect(saveMomentAction_, &QAction::triggered, this, &MainWindow::saveMoment);
    // Offered while the local files play in step.
    connect(playback_->syncAction(), &QAction::toggled, saveMomentAction_, &QAction::setEnabled);
}

QImage MainWindow::momentImage() const {
    // The panels as they are drawn, each with a strip below: caption, date and time.
    const int count = channels_->channelsPerPage();
    QImage out(channels_->size(), QImage::Format_RGB32);
    out.fill(Qt::black);
    QPainter painter(&out);
    for (int i = 0; i < count; ++i) {
        DisplayPanel* panel = channels_->panel(i);
        if (!panel || !panel->isVisible()) continue;
        const QRect at = panel->geometry();
        painter.drawPixmap(at.topLeft(), panel->grab());
        if (!panel->showing()) continue;
        QString line = panel->caption().trimmed();
        if (!panel->shownFrame().isEmpty()) line += QStringLiteral("  ") + panel->shownFrame();
        if (panel->noRecording()) line += QStringLiteral("  No recording");
        const int h = painter.fontMetrics().height() + 4;
        const QRect strip(at.left(), at.bottom() - h + 1, at.width(), h);
        painter.fillRect(strip, QColor(0, 0, 0, 170));
        painter.setPen(Qt::white);
        painter.drawText(strip.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, line);
    }
    return out;
}

void MainWindow::saveMoment() {
    const auto clock = backend_.syncTime();
    if (!clock) return;
    const auto file = Prompts::saveFile(this, "PNG Image (*.png)|*.png||", "png");
    if (file.empty()) return;
    if (!momentImage().save(QString::fromStdString(file.string()), "PNG")) {
        Prompts::box(this, "Failed to save " + file.string(), {BoxButtons::Ok, BoxIcon::Stop});
        return;
    }
    // The clips beside the picture: a span of seconds around the clock (0: none).
    QDialog ask(this);
    ask.setObjectName(QStringLiteral("momentDialog"));
    ask.setWindowTitle(QStringLiteral("Save this moment"));
    auto* seconds = new QSpinBox(&ask);
    seconds->setObjectName(QStringLiteral("momentSeconds"));
    seconds->setAccessibleName(QStringLiteral("Clip seconds"));
    seconds->setRange(0, 600);
    seconds->setValue(10);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    auto* form = new QFormLayout(&ask);
    form->addRow(QStringLiteral("Clip of each camera, seconds around the moment:"), seconds);
    form->addRow(buttons);
    if (ask.exec() != QDialog::Accepted || seconds->value() == 0) return;
    const auto result = merge::saveMomentClips(backend_.momentCameras(), *clock, seconds->value(),
                                               file.parent_path(), file.stem().string());
    if (!result.ok)
        Prompts::box(this, "Failed to save " + result.error, {BoxButtons::Ok, BoxIcon::Stop});
}

}  // namespace fsv::ui
