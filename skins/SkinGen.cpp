// Draws the Metal_Style skin at 800, 1024 and 1280 and writes its description files.
//   fsv-skin-gen OUTDIR   ->  OUTDIR/Metal_Style/FarsightViewer_CommRes{,1024,1280}/
// Every picture is painted here from paths, so the skin is reproducible and can be changed by
// changing this file. The grammar of the files is described in skins/README.md.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Palette.
const QColor kBack(0x15, 0x17, 0x1a);
const QColor kBarTop(0x33, 0x38, 0x3e);
const QColor kBarBottom(0x22, 0x26, 0x2a);
const QColor kWell(0x08, 0x0a, 0x0c);
const QColor kAccent(0x3f, 0xb6, 0xef);
const QColor kPlay(0x5f, 0xd0, 0x7a);
const QColor kIcon(0xd8, 0xde, 0xe4);
const QColor kIconDim(0x5d, 0x63, 0x6a);
// Slider thumbs are drawn on this colour, which the slider leaves transparent.
const QColor kKey(0xff, 0x00, 0xff);

enum State { Up, Down, Disable, Play, Focus };
const char* const kStateName[] = {"Up", "Down", "Disable", "Play", "Focus"};

using Icon = std::function<void(QPainter&)>;  // draws in a 24 x 24 box, pen and brush set

struct Button {
    QString name, tip;
    Icon icon;
    bool toggle = false;
};

// ---- icons ---------------------------------------------------------------------------------

QPolygonF poly(std::initializer_list<QPointF> pts) { return QPolygonF(QList<QPointF>(pts)); }

void strokeOnly(QPainter& p) { p.setBrush(Qt::NoBrush); }

