#include "ui/panels/DisplayPanel.h"

#include <QContextMenuEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

#include "media/Placement.h"

namespace fsv::ui {

DisplayPanel::DisplayPanel(int index, client::FrameSlot* slot, QWidget* parent)
    : QWidget(parent), index_(index), slot_(slot) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(32, 24);
    setAccessibleName(QStringLiteral("Display panel %1").arg(index + 1));
    describe();
}

void DisplayPanel::setShowing(bool showing) {
    if (showing_ == showing) return;
    showing_ = showing;
    if (!showing) {
        caption_.clear();
        dateTime_.clear();
        noRecording_ = false;
    }
    describe();
    update();
}

void DisplayPanel::setCaption(const QString& caption) {
    if (caption_ == caption) return;
    caption_ = caption;
    describe();
    update();
}

void DisplayPanel::setShownFrame(const QString& dateTime, bool noRecording) {
    if (dateTime_ == dateTime && noRecording_ == noRecording) return;
    const bool redraw = noRecording_ != noRecording;
    dateTime_ = dateTime;
    noRecording_ = noRecording;
    describe();
    if (redraw) update();
}

void DisplayPanel::describe() {
    QString text = showing_ ? caption_.trimmed() : QStringLiteral("Empty");
    if (showing_ && !dateTime_.isEmpty()) text += QStringLiteral(", ") + dateTime_;
    if (showing_ && noRecording_) text += QStringLiteral(", No recording");
    setAccessibleDescription(text);
}

void DisplayPanel::setActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    update();
}

void DisplayPanel::render(QPainter& painter, QSize size, const client::Picture* picture,
                          const QString& caption, bool active, bool noRecording) {
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    if (picture && picture->width > 0 && picture->height > 0) {
        const QImage image(picture->bits.data(), picture->width, picture->height, picture->stride,
                           QImage::Format_RGB32);
        // Placed by the picture it was made from; drawn as it is when it was made for this size
        // (perhaps a pixel narrower than its place), else scaled into its place.
        const auto factors = media::scaleFactors(picture->sourceWidth, picture->sourceHeight);
        const auto place = media::placePicture(size.width(), size.height(), factors);
        const auto made = client::fittedPictureSize(picture->sourceWidth, picture->sourceHeight,
                                                    size.width(), size.height());
        if (made == std::pair(picture->width, picture->height))
            painter.drawImage(QPoint(place.x, place.y), image);
        else if (place.width > 0 && place.height > 0)
            painter.drawImage(QRect(place.x, place.y, place.width, place.height), image);
    }
    if (!caption.isEmpty()) {
        // Inside the active border, with a dark edge so it reads over a bright picture.
        const QRect box(5, 4, size.width() - 10, size.height() - 8);
        const auto flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine;
        painter.setPen(Qt::black);
        painter.drawText(box.translated(1, 1), flags, caption);
        painter.setPen(active ? kActiveCaption : kCaption);
        painter.drawText(box, flags, caption);
    }
    if (noRecording) {
        // Over the last picture, dimmed, so that it still shows where the camera looked.
        painter.fillRect(QRect(QPoint(0, 0), size), QColor(0, 0, 0, 128));
        painter.setPen(kCaption);
        painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter,
                         QStringLiteral("No recording"));
    }
    if (active) drawBorder(painter, size);
}

void DisplayPanel::drawBorder(QPainter& painter, QSize size) {
    painter.setPen(QPen(kActiveBorder, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(1, 1, size.width() - 2, size.height() - 2));
}

void DisplayPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!showing_ || !slot_) {
        painter.fillRect(rect(), Qt::black);
        painter.setPen(kCaption);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Empty"));
        if (active_) drawBorder(painter, size());
        return;
    }
    // The picture is drawn straight from the slot, under its lock: no copy on this thread.
    const bool drawn = slot_->takeNewest([&](const client::Picture& p) {
        render(painter, size(), &p, caption_, active_, noRecording_);
    });
    if (!drawn) render(painter, size(), nullptr, caption_, active_, noRecording_);
    const uint64_t serial = drawn ? slot_->published() : 0;
    if (drawn && serial != paintedSerial_) ++picturesPainted_;
    paintedSerial_ = serial;
}

void DisplayPanel::resizeEvent(QResizeEvent* event) {
    if (slot_) slot_->setViewSize(width(), height());
    QWidget::resizeEvent(event);
}

void DisplayPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Q_EMIT clicked(index_);
    QWidget::mousePressEvent(event);
}

void DisplayPanel::contextMenuEvent(QContextMenuEvent* event) {
    Q_EMIT menuRequested(index_, event->globalPos());
    event->accept();
}

void DisplayPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Q_EMIT doubleClicked(index_);
    QWidget::mouseDoubleClickEvent(event);
}

}  // namespace fsv::ui
