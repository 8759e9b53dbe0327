#pragma once
// The bitmaps of one skin folder, each read once. A missing or unreadable bitmap, or a piece
// that lies outside its bitmap, gives a null image: the control then simply has no picture.
// All the bitmaps of a folder share one budget of pixels, checked against the size each
// bitmap's header claims before it is decoded: a bitmap that would exceed it is taken as
// missing, so a few small files claiming huge pictures cannot cost gigabytes.

#include <QHash>
#include <QImage>
#include <QString>

#include "skin/Skin.h"

class QPainter;

namespace fsv::ui::skin {

// About 96 MB of decoded pictures; the default skins at 1280 use a small part of it.
inline constexpr qint64 kSkinPixelBudget = 24ll * 1024 * 1024;

class SkinImages {
  public:
    explicit SkinImages(QString folder) : folder_(std::move(folder)) {}

    QImage bitmap(const std::string& name);
    // The piece `r` of a bitmap, cut to the bitmap's bounds; null when nothing of it is inside.
    QImage piece(const std::string& name, const ::fsv::skin::Rect& r);
    const QString& folder() const { return folder_; }
    // Pixels of the bitmaps decoded so far.
    qint64 pixelsUsed() const { return pixels_; }

  private:
    QString folder_;
    qint64 pixels_ = 0;
    QHash<QString, QImage> cache_;
};

// Paints `img` into `target`, scaled smoothly for the device pixel ratio of the painter's device.
void drawSkinImage(QPainter& p, const QRect& target, const QImage& img);

// The colour that slider thumbs are drawn on; it is left transparent.
inline constexpr QRgb kSkinKeyColour = 0xFFFF00FF;
QImage withKeyTransparent(const QImage& img);

}  // namespace fsv::ui::skin
