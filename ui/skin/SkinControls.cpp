#include "ui/skin/SkinControls.h"

#include <QPainter>

#include "ui/skin/SkinButton.h"
#include "ui/skin/SkinImages.h"
#include "ui/skin/SkinPanel.h"
#include "ui/skin/SkinSlider.h"

namespace fsv::ui::skin {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// Every control gets an accessible name: its tooltip when it has one, else its name.
void label(QWidget* w, const std::string& name, const std::string& tooltip) {
    w->setObjectName(q(name));
    if (!tooltip.empty()) w->setToolTip(q(tooltip));
    w->setAccessibleName(q(tooltip.empty() ? name : tooltip));
}

QColor colour(int r, int g, int b) { return QColor(r, g, b); }

}  // namespace

QFont skinFont(const std::string& face, int height, bool italic, bool underline, bool strikeout) {
    QFont f(q(face));
    // A negative height is the character height, a positive one the cell height.
    const int px = height < 0 ? -height : height * 4 / 5;
    f.setPixelSize(std::max(px, 6));
    f.setWeight(QFont::Normal);
    f.setItalic(italic);
    f.setUnderline(underline);
    f.setStrikeOut(strikeout);
    return f;
}

SkinProgress::SkinProgress(QImage background, QImage bar, bool horizontal, QWidget* parent)
    : QWidget(parent),
      background_(std::move(background)),
      bar_(std::move(bar)),
      horizontal_(horizontal) {}

void SkinProgress::setRange(int minimum, int maximum) {
    min_ = minimum;
    max_ = std::max(minimum, maximum);
    setValue(value_);
}

void SkinProgress::setValue(int value) {
    value = std::clamp(value, min_, max_);
    if (value == value_) return;
    value_ = value;
    update();
}

void SkinProgress::paintEvent(QPaintEvent*) {
    QPainter p(this);
    drawSkinImage(p, rect(), background_);
    if (max_ == min_) return;
    const double part = double(value_ - min_) / double(max_ - min_);
    QRect shown = rect();
    if (horizontal_)
        shown.setWidth(static_cast<int>(width() * part));
    else
        shown.setTop(height() - static_cast<int>(height() * part));
    p.setClipRect(shown);
    if (bar_.isNull())
        p.fillRect(shown, palette().color(QPalette::Highlight));
    else
        drawSkinImage(p, rect(), bar_);
}

SkinButton* SkinControlSet::button(int line, int index) const {
    if (index < 0 || index >= ::fsv::skin::kButtonsPerLine) return nullptr;
    const auto it = buttons.find(line * ::fsv::skin::kButtonsPerLine + index);
    return it == buttons.end() ? nullptr : it->second;
}

