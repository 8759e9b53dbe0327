// fsv-icon-gen OUT.png [SIZE]: draws FarsightViewer's program icon, a dark metal tile with a
// camera lens looking out of it, in the skin's colours.

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: fsv-icon-gen OUT.png [SIZE]\n");
        return 2;
    }
    const int size = argc > 2 ? std::atoi(argv[2]) : 256;
    if (size < 16 || size > 1024) return 2;
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    // The tile: brushed dark metal with a light top edge.
    QLinearGradient metal(0, 8, 0, 248);
    metal.setColorAt(0, QColor(0x4a, 0x50, 0x57));
    metal.setColorAt(0.5, QColor(0x2a, 0x2f, 0x34));
    metal.setColorAt(1, QColor(0x16, 0x19, 0x1c));
    p.setPen(QPen(QColor(0x0b, 0x0d, 0x10), 4));
    p.setBrush(metal);
    p.drawRoundedRect(QRectF(10, 10, 236, 236), 44, 44);
    p.setPen(QPen(QColor(255, 255, 255, 50), 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(16, 16, 224, 224), 39, 39);

    // The lens: a steel ring, the blue glass, a highlight.
    const QPointF c(128, 128);
    QRadialGradient ring(c, 92);
    ring.setColorAt(0.78, QColor(0x8a, 0x93, 0x9c));
    ring.setColorAt(0.9, QColor(0x3c, 0x42, 0x48));
    ring.setColorAt(1, QColor(0x1a, 0x1d, 0x20));
    p.setPen(Qt::NoPen);
    p.setBrush(ring);
    p.drawEllipse(c, 92, 92);
    QRadialGradient glass(QPointF(116, 112), 72);
    glass.setColorAt(0, QColor(0x7f, 0xd0, 0xff));
    glass.setColorAt(0.45, QColor(0x2b, 0x8c, 0xd6));
    glass.setColorAt(1, QColor(0x0a, 0x1c, 0x33));
    p.setBrush(glass);
    p.drawEllipse(c, 70, 70);
    p.setBrush(QColor(0x05, 0x0a, 0x12));
    p.drawEllipse(c, 28, 28);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(QPointF(104, 100), 14, 10);

    // A recording dot.
    p.setBrush(QColor(0xe5, 0x3e, 0x3e));
    p.setPen(QPen(QColor(0x16, 0x19, 0x1c), 4));
    p.drawEllipse(QPointF(206, 50), 17, 17);
    p.end();
    if (!img.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