Icon gear() {
    return [](QPainter& p) {
        strokeOnly(p);
        p.drawEllipse(QPointF(12, 12), 5.5, 5.5);
        p.drawEllipse(QPointF(12, 12), 1.6, 1.6);
        QPen pen = p.pen();
        pen.setWidthF(3.2);
        pen.setCapStyle(Qt::FlatCap);
        p.setPen(pen);
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            p.drawLine(QPointF(12 + 6.2 * std::cos(a), 12 + 6.2 * std::sin(a)),
                       QPointF(12 + 10 * std::cos(a), 12 + 10 * std::sin(a)));
        }
    };
}
Icon book() {
    return [](QPainter& p) {
        strokeOnly(p);
        p.drawRoundedRect(QRectF(5, 3, 14, 18), 1.5, 1.5);
        p.drawLine(QPointF(8.5, 3), QPointF(8.5, 21));
        p.drawEllipse(QPointF(14, 10), 2.2, 2.2);
        p.drawArc(QRectF(10.5, 13.5, 7, 6), 0, 180 * 16);
    };
}
Icon document() {
    return [](QPainter& p) {
        strokeOnly(p);
        p.drawPolygon(poly({{6, 3}, {14, 3}, {18, 7}, {18, 21}, {6, 21}}));
        p.drawPolyline(poly({{14, 3}, {14, 7}, {18, 7}}));
        p.drawLine(QPointF(9, 12), QPointF(15, 12));
        p.drawLine(QPointF(9, 16), QPointF(15, 16));
    };
}
Icon windows() {
    return [](QPainter& p) {
        strokeOnly(p);
        p.drawRect(QRectF(3, 4, 12, 10));
        p.setBrush(p.pen().color());
        p.drawRect(QRectF(9, 10, 12, 10));
        p.drawLine(QPointF(3, 7), QPointF(15, 7));
    };
}
Icon openFile() {
    return [](QPainter& p) {
        QBrush b = p.brush();
        strokeOnly(p);
        p.drawPolygon(poly({{3, 6}, {9, 6}, {11, 8}, {21, 8}, {21, 19}, {3, 19}}));
        p.setBrush(b);
        p.drawPolygon(poly({{10, 10.5}, {16, 13.5}, {10, 16.5}}));
    };
}
Icon modes() {
    return [](QPainter& p) {
        const double ys[] = {6, 12, 18}, xs[] = {15, 8, 13};
        for (int i = 0; i < 3; ++i) {
            p.drawLine(QPointF(4, ys[i]), QPointF(20, ys[i]));
            p.drawEllipse(QPointF(xs[i], ys[i]), 2.3, 2.3);
        }
    };
}
Icon closeMenu() {
    return [](QPainter& p) {
        strokeOnly(p);
        p.drawEllipse(QPointF(12, 12), 8.5, 8.5);
        p.drawLine(QPointF(8.5, 8.5), QPointF(15.5, 15.5));
        p.drawLine(QPointF(15.5, 8.5), QPointF(8.5, 15.5));
    };
}
Icon plug() {
    return [](QPainter& p) {
        p.drawLine(QPointF(9, 3), QPointF(9, 8));
        p.drawLine(QPointF(15, 3), QPointF(15, 8));
        p.drawRoundedRect(QRectF(6, 8, 12, 7), 2, 2);
        strokeOnly(p);
        p.drawPolyline(poly({{12, 15}, {12, 18}, {8, 21}}));
    };
}
Icon grid(int n) {
    return [n](QPainter& p) {
        p.setPen(Qt::NoPen);
        const double gap = n == 1 ? 0 : (n == 4 ? 1.2 : 1.6), size = 17;
        const double cell = (size - gap * (n - 1)) / n;
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c)
                p.drawRoundedRect(
                    QRectF(3.5 + c * (cell + gap), 3.5 + r * (cell + gap), cell, cell), 0.8, 0.8);
    };
}
Icon hamburger() {
    return [](QPainter& p) {
        for (double y : {6.5, 12.0, 17.5}) p.drawLine(QPointF(5, y), QPointF(19, y));
    };
}
Icon minimise() {
    return [](QPainter& p) { p.drawLine(QPointF(6, 17), QPointF(18, 17)); };
}
Icon cross() {
    return [](QPainter& p) {
        p.drawLine(QPointF(6.5, 6.5), QPointF(17.5, 17.5));
        p.drawLine(QPointF(17.5, 6.5), QPointF(6.5, 17.5));
    };
}
Icon play() {
    return [](QPainter& p) { p.drawPolygon(poly({{8, 5}, {19, 12}, {8, 19}})); };
}
Icon pause() {
    return [](QPainter& p) {
        p.drawRect(QRectF(7, 5.5, 3, 13));
        p.drawRect(QRectF(14, 5.5, 3, 13));
    };
}
// A thin bar and one or two triangles; `right` mirrors it.
Icon step(bool right, bool twice) {
    return [right, twice](QPainter& p) {
        if (right) {
            p.translate(24, 0);
            p.scale(-1, 1);
        }
        if (twice) {
            p.drawRect(QRectF(4, 6.5, 2, 11));
            p.drawPolygon(poly({{13, 6.5}, {7.5, 12}, {13, 17.5}}));
            p.drawPolygon(poly({{19.5, 6.5}, {14, 12}, {19.5, 17.5}}));
        } else {
            p.drawPolygon(poly({{15, 6}, {7, 12}, {15, 18}}));
            p.drawRect(QRectF(17, 6, 2.2, 12));
        }
    };
}
// A gauge with its needle to the left (slower) or the right (faster).
Icon gauge(bool fast) {
    return [fast](QPainter& p) {
        strokeOnly(p);
        p.drawArc(QRectF(3, 5, 18, 18), 0 * 16, 180 * 16);
        const double a = fast ? M_PI / 5 : M_PI - M_PI / 5;
        p.drawLine(QPointF(12, 14), QPointF(12 + 7 * std::cos(a), 14 - 7 * std::sin(a)));
        p.setBrush(p.pen().color());
        p.drawEllipse(QPointF(12, 14), 1.8, 1.8);
        p.drawLine(QPointF(3, 18), QPointF(21, 18));
    };
}
Icon closeChannel() {
    return [](QPainter& p) {
        strokeOnly(p);
        p.drawRoundedRect(QRectF(3.5, 5, 17, 14), 2, 2);
        p.drawLine(QPointF(9, 9), QPointF(15, 15));
        p.drawLine(QPointF(15, 9), QPointF(9, 15));
    };
}
// A picture (film or photo) over an arrow into a tray.
Icon saveIcon(bool film) {
    return [film](QPainter& p) {
        QBrush b = p.brush();
        strokeOnly(p);
        p.drawRect(QRectF(4, 2.5, 16, 10));
        p.setBrush(b);
        if (film) {
            p.drawPolygon(poly({{10, 4.8}, {15, 7.5}, {10, 10.2}}));
        } else {
            p.setPen(Qt::NoPen);
            p.drawPolygon(poly({{5.5, 11.5}, {10, 6.5}, {13, 9.5}, {15, 8}, {18.5, 11.5}}));
            p.drawEllipse(QPointF(16, 5.3), 1.3, 1.3);
            p.setPen(QPen(b.color(), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        }
        p.drawLine(QPointF(12, 13.5), QPointF(12, 20));
        p.drawPolygon(poly({{9, 17.5}, {12, 21}, {15, 17.5}}));
        strokeOnly(p);
        p.drawPolyline(poly({{5, 18}, {5, 21.5}, {19, 21.5}, {19, 18}}));
    };
}

// Two arrows chasing each other round a circle: every channel plays in step. The button shows
// its "Play" picture while the channels do.
Icon inStep() {
    return [](QPainter& p) {
        const QBrush fill = p.brush();
        strokeOnly(p);
        const QRectF circle(4.5, 4.5, 15, 15);
        p.drawArc(circle, 20 * 16, 140 * 16);
        p.drawArc(circle, 200 * 16, 140 * 16);
        p.setBrush(fill);
        // Heads at the arcs' ends (160 and 340 degrees), pointing on round the circle.
        p.drawPolygon(poly({{2.2, 7.5}, {8.8, 7.2}, {4.2, 12.6}}));
        p.drawPolygon(poly({{21.8, 16.5}, {15.2, 16.8}, {19.8, 11.4}}));
    };
}

// ---- painting ------------------------------------------------------------------------------

void paintFace(QPainter& p, const QRectF& r, State s, const Icon& icon, double k) {
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF face = r.adjusted(1.5, 1.5, -1.5, -1.5);
    const double radius = 5 * k;
    QLinearGradient g(face.topLeft(), face.bottomLeft());
    QColor border(0x0e, 0x10, 0x12), iconColour = kIcon;
    switch (s) {
        case Up:
            g.setColorAt(0, QColor(0x4a, 0x50, 0x57));
            g.setColorAt(1, QColor(0x2b, 0x30, 0x35));
            break;
        case Down:
            g.setColorAt(0, QColor(0x16, 0x1a, 0x1e));
            g.setColorAt(1, QColor(0x24, 0x2a, 0x30));
            border = kAccent.darker(150);
            iconColour = kAccent;
            break;
        case Disable:
            g.setColorAt(0, QColor(0x2c, 0x30, 0x34));
            g.setColorAt(1, QColor(0x26, 0x29, 0x2d));
            iconColour = kIconDim;
            break;
        case Play:
            g.setColorAt(0, QColor(0x17, 0x22, 0x1a));
            g.setColorAt(1, QColor(0x21, 0x2e, 0x24));
            border = kPlay.darker(160);
            iconColour = kPlay;
            break;
        case Focus:
            g.setColorAt(0, QColor(0x55, 0x5c, 0x64));
            g.setColorAt(1, QColor(0x31, 0x37, 0x3d));
            border = kAccent;
            iconColour = Qt::white;
            break;
    }
    p.setPen(QPen(border, 1.2));
    p.setBrush(g);
    p.drawRoundedRect(face, radius, radius);
    if (s == Up || s == Focus) {  // a sheen along the top edge
        p.setPen(QPen(QColor(255, 255, 255, 45), 1));
        p.drawLine(QPointF(face.left() + radius, face.top() + 1),
                   QPointF(face.right() - radius, face.top() + 1));
    }
    if (s == Down || s == Play) {  // pressed: a shadow along the top
        p.setPen(QPen(QColor(0, 0, 0, 120), 2));
        p.drawLine(QPointF(face.left() + radius, face.top() + 1.5),
                   QPointF(face.right() - radius, face.top() + 1.5));
    }
    const double side = std::min(face.width(), face.height()) * 0.62;
    p.save();
    p.translate(face.center().x() - side / 2, face.center().y() - side / 2 + (s == Down ? 0.6 : 0));
    p.scale(side / 24, side / 24);
    p.setPen(QPen(iconColour, 1.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(iconColour);
    icon(p);
    p.restore();
}

// Fine horizontal streaks of a brushed metal, always the same for the same size.
void brush(QPainter& p, const QRect& r, unsigned seed) {
    for (int y = r.top(); y <= r.bottom(); ++y) {
        seed = seed * 1103515245u + 12345u;
        const int a = static_cast<int>((seed >> 16) % 9);
        p.setPen(QColor((seed >> 8) & 1 ? 255 : 0, (seed >> 8) & 1 ? 255 : 0,
                        (seed >> 8) & 1 ? 255 : 0, a));
        p.drawLine(r.left(), y, r.right(), y);
    }
}

void bar(QPainter& p, const QRect& r, bool topEdgeAccent) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, kBarTop);
    g.setColorAt(1, kBarBottom);
    p.fillRect(r, g);
    brush(p, r, static_cast<unsigned>(r.top() * 31 + r.height()));
    p.setPen(QColor(255, 255, 255, 28));
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.setPen(QColor(0, 0, 0, 160));
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    if (topEdgeAccent) {
        QLinearGradient a(r.topLeft(), r.topRight());
        a.setColorAt(0, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 0));
        a.setColorAt(0.5, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 150));
        a.setColorAt(1, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 0));
        p.fillRect(QRect(r.left(), r.top(), r.width(), 2), a);
    }
}

