#pragma once
// The timeline under the panels: one row per camera, of the recorder shown in the event list
// window (a start mark per recording, its length unknown) and of the local files open in
// channels (a bar over their true extent), with a cursor at the active channel's frame time.
// The wheel and the keys zoom from a whole day down to seconds, dragging pans. A click on a
// local file's bar asks to seek its channel there; a click on a recorder's start mark asks to
// "Download && Play" that recording.
//
// Keyboard: Up/Down choose the row, Left/Right move the keyboard mark (the view follows),
// Page Up/Page Down jump it to the previous/next recording of the row, + and - zoom, Home shows
// everything, Enter or Space acts on the recording under the mark as a click does.

#include <QColor>
#include <QWidget>
#include <optional>
#include <vector>

#include "recordings/playback/Timeline.h"

namespace fsv::ui {

// What the timeline is drawn with: its background, the text (labels, axis, the keyboard
// mark), a local file's bar, a recorder's start mark, the cursor.
struct TimelineColours {
    QColor background{0x20, 0x20, 0x28};
    QColor text{0xE1, 0xE1, 0xE1};
    QColor local{0x3C, 0x8C, 0xDC};
    QColor recorder{0xF0, 0xB4, 0x28};
    QColor cursor{0xFF, 0x30, 0x30};
    bool operator==(const TimelineColours&) const = default;
};

class TimelineView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kLabelWidth = 140;
    static constexpr int kRowHeight = 20;
    static constexpr int kAxisHeight = 18;

    explicit TimelineView(QWidget* parent = nullptr);

    // New rows; the view keeps its zoom unless nothing was shown before (then it fits).
    void setRows(std::vector<playback::TimelineRow> rows);
    const std::vector<playback::TimelineRow>& rows() const { return rows_; }
    // The active channel's frame time (nullopt: none); kept in view while it moves.
    void setCursorTime(std::optional<int64_t> t);
    std::optional<int64_t> cursorTime() const { return cursor_; }
    void fitAll();
    playback::TimelineWindow& timeWindow() { return window_; }
    void setColours(const TimelineColours& colours);
    const TimelineColours& colours() const { return colours_; }

    int currentRow() const { return row_; }
    int64_t markTime() const { return mark_; }
    // What a click at `p` does (false: nothing there).
    bool activateAt(QPoint p);
    // The point where time `t` of row `row` is drawn.
    QPoint pointOf(int row, int64_t t) const;

  Q_SIGNALS:
    void localRecordingClicked(int position, qint64 time);
    void recorderRecordingClicked(int recorder, int channel, int day, int event);

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    bool event(QEvent*) override;
    QSize sizeHint() const override;

  private:
    bool activate(int row, int64_t t, int64_t slack);
    void describe();
    void drawAxis(QPainter& p);

    std::vector<playback::TimelineRow> rows_;
    playback::TimelineWindow window_;
    std::optional<int64_t> cursor_;
    int row_ = 0;
    int64_t mark_ = 0;
    bool shownAny_ = false;
    QPoint pressedAt_;
    int lastX_ = 0;
    bool dragged_ = false;
    TimelineColours colours_;
};

}  // namespace fsv::ui
