#include "ui/skin/SkinPanel.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/skin/SkinImages.h"

namespace fsv::ui::skin {

SkinPanel::SkinPanel(QImage background, QWidget* parent)
    : QWidget(parent), background_(std::move(background)) {}

void SkinPanel::addText(Text t) {
    texts_.push_back(std::move(t));
    update(texts_.back().rect);
}

void SkinPanel::addImages(Images set) {
    sets_.push_back(std::move(set));
    update();
}

bool SkinPanel::setText(int i, const QString& text) {
    if (i < 0 || i >= textCount()) return false;
    Text& t = texts_[static_cast<size_t>(i)];
    if (t.text == text) return false;
    t.text = text;
    update(t.rect);
    return true;
}

void SkinPanel::showImage(int set, int image) {
    if (set < 0 || set >= static_cast<int>(sets_.size())) return;
    sets_[static_cast<size_t>(set)].shown = image;
    update();
}

void SkinPanel::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    p.setClipRegion(e->region());
    drawSkinImage(p, rect(), background_);
    for (const Images& s : sets_) {
        if (s.shown < 0 || s.shown >= static_cast<int>(s.images.size())) continue;
        const QImage& img = s.images[static_cast<size_t>(s.shown)];
        drawSkinImage(p, QRect(s.at, img.size()), img);
    }
    for (const Text& t : texts_) {
        if (t.text.isEmpty() || !e->region().intersects(t.rect)) continue;
        p.setFont(t.font);
        p.setPen(t.colour);
        p.drawText(t.rect, Qt::AlignLeft | (t.flag ? Qt::AlignVCenter : Qt::AlignTop), t.text);
    }
}

void SkinPanel::mousePressEvent(QMouseEvent* e) {
    for (int i = 0; i < textCount(); ++i)
        if (texts_[static_cast<size_t>(i)].rect.contains(e->position().toPoint())) {
            Q_EMIT textClicked(i, texts_[static_cast<size_t>(i)].rect.topLeft());
            return;
        }
    e->ignore();  // the surface beneath may be dragged
}

}  // namespace fsv::ui::skin