// A recessed tray behind a group of controls.
void groove(QPainter& p, const QRectF& r, double radius) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 20), 1));
    p.setBrush(QColor(0, 0, 0, 70));
    p.drawRoundedRect(r, radius, radius);
}

bool save(const QImage& img, const QString& path) {
    if (img.convertToFormat(QImage::Format_RGB888).save(path, "BMP")) return true;
    std::fprintf(stderr, "fsv-skin-gen: cannot write %s\n", qPrintable(path));
    return false;
}

// ---- one skin ------------------------------------------------------------------------------

struct Placed {
    Button b;
    QRect r;
};

struct Writer {
    QString text;
    void section(const QString& name) { text += "\n[" + name + "]\n"; }
    void key(const QString& k, const QString& v) { text += k + "=" + v + "\n"; }
};

QString num(int v) { return QString::number(v); }
QString rectText(const QRect& r) {
    return num(r.x()) + "," + num(r.y()) + "," + num(r.width()) + "," + num(r.height());
}

class SkinPainter {
  public:
    SkinPainter(int width, int height, const QString& dir)
        : W(width), H(height), k(width / 800.0), dir_(dir), surface_(W, H, QImage::Format_RGB32) {}

    bool run();

  private:
    // Where things go at this size: the bars' heights, the windows and each line's buttons.
    struct Places {
        int top = 0, ctl = 0, margin = 0, ctlTop = 0;
        QRect slider, info, statusWin;
        std::vector<Placed> menu, tool, caption, play, save, layout;
    };
    Places place() const;
    void paintSurface(const Places& at);
    void writeMain(const Places& at);
    void paintSlider(const QRect& slider);
    void paintInfo(const QRect& info);
    void paintStatusWindow(const QRect& statusWin);
    void paintSideWindow(int top);

