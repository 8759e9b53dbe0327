#pragma once
// DisplayPanel: one display panel of the channel view. It paints the newest picture of its
// frame slot, centred by the placement rules of media/Placement, with its caption in the top
// left corner; an empty panel shows "Empty". The slot is read on the UI thread only, when the
// panel repaints (the bridge calls update() on FrameReady). The panel tells its slot its size,
// so that pictures arrive at the size they are drawn at.

#include <QColor>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <cstdint>

#include "client/FrameSlot.h"

namespace fsv::ui {

class DisplayPanel : public QWidget {
    Q_OBJECT
  public:
    // Caption colours: the active panel's, and every other's.
    static inline const QColor kActiveCaption{0xFF, 0x00, 0x00};
    static inline const QColor kCaption{0xFF, 0xFF, 0xE1};
    static inline const QColor kActiveBorder{0xFF, 0x00, 0x00};

    DisplayPanel(int index, client::FrameSlot* slot, QWidget* parent = nullptr);

    int index() const { return index_; }
    client::FrameSlot* slot() const { return slot_; }

    // A panel without a channel shows "Empty" and ignores its slot.
    void setShowing(bool showing);
    bool showing() const { return showing_; }
    void setCaption(const QString& caption);
    QString caption() const { return caption_; }
    void setActive(bool active);
    bool active() const { return active_; }
    // The date and time of the frame on show ("date  time"; empty: none) and whether the
    // channel has no recording at the time it is asked for (playing in step): then "No
    // recording" is drawn over the last picture. Both also go into the accessible description,
    // after the caption.
    void setShownFrame(const QString& dateTime, bool noRecording);
    QString shownFrame() const { return dateTime_; }
    bool noRecording() const { return noRecording_; }

    // The slot's publish count right after the last repaint took its newest picture (0 when
    // there was none): equal to the count of the picture drawn unless one landed meanwhile.
    uint64_t paintedSerial() const { return paintedSerial_; }
    // Repaints that drew a newer picture than the repaint before.
    uint64_t picturesPainted() const { return picturesPainted_; }

    // Draws a picture the way a panel of `size` does: background, picture placed by its source
    // size, caption. Used by paintEvent and by whoever needs the same picture off screen.
    static void render(QPainter& painter, QSize size, const client::Picture* picture,
                       const QString& caption, bool active, bool noRecording = false);

    static void drawBorder(QPainter& painter, QSize size);

  Q_SIGNALS:
    void clicked(int index);
    void doubleClicked(int index);
    // A right click (or the menu key): the channel's pop-up menu at `at` (global).
    void menuRequested(int index, QPoint at);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void describe();

    int index_;
    client::FrameSlot* slot_;
    bool showing_ = false;
    bool active_ = false;
    QString caption_;
    QString dateTime_;
    bool noRecording_ = false;
    uint64_t paintedSerial_ = 0;
    uint64_t picturesPainted_ = 0;
};

}  // namespace fsv::ui
