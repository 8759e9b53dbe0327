#include "ui/panels/Snapshot.h"

#include <QFontMetrics>
#include <QPainter>
#include <cstring>
#include <vector>

#include "media/Bmp.h"

namespace fsv::ui {

QString frameTimeText(const SystemTime& t) {
    return QString::fromStdString(
        format("%.2d:%.2d:%.2d.%.3d", t.hour, t.minute, t.second, t.milliseconds));
}

QString snapshotCaption(bool local, const QString& server, const QString& camera) {
    return local ? QStringLiteral("Local File") : server + QStringLiteral(" - ") + camera;
}

QImage snapshotImage(const media::BitmapInfoHeader& header, std::span<const uint8_t> bits,
                     const QString& caption, const QString& time) {
    const int w = header.width, h = header.height;
    if (w <= 0 || h <= 0 || header.bitCount != 24) return {};
    const size_t stride = media::rgb24Stride(w);
    if (bits.size() / stride < static_cast<size_t>(h)) return {};
    // Bottom-up BGR rows: read in place, then flipped into a top-down picture of our own.
    QImage image = QImage(bits.data(), w, h, static_cast<qsizetype>(stride), QImage::Format_BGR888)
                       .mirrored(false, true)
                       .convertToFormat(QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(painter.font());
    int bottom = h;
    for (const QString& line : {caption, time}) {
        const int lineHeight = metrics.height() > 0 ? metrics.height() : 25;
        painter.drawText(QRect(1, bottom - lineHeight, w - 1, lineHeight),
                         Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, line);
        bottom -= lineHeight;
    }
    return image;
}

bool saveSnapshot(const std::filesystem::path& path, const media::BitmapInfoHeader& header,
                  std::span<const uint8_t> bits, const QString& caption, const QString& time) {
    const QImage image = snapshotImage(header, bits, caption, time);
    if (image.isNull()) return false;
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    const int w = bgr.width(), h = bgr.height();
    const size_t stride = media::rgb24Stride(w);
    std::vector<uint8_t> out(stride * static_cast<size_t>(h), 0);
    for (int y = 0; y < h; ++y)
        std::memcpy(out.data() + static_cast<size_t>(h - 1 - y) * stride, bgr.constScanLine(y),
                    static_cast<size_t>(w) * 3);
    return media::writeBmp(path, media::BitmapInfoHeader::rgb24(w, h), out);
}

}  // namespace fsv::ui