  private:
    int px(double v) const { return static_cast<int>(std::lround(v * k)); }
    // Buttons of one line laid out from (x, y), `gap` apart; returns their rectangles.
    std::vector<Placed> row(const std::vector<Button>& buttons, int x, int y, int w, int h,
                            int gap) const {
        std::vector<Placed> out;
        for (const Button& b : buttons) {
            out.push_back(Placed{b, QRect(x, y, w, h)});
            x += w + gap;
        }
        return out;
    }
    // The five strips of a line: each button's piece is cut from the finished surface, then
    // its face is painted on it, so the corners blend with what lies behind the button.
    bool strips(const QString& stem, const std::vector<Placed>& buttons, const QImage& behind);
    // The strips of a line without buttons: one transparent pixel each.
    bool emptyStrips(const QString& stem);
    void buttonSection(const QString& line, const std::vector<Placed>& buttons, int skipBefore);

    int W, H;
    double k;
    QString dir_;
    QImage surface_;
    Writer ini_;
    bool ok_ = true;
};

bool SkinPainter::strips(const QString& stem, const std::vector<Placed>& buttons,
                         const QImage& behind) {
    if (buttons.empty()) return true;
    const int w = buttons[0].r.width(), h = buttons[0].r.height();
    for (int s = Up; s <= Focus; ++s) {
        QImage strip(w * static_cast<int>(buttons.size()), h, QImage::Format_RGB32);
        QPainter p(&strip);
        for (size_t i = 0; i < buttons.size(); ++i) {
            const QRect piece(static_cast<int>(i) * w, 0, w, h);
            p.drawImage(piece.topLeft(), behind.copy(buttons[i].r));
            paintFace(p, piece, static_cast<State>(s), buttons[i].b.icon, std::min(k, 1.4));
        }
        p.end();
        ok_ = save(strip, dir_ + "/" + stem + kStateName[s] + ".bmp") && ok_;
    }
    return ok_;
}

bool SkinPainter::emptyStrips(const QString& stem) {
    QImage strip(1, 1, QImage::Format_RGB32);
    strip.fill(kKey);
    for (int s = Up; s <= Focus; ++s)
        ok_ = save(strip, dir_ + "/" + stem + kStateName[s] + ".bmp") && ok_;
    return ok_;
}

