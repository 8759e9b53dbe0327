#pragma once
// ChannelView: the display panels of the main window. Up to 16 panels a page, laid out as a
// square grid of 1, 4, 9 or 16; page p shows channels p × n … p × n + n − 1. One panel is the
// active one: its caption is red and it has a red border. Panel i draws from frame slot i of
// the core; the view only says which panels show a channel and what their captions read.

#include <QWidget>
#include <array>

#include "client/FrameSlot.h"
#include "ui/panels/DisplayPanel.h"

class QGridLayout;

namespace fsv::ui {

// What the captions show (the settings "Show Channel Number", "Show Server Name", "Show
// Camera Name") and the caption of a channel fed from a recorder.
struct PanelCaptionParts {
    bool channelNumber = true;
    bool serverName = true;
    bool cameraName = true;
};
QString streamCaption(const PanelCaptionParts& parts, int position, const QString& server,
                      const QString& camera);

class ChannelView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMaxPanels = 16;

    // `frameSlots` must hold at least kMaxPanels slots and outlive the view.
    explicit ChannelView(client::FrameSlots& frameSlots, QWidget* parent = nullptr);

    // 1, 4, 9 or 16; other values are taken as the next allowed one up (at most 16).
    void setChannelsPerPage(int count);
    int channelsPerPage() const { return perPage_; }
    // Pages needed for `channels` channels (at least 1).
    int pageCount(int channels) const;
    void setPage(int page);
    int page() const { return page_; }
    // The first channel of the page on show.
    int firstChannel() const { return page_ * perPage_; }
    // The panel that shows `channel`, or -1 when it is not on this page.
    int panelOfChannel(int channel) const;

    DisplayPanel* panel(int index) const;
    int activePanel() const { return active_; }
    void setActivePanel(int index);

    // The core's FrameReady for a panel: repaint it.
    void frameReady(int panel);

  Q_SIGNALS:
    void activePanelChanged(int index);
    void panelDoubleClicked(int index);
    void panelMenuRequested(int index, QPoint at);
    void pageChanged(int page);

  private:
    void relayout();

    client::FrameSlots& slots_;
    std::array<DisplayPanel*, kMaxPanels> panels_{};
    QGridLayout* grid_ = nullptr;
    int perPage_ = 4;
    int page_ = 0;
    int active_ = 0;
};

}  // namespace fsv::ui
