#include "ui/playback/TimelineView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "recordings/playback/SyncClock.h"

namespace fsv::ui {

namespace {

QString clockText(int64_t ms, bool seconds) {
    const auto t = playback::stampTime(ms);
    return seconds ? QString::asprintf("%02d:%02d:%02d", t.hour, t.minute, t.second)
                   : QString::asprintf("%02d:%02d", t.hour, t.minute);
}

QString dayText(int64_t ms) {
    const auto t = playback::stampTime(ms);
    return QString::asprintf("%04d-%02d-%02d", t.year, t.month, t.day);
}

}  // namespace

TimelineView::TimelineView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("timeline"));
    setAccessibleName(QStringLiteral("Timeline"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setMinimumHeight(kAxisHeight + kRowHeight);
    describe();
}

QSize TimelineView::sizeHint() const {
    const int rows = std::clamp(static_cast<int>(rows_.size()), 1, 8);
    return {640, kAxisHeight + rows * kRowHeight + 4};
}

void TimelineView::setColours(const TimelineColours& colours) {
    if (colours == colours_) return;
    colours_ = colours;
    update();
}

void TimelineView::setRows(std::vector<playback::TimelineRow> rows) {
    rows_ = std::move(rows);
    row_ = std::clamp(row_, 0, std::max(static_cast<int>(rows_.size()) - 1, 0));
    if (!shownAny_ && !rows_.empty()) {
        shownAny_ = true;
        fitAll();
    }
    updateGeometry();
    describe();
    update();
}

void TimelineView::fitAll() {
    std::optional<std::pair<int64_t, int64_t>> extent;
    for (const auto& r : rows_)
        for (const auto& s : r.spans) {
            const int64_t end = s.end.value_or(s.start);
            extent = extent ? std::make_pair(std::min(extent->first, s.start),
                                             std::max(extent->second, end))
                            : std::make_pair(s.start, end);
        }
    if (extent) {
        window_.fit(extent->first, extent->second);
        mark_ = std::clamp(mark_, window_.start(), window_.start() + window_.span());
        if (mark_ == window_.start()) mark_ = extent->first;
    }
    update();
}

void TimelineView::setCursorTime(std::optional<int64_t> t) {
    if (t == cursor_) return;
    cursor_ = t;
    if (cursor_) window_.reveal(*cursor_);
    describe();
    update();
}

void TimelineView::resizeEvent(QResizeEvent*) { window_.setWidth(width() - kLabelWidth); }

QPoint TimelineView::pointOf(int row, int64_t t) const {
    return {kLabelWidth + static_cast<int>(std::lround(window_.xOf(t))),
            kAxisHeight + row * kRowHeight + kRowHeight / 2};
}

void TimelineView::drawAxis(QPainter& p) {
    // Ticks at least 80 pixels apart, on round times.
    static const int64_t steps[] = {1000,   5000,    10000,   30000,       60000,      300000,
                                    600000, 1800000, 3600000, 3 * 3600000, 6 * 3600000};
    const int64_t perPixel = std::max<int64_t>(window_.span() / std::max(window_.width(), 1), 1);
    int64_t step = steps[std::size(steps) - 1];
    for (int64_t s : steps)
        if (s / perPixel >= 80) {
            step = s;
            break;
        }
    p.setPen(colours_.text);
    p.drawText(QRect(4, 0, kLabelWidth - 8, kAxisHeight), Qt::AlignLeft | Qt::AlignVCenter,
               dayText(window_.start() + window_.span() / 2));
    const int64_t first = (window_.start() / step + 1) * step;
    for (int64_t t = first; t < window_.start() + window_.span(); t += step) {
        const int x = kLabelWidth + static_cast<int>(std::lround(window_.xOf(t)));
        p.drawLine(x, kAxisHeight - 5, x, kAxisHeight);
        p.drawText(QRect(x + 2, 0, 80, kAxisHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   clockText(t, step < 60000));
    }
}

void TimelineView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), colours_.background);
    drawAxis(p);
    if (rows_.empty()) {
        p.setPen(colours_.text);
        p.drawText(rect().adjusted(0, kAxisHeight, 0, 0), Qt::AlignCenter,
                   QStringLiteral("No recordings"));
        return;
    }
    p.setClipRect(rect());
    for (size_t i = 0; i < rows_.size(); ++i) {
        const auto& row = rows_[i];
        const int y = kAxisHeight + static_cast<int>(i) * kRowHeight;
        if (static_cast<int>(i) == row_ && hasFocus())
            p.fillRect(QRect(0, y, width(), kRowHeight), colours_.text.darker(400));
        p.setPen(colours_.text);
        p.drawText(QRect(4, y, kLabelWidth - 8, kRowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(row.label));
        p.save();
        p.setClipRect(QRect(kLabelWidth, y, width() - kLabelWidth, kRowHeight));
        for (const auto& s : row.spans) {
            const double x0 = kLabelWidth + window_.xOf(s.start);
            if (s.end) {
                const double x1 = kLabelWidth + window_.xOf(*s.end);
                p.fillRect(QRectF(x0, y + 3, std::max(x1 - x0, 2.0), kRowHeight - 6),
                           colours_.local);
            } else {
                // A start mark: a post with a flag, the length being unknown.
                p.setPen(QPen(colours_.recorder, 2));
                p.drawLine(QPointF(x0, y + 2), QPointF(x0, y + kRowHeight - 2));
                const QPointF flag[] = {{x0, y + 2.0}, {x0 + 6, y + 5.0}, {x0, y + 8.0}};
                p.setBrush(colours_.recorder);
                p.drawPolygon(flag, 3);
                p.setBrush(Qt::NoBrush);
            }
        }
        p.restore();
    }
    p.setClipRect(QRect(kLabelWidth, 0, width() - kLabelWidth, height()));
    if (hasFocus()) {
        const int x = kLabelWidth + static_cast<int>(std::lround(window_.xOf(mark_)));
        p.setPen(QPen(colours_.text, 1, Qt::DashLine));
        p.drawLine(x, kAxisHeight, x, height());
    }
    if (cursor_) {
        const int x = kLabelWidth + static_cast<int>(std::lround(window_.xOf(*cursor_)));
        p.setPen(QPen(colours_.cursor, 2));
        p.drawLine(x, 0, x, height());
    }
}