void SkinPainter::buttonSection(const QString& line, const std::vector<Placed>& buttons,
                                int skipBefore) {
    ini_.section("Button" + line);
    for (int i = 0; i < skipBefore; ++i) ini_.key("b" + num(i), "");  // keeps the indexes
    for (size_t i = 0; i < buttons.size(); ++i) {
        const Placed& b = buttons[i];
        const int w = b.r.width();
        ini_.key("b" + num(skipBefore + static_cast<int>(i)),
                 b.b.name + "," + num(b.r.x()) + "," + num(b.r.y()) + "," +
                     num(static_cast<int>(i) * w) + ",0," + num(w) + "," + num(b.r.height()) + "," +
                     b.b.tip + "," + (b.b.toggle ? "TRUE" : "FALSE"));
    }
}

// Where the bars, the windows and each line's buttons go at this size.
SkinPainter::Places SkinPainter::place() const {
    Places at;
    const int top = px(46), ctl = px(108), margin = px(8);
    const int tbW = px(40), tbH = px(34), tbGap = px(4);
    // Narrow enough that the playback, save and layout groups fit side by side at every width.
    const int pbW = px(30), pbH = px(30), pbGap = px(2);
    const int lyW = px(30), lyH = px(28);

    // Buttons and where they go.
    const std::vector<Button> menu{{"menu", "Menu", hamburger()}};
    const std::vector<Button> tool{{"setup", "Setup", gear()},
                                   {"book", "Address Book", book()},
                                   {"file", "File", document()},
                                   {"windows", "Windows", windows()},
                                   {"openavi", "Open AVI File", openFile()},
                                   {"mode", "Mode", modes()},
                                   {"close", "Close", closeMenu()},
                                   {"connect", "Connect", plug()}};
    const std::vector<Button> caption{{"minimize", "Minimize", minimise()},
                                      {"exit", "Exit", cross()}};
    const std::vector<Button> playback{
        {"play", "Play", play()},
        {"pause", "Pause", pause()},
        {"prevframe", "Previous Frame", step(false, false)},
        {"nextframe", "Next Frame (hold for fast forward)", step(true, false)},
        {"first", "First Frame", step(false, true)},
        {"last", "Last Frame", step(true, true)},
        {"slower", "Slower", gauge(false)},
        {"faster", "Faster", gauge(true)},
        {"closechannel", "Close Channel", closeChannel()}};
    const std::vector<Button> saves{
        {"saveavi", "Save as AVI File", saveIcon(true)},
        {"savebmp", "Save as BMP File", saveIcon(false)},
        {"sync", "Sync: play every local file in step (Ctrl+Y)", inStep()}};
    const std::vector<Button> layouts{{"layout1", "1 Panel", grid(1)},
                                      {"layout4", "4 Panels", grid(2)},
                                      {"layout9", "9 Panels", grid(3)},
                                      {"layout16", "16 Panels", grid(4)}};

    const int tbY = (top - tbH) / 2;
    const auto menuAt = row(menu, margin, tbY, tbH, tbH, 0);
    const auto toolAt = row(tool, margin + tbH + px(10), tbY, tbW, tbH, tbGap);
    const int capS = px(26);
    const auto capAt =
        row(caption, W - margin - 2 * capS - px(4), (top - capS) / 2, capS, capS, px(4));

    const int ctlTop = H - ctl;
    const QRect slider(margin + px(4), ctlTop + px(10), W - 2 * margin - px(8), px(20));
    const int rowY = ctlTop + px(40);
    const QRect info(margin, rowY, px(212), px(58));
    int x = info.right() + px(16);
    const auto playAt = row(playback, x, rowY + (info.height() - pbH) / 2, pbW, pbH, pbGap);
    x += static_cast<int>(playback.size()) * (pbW + pbGap) + px(12);
    const auto saveAt = row(saves, x, rowY + (info.height() - pbH) / 2, pbW, pbH, pbGap);
    const int lyX = W - margin - 4 * (lyW + pbGap) + pbGap;
    const auto layoutAt = row(layouts, lyX, rowY + (info.height() - lyH) / 2, lyW, lyH, pbGap);
    const QRect status(toolAt.back().r.right() + px(16), tbY, 0, tbH);
    const QRect statusWin(status.x(), status.y(), capAt.front().r.left() - px(12) - status.x(),
                          tbH);
    at.top = top;
    at.ctl = ctl;
    at.margin = margin;
    at.ctlTop = ctlTop;
    at.slider = slider;
    at.info = info;
    at.statusWin = statusWin;
    at.menu = menuAt;
    at.tool = toolAt;
    at.caption = capAt;
    at.play = playAt;
    at.save = saveAt;
    at.layout = layoutAt;
    return at;
}

