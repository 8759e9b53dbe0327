#include "ui/skin/SkinButton.h"

#include <QPainter>

#include "ui/skin/SkinImages.h"

namespace fsv::ui::skin {

SkinButton::SkinButton(int line, int index, std::array<QImage, 5> images, QWidget* parent)
    : QAbstractButton(parent), line_(line), index_(index), images_(std::move(images)) {
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    // QAbstractButton grabs the mouse while the left button is held and clicks on a release
    // inside, so a press that leaves the button does nothing.
    connect(this, &QAbstractButton::clicked, this, [this] { Q_EMIT skinClicked(line_, index_); });
}

void SkinButton::setLook(int look) {
    look_ = look;
    setEnabled(look != LookDisabled);
    repaint();
}

int SkinButton::shownImage() const {
    if (!isEnabled() || look_ == LookDisabled) return 2;
    if (look_ == LookHighlighted || isDown()) return 1;
    if (look_ == LookPlay || (isCheckable() && isChecked())) return 3;
    if (hasFocus() || underMouse()) return 4;
    return 0;
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // A line with only an up strip shows it in every state.
    const QImage& img = images_[static_cast<size_t>(shownImage())];
    drawSkinImage(p, rect(), img.isNull() ? images_[0] : img);
}

}  // namespace fsv::ui::skin