void TimelineView::wheelEvent(QWheelEvent* e) {
    const int steps = e->angleDelta().y() / 120;
    if (steps == 0) return;
    window_.zoom(std::pow(0.8, steps), static_cast<int>(e->position().x()) - kLabelWidth);
    describe();
    update();
    e->accept();
}

void TimelineView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    pressedAt_ = e->pos();
    lastX_ = e->pos().x();
    dragged_ = false;
}

void TimelineView::mouseMoveEvent(QMouseEvent* e) {
    if (!(e->buttons() & Qt::LeftButton)) return;
    if ((e->pos() - pressedAt_).manhattanLength() > 3) dragged_ = true;
    if (!dragged_) return;
    window_.pan(lastX_ - e->pos().x());
    lastX_ = e->pos().x();
    update();
}

void TimelineView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    if (!dragged_) activateAt(e->pos());
    dragged_ = false;
    describe();
}

bool TimelineView::activateAt(QPoint at) {
    if (at.x() < kLabelWidth || at.y() < kAxisHeight) return false;
    const int row = (at.y() - kAxisHeight) / kRowHeight;
    if (row >= static_cast<int>(rows_.size())) return false;
    row_ = row;
    mark_ = window_.timeAt(at.x() - kLabelWidth);
    // A start mark is hit within six pixels.
    const int64_t slack = window_.span() * 6 / std::max(window_.width(), 1);
    return activate(row, mark_, slack);
}

bool TimelineView::activate(int row, int64_t t, int64_t slack) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    const auto span = playback::spanAt(rows_[static_cast<size_t>(row)], t, slack);
    if (!span) return false;
    if (span->position >= 0)
        Q_EMIT localRecordingClicked(span->position, std::clamp(t, span->start, *span->end));
    else
        Q_EMIT recorderRecordingClicked(span->event.recorder, span->event.channel, span->event.day,
                                        span->event.event);
    return true;
}

bool TimelineView::event(QEvent* e) {
    // Page Up and Page Down move between recordings here, not between pages of channels (the
    // main window's commands on the same keys).
    if (e->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
            e->accept();
            return true;
        }
    }
    return QWidget::event(e);
}

void TimelineView::keyPressEvent(QKeyEvent* e) {
    const int64_t tenth = window_.span() / 10;
    const int rows = static_cast<int>(rows_.size());
    switch (e->key()) {
        case Qt::Key_Up:
            row_ = std::max(row_ - 1, 0);
            break;
        case Qt::Key_Down:
            row_ = std::min(row_ + 1, std::max(rows - 1, 0));
            break;
        case Qt::Key_Left:
            mark_ -= tenth;
            break;
        case Qt::Key_Right:
            mark_ += tenth;
            break;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            if (row_ < rows) {
                const auto& spans = rows_[static_cast<size_t>(row_)].spans;
                const bool next = e->key() == Qt::Key_PageDown;
                std::optional<int64_t> to;
                for (const auto& s : spans)
                    if (next ? s.start > mark_ && (!to || s.start < *to)
                             : s.start < mark_ && (!to || s.start > *to))
                        to = s.start;
                if (to) mark_ = *to;
            }
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
        case Qt::Key_Minus: {
            const int x = static_cast<int>(std::lround(window_.xOf(mark_)));
            window_.zoom(e->key() == Qt::Key_Minus ? 2.0 : 0.5, std::clamp(x, 0, window_.width()));
            break;
        }
        case Qt::Key_Home:
            fitAll();
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            activate(row_, mark_, window_.span() * 6 / std::max(window_.width(), 1));
            break;
        default:
            QWidget::keyPressEvent(e);
            return;
    }
    window_.reveal(mark_);
    describe();
    update();
}

void TimelineView::describe() {
    QString d =
        QStringLiteral("%1 rows, %2 to %3")
            .arg(rows_.size())
            .arg(dayText(window_.start()) + QLatin1Char(' ') + clockText(window_.start(), true),
                 clockText(window_.start() + window_.span(), true));
    if (row_ < static_cast<int>(rows_.size())) {
        const auto& row = rows_[static_cast<size_t>(row_)];
        d += QStringLiteral("; row %1: %2, %3 recordings; mark at %4")
                 .arg(row_ + 1)
                 .arg(QString::fromStdString(row.label))
                 .arg(row.spans.size())
                 .arg(clockText(mark_, true));
    }
    if (cursor_) d += QStringLiteral("; playing at ") + clockText(*cursor_, true);
    setAccessibleDescription(d);
}

}  // namespace fsv::ui