bool SkinPainter::run() {
    QDir().mkpath(dir_);
    const Places at = place();
    paintSurface(at);
    writeMain(at);
    paintSlider(at.slider);
    paintInfo(at.info);
    paintStatusWindow(at.statusWin);
    paintSideWindow(at.top);

    QFile f(dir_ + "/skin_e.ini");
    ok_ = f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
          f.write(ini_.text.toUtf8()) == ini_.text.toUtf8().size() && ok_;
    return ok_;
}

// The main surface: the two bars, the well the panels sit in, and a groove under each group.
void SkinPainter::paintSurface(const Places& at) {
    const int top = at.top, ctl = at.ctl, margin = at.margin, ctlTop = at.ctlTop;
    const QRect &slider = at.slider, &statusWin = at.statusWin;
    const auto &toolAt = at.tool, &playAt = at.play, &saveAt = at.save, &layoutAt = at.layout;
    QPainter p(&surface_);
    QLinearGradient g(0, 0, 0, H);
    g.setColorAt(0, kBack.lighter(110));
    g.setColorAt(1, kBack);
    p.fillRect(surface_.rect(), g);
    bar(p, QRect(0, 0, W, top), false);
    bar(p, QRect(0, ctlTop, W, ctl), true);
    const QRect well(margin, top + margin, W - 2 * margin, ctlTop - top - 2 * margin);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    p.setBrush(kWell);
    p.drawRoundedRect(QRectF(well).adjusted(-1.5, -1.5, 1.5, 1.5), 4, 4);
    auto around = [](const std::vector<Placed>& v, int pad) {
        return QRectF(v.front().r.united(v.back().r)).adjusted(-pad, -pad, pad, pad);
    };
    groove(p, around(toolAt, px(3)), px(6));
    groove(p, around(playAt, px(3)), px(6));
    groove(p, around(saveAt, px(3)), px(6));
    groove(p, around(layoutAt, px(3)), px(6));
    groove(p, QRectF(slider).adjusted(-px(2), -px(2), px(2), px(2)), px(6));
    groove(p, QRectF(statusWin).adjusted(0, px(2), 0, -px(2)), px(5));
}

// main.bmp and the skin's main file: its panels, button lines and their strips.
void SkinPainter::writeMain(const Places& at) {
    const auto &menuAt = at.menu, &toolAt = at.tool, &capAt = at.caption;
    const auto &playAt = at.play, &saveAt = at.save, &layoutAt = at.layout;
    ok_ = save(surface_, dir_ + "/main.bmp") && ok_;

    ini_.text = "; Metal_Style " + num(W) + " x " + num(H) +
                ", drawn by fsv-skin-gen (skins/SkinGen.cpp): change the tool, not this file.\n";
    ini_.section("Main");
    ini_.key("Panel", "main.bmp");
    ini_.section("DlgBoxInis");
    ini_.key("Side", "SideDlg.ini");
    ini_.key("Status", "StatusDlg.ini");
    ini_.section("ButtonLines");
    ini_.key("Layout", "layoutUp.bmp");
    ini_.key("Menu", "menuUp.bmp");
    ini_.key("Caption", "captionUp.bmp");
    ini_.key("Play", "playUp.bmp");
    ini_.key("Save", "saveUp.bmp");
    ini_.key("Side", "sideUp.bmp");
    ini_.key("Tool", "toolUp.bmp");
    strips("layout", layoutAt, surface_);
    strips("menu", menuAt, surface_);
    strips("caption", capAt, surface_);
    strips("play", playAt, surface_);
    strips("save", saveAt, surface_);
    strips("tool", toolAt, surface_);
    emptyStrips("side");  // the side window's line has no buttons, but its strips are named
    buttonSection("Layout", layoutAt, 0);
    buttonSection("Menu", menuAt, 0);
    buttonSection("Caption", capAt, 0);
    buttonSection("Play", playAt, 0);
    buttonSection("Save", saveAt, 2);  // indexes 0 and 1 of this line are not drawn
    ini_.section("ButtonSide");        // the side window's line: no buttons in this style
    buttonSection("Tool", toolAt, 0);
}