namespace {

// The buttons of every button line, each with its five state pictures.
void addButtons(QWidget* parent, const ::fsv::skin::Controls& c, SkinImages& images,
                SkinControlSet& out) {
    for (const ::fsv::skin::ButtonLine& line : c.buttonLines) {
        for (const ::fsv::skin::ButtonSpec& b : line.buttons) {
            std::array<QImage, 5> img;
            for (size_t s = 0; s < 5; ++s) img[s] = images.piece(line.strips[s], b.source);
            auto* w = new SkinButton(b.line, b.index, std::move(img), parent);
            w->setGeometry(b.x, b.y, b.source.w, b.source.h);
            w->setCheckable(b.toggle);
            label(w, b.name, b.tooltip);
            out.buttons[b.line * ::fsv::skin::kButtonsPerLine + b.index] = w;
        }
    }
}

// The sliders of every slider line.
void addSliders(QWidget* parent, const ::fsv::skin::Controls& c, SkinImages& images,
                SkinControlSet& out) {
    for (size_t n = 0; n < c.sliderLines.size(); ++n) {
        const auto& line = c.sliderLines[n];
        for (const ::fsv::skin::SliderSpec& s : line.items) {
            const ::fsv::skin::Rect active{s.activeX, s.activeY, s.thumb.w, s.thumb.h};
            auto* w = new SkinSlider(s.horizontal ? Qt::Horizontal : Qt::Vertical,
                                     images.piece(line.bitmap, s.background),
                                     images.piece(line.bitmap, s.thumb),
                                     images.piece(line.bitmap, active), parent);
            w->setGeometry(s.x, s.y, s.background.w, s.background.h);
            label(w, s.name, s.text);
            out.sliders[static_cast<int>(n)].push_back(w);
        }
    }
}

// The panels, with their texts and image sets.
void addPanels(QWidget* parent, const ::fsv::skin::Controls& c, SkinImages& images,
               SkinControlSet& out) {
    for (size_t n = 0; n < c.panelLines.size(); ++n) {
        const auto& line = c.panelLines[n];
        if (!line.panel) continue;
        const ::fsv::skin::PanelSpec& ps = *line.panel;
        auto* w = new SkinPanel(images.piece(line.bitmap, ps.source), parent);
        w->setGeometry(ps.x, ps.y, ps.source.w, ps.source.h);
        label(w, ps.name, {});
        for (const ::fsv::skin::TextItem& t : ps.texts)
            w->addText(
                SkinPanel::Text{q(t.name),
                                QRect(t.rect.x, t.rect.y, t.rect.w, t.rect.h),
                                skinFont(t.face, t.height, t.italic, t.underline, t.strikeout),
                                colour(t.red, t.green, t.blue),
                                t.flag,
                                {}});
        for (const ::fsv::skin::ImageSet& s : ps.imageSets) {
            SkinPanel::Images set{q(s.name), QPoint(s.x, s.y), {}, 0};
            for (size_t i = 0; i < s.sizes.size(); ++i) {
                const auto [iw, ih] = s.sizes[i];
                set.images.push_back(
                    images.piece(s.file, ::fsv::skin::Rect{static_cast<int>(i) * iw, 0, iw, ih}));
            }
            w->addImages(std::move(set));
        }
        out.panels[static_cast<int>(n)] = w;
    }
}

// The progress bars of every progress line.
void addProgressBars(QWidget* parent, const ::fsv::skin::Controls& c, SkinImages& images,
                     SkinControlSet& out) {
    for (size_t n = 0; n < c.progressLines.size(); ++n) {
        const auto& line = c.progressLines[n];
        for (const ::fsv::skin::ProgressSpec& s : line.items) {
            auto* w = new SkinProgress(images.piece(line.bitmap, s.background),
                                       images.piece(line.bitmap, s.bar), s.horizontal, parent);
            w->setGeometry(s.x, s.y, s.background.w, s.background.h);
            label(w, s.name, {});
            out.progress[static_cast<int>(n)].push_back(w);
        }
    }
}

// The drop-down lists.
void addCombos(QWidget* parent, const ::fsv::skin::Controls& c, SkinControlSet& out) {
    for (size_t n = 0; n < c.comboLines.size(); ++n) {
        for (const ::fsv::skin::ComboSpec& s : c.comboLines[n].items) {
            auto* w = new QComboBox(parent);
            w->setGeometry(s.x, s.y, s.w, s.h);
            label(w, s.name, s.tooltip);
            out.combos[static_cast<int>(n)].push_back(w);
        }
    }
}

// The edit fields, in the skin's font and colour on a dark ground.
void addEdits(QWidget* parent, const ::fsv::skin::Controls& c, SkinControlSet& out) {
    for (size_t n = 0; n < c.editLines.size(); ++n) {
        for (const ::fsv::skin::EditSpec& s : c.editLines[n].items) {
            auto* w = new QLineEdit(parent);
            w->setGeometry(s.x, s.y, s.w, s.h);
            w->setFont(skinFont(s.face, s.height));
            QPalette pal = w->palette();
            pal.setColor(QPalette::Text, colour(s.red, s.green, s.blue));
            pal.setColor(QPalette::Base, QColor(0x0b, 0x0e, 0x11));
            w->setPalette(pal);
            w->setFrame(false);
            label(w, s.name, s.tooltip);
            out.edits[static_cast<int>(n)].push_back(w);
        }
    }
}

// The static texts.
void addStatics(QWidget* parent, const ::fsv::skin::Controls& c, SkinControlSet& out) {
    for (const ::fsv::skin::TextItem& t : c.statics) {
        auto* w = new QLabel(parent);
        w->setGeometry(t.rect.x, t.rect.y, t.rect.w, t.rect.h);
        w->setFont(skinFont(t.face, t.height, t.italic, t.underline, t.strikeout));
        QPalette pal = w->palette();
        pal.setColor(QPalette::WindowText, colour(t.red, t.green, t.blue));
        w->setPalette(pal);
        w->setAlignment(Qt::AlignLeft | (t.flag ? Qt::AlignVCenter : Qt::AlignTop));
        label(w, t.name, {});
        out.statics.push_back(w);
    }
}

}  // namespace

void buildSkinControls(QWidget* parent, const ::fsv::skin::Controls& c, SkinImages& images,
                       SkinControlSet& out) {
    addButtons(parent, c, images, out);
    addSliders(parent, c, images, out);
    addPanels(parent, c, images, out);
    addProgressBars(parent, c, images, out);
    addCombos(parent, c, out);
    addEdits(parent, c, out);
    addStatics(parent, c, out);
}

}  // namespace fsv::ui::skin
