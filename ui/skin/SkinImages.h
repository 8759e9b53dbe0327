#pragma once
// The bitmaps of one skin folder, each read once. A missing or unreadable bitmap, or a piece
// that lies outside its bitmap, gives a null image: the control then simply has no picture.

#include <QHash>
#include <QImage>
#include <QString>

#include "skin/Skin.h"

class QPainter;

namespace ui::skin {

class SkinImages {
  public:
    explicit SkinImages(QString folder) : folder_(std::move(folder)) {}

    QImage bitmap(const std::string& name);
    // The piece `r` of a bitmap, cut to the bitmap's bounds; null when nothing of it is inside.
    QImage piece(const std::string& name, const ::skin::Rect& r);
    const QString& folder() const { return folder_; }

  private:
    QString folder_;
    QHash<QString, QImage> cache_;
};

// Paints `img` into `target`, scaled smoothly for the device pixel ratio of the painter's device.
void drawSkinImage(QPainter& p, const QRect& target, const QImage& img);

// The colour that slider thumbs are drawn on; it is left transparent.
inline constexpr QRgb kSkinKeyColour = 0xFFFF00FF;
QImage withKeyTransparent(const QImage& img);

}  // namespace ui::skin