// The position slider: background on top, then the normal and the active thumb.
void SkinPainter::paintSlider(const QRect& slider) {
    const int tw = px(14), th = slider.height();
    QImage img(slider.width(), slider.height() + th, QImage::Format_RGB32);
    img.fill(kKey);
    QPainter p(&img);
    p.drawImage(0, 0, surface_.copy(slider));
    p.setRenderHint(QPainter::Antialiasing);
    const double cy = slider.height() / 2.0;
    p.setPen(QPen(QColor(0, 0, 0, 200), 1));
    p.setBrush(kWell);
    p.drawRoundedRect(QRectF(px(6), cy - px(3), slider.width() - px(12), px(6)), 3, 3);
    for (int i = 0; i <= 20; ++i) {
        const double tx = px(6) + i * (slider.width() - px(12)) / 20.0;
        p.setPen(QColor(255, 255, 255, i % 5 == 0 ? 60 : 25));
        p.drawLine(QPointF(tx, cy + px(5)), QPointF(tx, cy + px(7)));
    }
    // Thumbs are drawn without smoothing: their edges meet the key colour, which must stay
    // pure to be left out.
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int a = 0; a < 2; ++a) {
        const QRect t(a * tw + 1, th + 1, tw - 2, th - 2);
        QLinearGradient g(t.topLeft(), t.bottomLeft());
        g.setColorAt(0, a ? kAccent.lighter(120) : QColor(0xe4, 0xe8, 0xec));
        g.setColorAt(1, a ? kAccent.darker(130) : QColor(0x8a, 0x92, 0x9a));
        p.fillRect(t.adjusted(1, 0, -1, 0), g);
        p.fillRect(t.adjusted(0, 1, 0, -1), g);
        p.setPen(QColor(0x0e, 0x10, 0x12));
        p.drawLine(t.left() + 1, t.top(), t.right() - 1, t.top());
        p.drawLine(t.left() + 1, t.bottom(), t.right() - 1, t.bottom());
        p.drawLine(t.left(), t.top() + 1, t.left(), t.bottom() - 1);
        p.drawLine(t.right(), t.top() + 1, t.right(), t.bottom() - 1);
        p.setPen(QColor(0x40, 0x46, 0x4c));
        p.drawLine(t.center().x(), t.top() + 4, t.center().x(), t.bottom() - 4);
    }
    p.end();
    ok_ = save(img, dir_ + "/slider.bmp") && ok_;
    ini_.section("SliderLines");
    ini_.key("Pos", "slider.bmp");
    ini_.section("SliderPos");
    ini_.key("s0", "position," + num(slider.x()) + "," + num(slider.y()) + ",0,0," +
                       num(slider.width()) + "," + num(slider.height()) + ",HORZ,0," + num(th) +
                       "," + num(tw) + "," + num(th) + "," + num(tw) + "," + num(th) + ",Position");
}

// The channel / date / time / speed panel.
void SkinPainter::paintInfo(const QRect& info) {
    QImage img = surface_.copy(info);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF lcd = QRectF(img.rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QLinearGradient g(lcd.topLeft(), lcd.bottomLeft());
    g.setColorAt(0, QColor(0x06, 0x0b, 0x0f));
    g.setColorAt(1, QColor(0x0d, 0x15, 0x1b));
    p.setPen(QPen(QColor(255, 255, 255, 35), 1));
    p.setBrush(g);
    p.drawRoundedRect(lcd, px(6), px(6));
    p.setPen(QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 40));
    p.drawLine(QPointF(px(10), info.height() / 2.0),
               QPointF(info.width() - px(10), info.height() / 2.0));
    p.end();
    ok_ = save(img, dir_ + "/info.bmp") && ok_;
    const int half = info.height() / 2, pad = px(8), small = -px(14), big = -px(20);
    auto txt = [&](const QString& name, const QRect& r, int height, const QColor& c) {
        return name + "," + rectText(r) + ",DejaVu Sans Mono," + num(height) + ",0,0,0," +
               num(c.red()) + "," + num(c.green()) + "," + num(c.blue()) + ",0,TRUE";
    };
    ini_.section("Panles");
    ini_.key("Info", "info.bmp");
    ini_.section("PanelInfo");
    ini_.key("p", "info," + num(info.x()) + "," + num(info.y()) + ",0,0," + num(info.width()) +
                      "," + num(info.height()));
    const int w = info.width() - 2 * pad;
    // Top row: channel, date and speed; below, the time in a larger face.
    // The channel is at most "#16"; the date gets the room up to the speed.
    ini_.key("t0", txt("channelTXT", QRect(pad, 0, px(38), half), small, kAccent));
    ini_.key("t1", txt("dateTXT", QRect(pad + px(40), 0, w - px(94), half), small, kIcon));
    ini_.key("t2", txt("timeTXT", QRect(pad, half - px(2), w, half), big, kIcon));
    ini_.key("t3", txt("speedTXT", QRect(pad + w - px(52), 0, px(52), half), small,
                       QColor(0xff, 0xc1, 0x3c)));
}

