#include "ui/skin/SkinSurface.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/skin/SkinButton.h"
#include "ui/skin/SkinImages.h"

namespace fsv::ui::skin {

SkinPanelWindow::SkinPanelWindow(QImage background, QWidget* parent)
    : QWidget(parent), background_(std::move(background)) {}

void SkinPanelWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (background_.isNull())
        p.fillRect(rect(), QColor(0x22, 0x26, 0x2a));
    else
        drawSkinImage(p, rect(), background_);
}

SkinSurface::SkinSurface(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(tr("Farsight Viewer"));
}

SkinSurface::~SkinSurface() = default;

QSize SkinSurface::sizeHint() const {
    return background_.isNull() ? QSize(800, 600) : background_.size();
}

void SkinSurface::build(const ::fsv::skin::SkinSpec& spec, const QString& folder,
                        Dispatcher dispatcher) {
    dispatch_ = std::move(dispatcher);
    SkinImages images(folder);
    background_ = images.bitmap(spec.panel);
    resize(sizeHint());
    buildSkinControls(this, spec.controls, images, controls_);
    for (const auto& [key, b] : controls_.buttons)
        connect(b, &SkinButton::skinClicked, this, &SkinSurface::clicked);
    if (button(0, 0)) selectLayout(0);

    for (size_t i = 0; i < spec.windows.size(); ++i) {
        const ::fsv::skin::PanelWindowSpec& ws = spec.windows[i];
        // Window 1 lives inside the surface; the others float above it, hidden until asked for.
        const bool inside = i == 1;
        auto* w = new SkinPanelWindow(images.bitmap(ws.background), this);
        if (!inside) w->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
        w->setGeometry(ws.place.x, ws.place.y, ws.place.w, ws.place.h);
        // Named as the skin names it, not after its file.
        w->setAccessibleName(QString::fromStdString(ws.name.empty() ? ws.file : ws.name));
        buildSkinControls(w, ws.controls, images, w->controls);
        const int n = static_cast<int>(i);
        for (const auto& [key, b] : w->controls.buttons)
            connect(b, &SkinButton::skinClicked, this,
                    [this, n](int line, int index) { Q_EMIT panelWindowButton(n, line, index); });
        w->setVisible(inside);
        windows_.push_back(w);
    }
}

void SkinSurface::load(const std::string& style, int width,
                       const std::vector<std::filesystem::path>& roots, Dispatcher dispatcher) {
    const auto folder = ::fsv::skin::findSkinFolder(style, width, roots);
    build(::fsv::skin::loadSkin(folder), QString::fromStdString(folder.string()),
          std::move(dispatcher));
}

SkinPanelWindow* SkinSurface::panelWindow(int i) const {
    return i >= 0 && i < panelWindowCount() ? windows_[static_cast<size_t>(i)] : nullptr;
}

bool SkinSurface::setButtonLook(int line, int index, int look) {
    SkinButton* b = button(line, index);
    if (!b || b->look() == look) return false;
    b->setLook(look);
    return true;
}

void SkinSurface::selectLayout(int index) {
    SkinButton* b = button(0, index);
    if (!b) return;
    if (selected_ != index) setButtonLook(0, selected_, LookNormal);
    setButtonLook(0, index, LookHighlighted);
    selected_ = index;
}

void SkinSurface::clicked(int line, int index) {
    if (line == 0) selectLayout(index);
    if (dispatch_) dispatch_(line, index);
}

void SkinSurface::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    drawSkinImage(p, QRect(QPoint(0, 0), background_.size()), background_);
}

void SkinSurface::mousePressEvent(QMouseEvent* e) {
    dragging_ = e->button() == Qt::LeftButton;
    dragFrom_ = e->globalPosition().toPoint() - window()->frameGeometry().topLeft();
}

void SkinSurface::mouseMoveEvent(QMouseEvent* e) {
    if (dragging_ && (e->buttons() & Qt::LeftButton))
        window()->move(e->globalPosition().toPoint() - dragFrom_);
}

void SkinSurface::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

}  // namespace fsv::ui::skin
