#include "ui/skin/SkinImages.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

namespace fsv::ui::skin {

QImage SkinImages::bitmap(const std::string& name) {
    if (name.empty()) return {};
    QString rel = QString::fromStdString(name);
    rel.replace('\\', '/');
    auto it = cache_.find(rel);
    if (it != cache_.end()) return *it;
    QImage img;
    const QString path = folder_ + '/' + rel;
    if (QFileInfo(path).isFile()) {
        QImageReader reader(path);
        const QSize claimed = reader.size();
        if (claimed.isValid() &&
            qint64(claimed.width()) * claimed.height() <= kSkinPixelBudget - pixels_)
            img = reader.read();
    }
    if (!img.isNull()) {
        img = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        pixels_ += qint64(img.width()) * img.height();
    }
    cache_.insert(rel, img);
    return img;
}

QImage SkinImages::piece(const std::string& name, const ::fsv::skin::Rect& r) {
    const QImage img = bitmap(name);
    if (img.isNull() || r.w <= 0 || r.h <= 0) return {};
    const QRect want(r.x, r.y, r.w, r.h);
    const QRect inside = want.intersected(img.rect());
    if (inside.isEmpty()) return {};
    return img.copy(inside);
}

void drawSkinImage(QPainter& p, const QRect& target, const QImage& img) {
    if (img.isNull()) return;
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    // A piece cut short by its bitmap's edge keeps its own size rather than being stretched.
    const QRect r(target.topLeft(), img.size().boundedTo(target.size()));
    p.drawImage(r, img, QRect(QPoint(0, 0), r.size()));
}

QImage withKeyTransparent(const QImage& img) {
    if (img.isNull()) return img;
    QImage out = img.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if ((line[x] | 0xFF000000) == kSkinKeyColour) line[x] = 0;
    }
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace fsv::ui::skin