// Panel window 1, the status strip in the top bar: a text and a progress bar.
void SkinPainter::paintStatusWindow(const QRect& statusWin) {
    QImage img = surface_.copy(statusWin);
    ok_ = save(img, dir_ + "/statusdlg.bmp") && ok_;
    const int ph = px(8), pw = std::max(px(60), statusWin.width() / 3);
    const QRect prog(statusWin.width() - pw - px(10), (statusWin.height() - ph) / 2, pw, ph);
    QImage pimg(pw, 2 * ph, QImage::Format_RGB32);
    QPainter p(&pimg);
    p.drawImage(0, 0, img.copy(prog));
    p.drawImage(0, ph, img.copy(prog));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 0, 200), 1));
    p.setBrush(kWell);
    p.drawRoundedRect(QRectF(0.5, 0.5, pw - 1, ph - 1), ph / 2.0, ph / 2.0);
    QLinearGradient g(0, ph, 0, 2 * ph);
    g.setColorAt(0, kAccent.lighter(130));
    g.setColorAt(1, kAccent.darker(120));
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0.5, ph + 0.5, pw - 1, ph - 1), ph / 2.0, ph / 2.0);
    p.end();
    ok_ = save(pimg, dir_ + "/progress.bmp") && ok_;
    Writer w;
    w.text = "; The status strip of the top bar.\n";
    w.section("DialogBox");
    w.key("Skin", "statusdlg.bmp," + rectText(statusWin));
    w.section("StaticEdit");
    w.key("s0", "status," + num(px(10)) + ",0," + num(prog.left() - px(20)) + "," +
                    num(statusWin.height()) + ",DejaVu Sans," + num(-px(13)) +
                    ",0,0,0,200,208,216,0,TRUE");
    w.section("ProgressLines");
    w.key("Down", "progress.bmp");
    w.section("ProgressDown");
    w.key("p0", "download," + num(prog.x()) + "," + num(prog.y()) + ",0,0," + num(pw) + "," +
                    num(ph) + ",0," + num(ph) + "," + num(pw) + "," + num(ph) + ",HORZ");
    QFile f(dir_ + "/StatusDlg.ini");
    ok_ = f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
          f.write(w.text.toUtf8()) == w.text.toUtf8().size() && ok_;
}

// Panel window 0, the side window: a titled, brushed plate.
void SkinPainter::paintSideWindow(int top) {
    const QRect side(W - px(230), top + px(20), px(220), std::min(px(300), H / 2));
    QImage img(side.size(), QImage::Format_RGB32);
    QPainter p(&img);
    bar(p, img.rect(), true);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 20), 1));
    p.setBrush(kWell);
    p.drawRoundedRect(QRectF(px(8), px(30), side.width() - px(16), side.height() - px(38)), 4, 4);
    p.end();
    ok_ = save(img, dir_ + "/sidedlg.bmp") && ok_;
    Writer w;
    w.text = "; The side window: a floating plate with a title.\n";
    w.section("DialogBox");
    w.key("Skin", "sidedlg.bmp," + rectText(side));
    w.section("StaticEdit");
    w.key("s0", "title," + num(px(10)) + ",0," + num(side.width() - px(20)) + "," + num(px(30)) +
                    ",DejaVu Sans," + num(-px(13)) + ",0,0,0,200,208,216,0,TRUE");
    QFile f(dir_ + "/SideDlg.ini");
    ok_ = f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
          f.write(w.text.toUtf8()) == w.text.toUtf8().size() && ok_;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fsv-skin-gen OUTDIR\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]) + "/Metal_Style";
    bool ok = true;
    ok = SkinPainter(800, 600, root + "/FarsightViewer_CommRes").run() && ok;
    ok = SkinPainter(1024, 768, root + "/FarsightViewer_CommRes1024").run() && ok;
    ok = SkinPainter(1280, 1024, root + "/FarsightViewer_CommRes1280").run() && ok;
    return ok ? 0 : 1;
}
