#include "ui/skin/SkinSlider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include "ui/skin/SkinImages.h"

namespace fsv::ui::skin {

SkinSlider::SkinSlider(Qt::Orientation o, QImage background, QImage thumb, QImage activeThumb,
                       QWidget* parent)
    : QAbstractSlider(parent),
      background_(std::move(background)),
      thumb_(withKeyTransparent(thumb)),
      active_(withKeyTransparent(activeThumb)) {
    setOrientation(o);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
}

QSize SkinSlider::thumbSize() const {
    if (!thumb_.isNull()) return thumb_.size().boundedTo(size());
    // No thumb picture: a plain handle, so the position can still be seen and dragged.
    return orientation() == Qt::Horizontal ? QSize(std::min(10, width()), height())
                                           : QSize(width(), std::min(10, height()));
}

QRect SkinSlider::thumbRect() const {
    const QSize t = thumbSize();
    const bool h = orientation() == Qt::Horizontal;
    const int span = (h ? width() - t.width() : height() - t.height());
    int pos = QStyle::sliderPositionFromValue(minimum(), maximum(), sliderPosition(),
                                              std::max(0, span), !h);
    return h ? QRect(pos, (height() - t.height()) / 2, t.width(), t.height())
             : QRect((width() - t.width()) / 2, pos, t.width(), t.height());
}

int SkinSlider::valueAt(QPoint p) const {
    const QSize t = thumbSize();
    const bool h = orientation() == Qt::Horizontal;
    const int span = h ? width() - t.width() : height() - t.height();
    const int at = (h ? p.x() : p.y()) - grabOffset_;
    return QStyle::sliderValueFromPosition(minimum(), maximum(), at, std::max(0, span), !h);
}

void SkinSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    drawSkinImage(p, rect(), background_);
    const QRect t = thumbRect();
    const bool active = isSliderDown() || (underMouse() && isEnabled());
    const QImage& img = active && !active_.isNull() ? active_ : thumb_;
    if (!img.isNull()) {
        drawSkinImage(p, t, img);
    } else {
        p.fillRect(t.adjusted(1, 1, -1, -1), palette().color(QPalette::Button));
    }
}

void SkinSlider::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || maximum() == minimum()) return e->ignore();
    const QRect t = thumbRect();
    const bool h = orientation() == Qt::Horizontal;
    if (t.contains(e->position().toPoint())) {
        grabOffset_ = h ? e->position().toPoint().x() - t.x() : e->position().toPoint().y() - t.y();
    } else {
        grabOffset_ = (h ? t.width() : t.height()) / 2;
        setSliderPosition(valueAt(e->position().toPoint()));
        triggerAction(SliderMove);
    }
    setSliderDown(true);
    update();
}

void SkinSlider::mouseMoveEvent(QMouseEvent* e) {
    if (!isSliderDown()) return e->ignore();
    setSliderPosition(valueAt(e->position().toPoint()));
}

void SkinSlider::mouseReleaseEvent(QMouseEvent* e) {
    if (!isSliderDown() || e->button() != Qt::LeftButton) return e->ignore();
    setSliderDown(false);  // reports the final position
    update();
}

}  // namespace fsv::ui::skin
