#pragma once
// The table of open players (remote streams and local files) and the display panels that show
// a page of them. Positions are 0-based; a free position holds no player.

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/UserPort.h"

namespace fsv::download {

enum class ChannelKind : uint8_t { LocalFile = 0, RemoteStream = 1 };

// Whatever occupies a channel. The table tells it which panel shows it (-1: none).
class Player {
  public:
    virtual ~Player() = default;
    virtual void attachPanel(int panel) = 0;
};

class ChannelTable {
  public:
    static constexpr int kPanels = 16;

    // `port` receives the repaint requests of panels that changed.
    ChannelTable(UserPort& port, int maxChannels);

    void setMaxChannels(int max);
    int maxChannels() const;

    // The lowest free position (reused before the array grows), or -1 when the number of used
    // channels has reached the limit. A position on the shown page appears in its panel.
    int take(ChannelKind kind, Player* player);
    // Frees a position; trailing free positions are dropped; its panel empties and repaints.
    void giveBack(int position);
    // Replaces the player of a position; a panel that showed the old one shows the new one.
    void put(int position, ChannelKind kind, Player* player);
    // Shows channels first … first + panelCount - 1 in panels 0 … panelCount - 1.
    void showPage(int first, int panelCount);
    // Exchanges two positions; both panels are updated and asked to repaint.
    void swap(int a, int b);

    int usedCount() const;
    int size() const;  // array length, free positions included
    Player* playerAt(int position) const;
    ChannelKind kindAt(int position) const;
    Player* panelPlayer(int panel) const;  // nullptr: the panel shows "Empty"
    int pageFirst() const;
    // The panel showing a position, or -1.
    int panelOf(int position) const;

  private:
    struct Slot {
        Player* player = nullptr;
        ChannelKind kind = ChannelKind::LocalFile;
    };
    struct Panel {
        Player* player = nullptr;
        ChannelKind kind = ChannelKind::LocalFile;
    };
    void repaint(int panel);
    int panelOfLocked(int position) const;

    UserPort& port_;
    mutable std::recursive_mutex channelLock_;
    mutable std::recursive_mutex panelLock_;  // always taken after channelLock_
    std::vector<Slot> slots_;
    int used_ = 0;
    int max_;
    Panel panels_[kPanels];
    int pageFirst_ = 0;
    int pageCount_ = kPanels;
};

}  // namespace fsv::download
