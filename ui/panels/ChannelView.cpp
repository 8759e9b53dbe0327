#include "ui/panels/ChannelView.h"

#include <QGridLayout>
#include <cmath>

namespace fsv::ui {

QString streamCaption(const PanelCaptionParts& parts, int position, const QString& server,
                      const QString& camera) {
    const int count = int(parts.channelNumber) + int(parts.serverName) + int(parts.cameraName);
    QString caption;
    if (parts.channelNumber)
        caption =
            count == 1 ? QString::number(position + 1) : QStringLiteral("%1.").arg(position + 1);
    if (parts.serverName) caption += QLatin1Char(' ') + server;
    if (parts.cameraName) caption += QLatin1Char(' ') + camera;
    return caption;
}

ChannelView::ChannelView(client::FrameSlots& frameSlots, QWidget* parent)
    : QWidget(parent), slots_(frameSlots) {
    setAccessibleName(QStringLiteral("Channels"));
    auto palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setSpacing(2);
    for (int i = 0; i < kMaxPanels; ++i) {
        auto* p = new DisplayPanel(i, slots_.slot(i), this);
        connect(p, &DisplayPanel::clicked, this, &ChannelView::setActivePanel);
        connect(p, &DisplayPanel::doubleClicked, this, &ChannelView::panelDoubleClicked);
        connect(p, &DisplayPanel::menuRequested, this, &ChannelView::panelMenuRequested);
        panels_[i] = p;
    }
    panels_[0]->setActive(true);
    relayout();
}

void ChannelView::setChannelsPerPage(int count) {
    int n = 1;
    while (n < 4 && n * n < count) ++n;
    const int perPage = n * n;
    if (perPage == perPage_) return;
    // Keep the first channel of the page on show.
    const int first = firstChannel();
    perPage_ = perPage;
    page_ = first / perPage_;
    if (active_ >= perPage_) setActivePanel(0);
    relayout();
    Q_EMIT pageChanged(page_);
}

int ChannelView::pageCount(int channels) const {
    return std::max(1, (channels + perPage_ - 1) / perPage_);
}

void ChannelView::setPage(int page) {
    page = std::max(page, 0);
    if (page == page_) return;
    page_ = page;
    Q_EMIT pageChanged(page_);
}

int ChannelView::panelOfChannel(int channel) const {
    const int i = channel - firstChannel();
    return i >= 0 && i < perPage_ ? i : -1;
}

DisplayPanel* ChannelView::panel(int index) const {
    return index >= 0 && index < kMaxPanels ? panels_[index] : nullptr;
}

void ChannelView::setActivePanel(int index) {
    if (index < 0 || index >= perPage_ || index == active_) return;
    panels_[active_]->setActive(false);
    active_ = index;
    panels_[active_]->setActive(true);
    Q_EMIT activePanelChanged(active_);
}

void ChannelView::frameReady(int panel) {
    if (panel >= 0 && panel < perPage_) panels_[panel]->update();
}

void ChannelView::relayout() {
    const int side = static_cast<int>(std::lround(std::sqrt(perPage_)));
    for (auto* p : panels_) grid_->removeWidget(p);
    for (int i = 0; i < kMaxPanels; ++i) {
        if (i < perPage_) {
            grid_->addWidget(panels_[i], i / side, i % side);
            panels_[i]->show();
        } else {
            panels_[i]->hide();
        }
    }
    for (int r = 0; r < 4; ++r) {
        grid_->setRowStretch(r, r < side ? 1 : 0);
        grid_->setColumnStretch(r, r < side ? 1 : 0);
    }
}

}  // namespace fsv::ui
