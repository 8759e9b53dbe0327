#include "recordings/playback/ChannelTable.h"

#include <algorithm>
#include <utility>

namespace fsv::playback {

ChannelTable::ChannelTable(UserPort& port, int maxChannels) : port_(port), max_(maxChannels) {}

void ChannelTable::setMaxChannels(int max) {
    std::lock_guard lock(channelLock_);
    max_ = max;
}

int ChannelTable::maxChannels() const {
    std::lock_guard lock(channelLock_);
    return max_;
}

void ChannelTable::repaint(int panel) { port_.post(PanelMessage::RedrawChannel, panel, 1); }

int ChannelTable::panelOfLocked(int position) const {
    const int panel = position - pageFirst_;
    return panel >= 0 && panel < pageCount_ ? panel : -1;
}

int ChannelTable::panelOf(int position) const {
    std::lock_guard lock(panelLock_);
    return panelOfLocked(position);
}

int ChannelTable::take(ChannelKind kind, Player* player) {
    std::lock_guard lock(channelLock_);
    if (used_ >= max_ || !player) return -1;
    auto free = std::find_if(slots_.begin(), slots_.end(), [](auto& s) { return !s.player; });
    int position = static_cast<int>(free - slots_.begin());
    if (free == slots_.end()) slots_.push_back({});
    slots_[position] = {player, kind};
    ++used_;
    std::lock_guard plock(panelLock_);
    const int panel = panelOfLocked(position);
    if (panel >= 0) {
        panels_[panel] = {player, kind};
        player->attachPanel(panel);
    }
    return position;
}

void ChannelTable::giveBack(int position) {
    std::lock_guard lock(channelLock_);
    if (position < 0 || position >= static_cast<int>(slots_.size()) || !slots_[position].player)
        return;
    Player* gone = slots_[position].player;
    slots_[position] = {};
    --used_;
    while (!slots_.empty() && !slots_.back().player) slots_.pop_back();
    std::lock_guard plock(panelLock_);
    for (int i = 0; i < kPanels; ++i)
        if (panels_[i].player == gone) {
            panels_[i] = {};
            gone->attachPanel(-1);
            repaint(i);
        }
}

void ChannelTable::put(int position, ChannelKind kind, Player* player) {
    std::lock_guard lock(channelLock_);
    if (position < 0 || position >= static_cast<int>(slots_.size())) return;
    Player* old = slots_[position].player;
    if (!old && player) ++used_;
    if (old && !player) --used_;
    slots_[position] = {player, kind};
    std::lock_guard plock(panelLock_);
    for (int i = 0; i < kPanels; ++i)
        if (old && panels_[i].player == old) {
            old->attachPanel(-1);
            panels_[i] = {player, kind};
            if (player) player->attachPanel(i);
            repaint(i);
        }
}

void ChannelTable::showPage(int first, int panelCount) {
    std::lock_guard lock(channelLock_);
    std::lock_guard plock(panelLock_);
    panelCount = std::clamp(panelCount, 0, kPanels);
    first = std::max(first, 0);
    Panel next[kPanels];
    for (int i = 0; i < panelCount; ++i) {
        const int position = first + i;
        if (position < static_cast<int>(slots_.size()) && slots_[position].player)
            next[i] = {slots_[position].player, slots_[position].kind};
    }
    // Players leaving the page are detached before the others are attached.
    for (auto& p : panels_) {
        if (!p.player) continue;
        bool stays = std::any_of(std::begin(next), std::end(next),
                                 [&](const Panel& n) { return n.player == p.player; });
        if (!stays) p.player->attachPanel(-1);
    }
    for (int i = 0; i < kPanels; ++i) {
        panels_[i] = next[i];
        if (next[i].player) next[i].player->attachPanel(i);
    }
    pageFirst_ = first;
    pageCount_ = panelCount;
}

void ChannelTable::swap(int a, int b) {
    std::lock_guard lock(channelLock_);
    const int n = static_cast<int>(slots_.size());
    if (a < 0 || b < 0 || a >= n || b >= n || a == b) return;
    std::swap(slots_[a], slots_[b]);
    std::lock_guard plock(panelLock_);
    for (int position : {a, b}) {
        const int panel = panelOfLocked(position);
        if (panel < 0) continue;
        panels_[panel] = {slots_[position].player, slots_[position].kind};
        if (slots_[position].player) slots_[position].player->attachPanel(panel);
        port_.post(PanelMessage::RedrawChannel, panel, 1);
    }
}

int ChannelTable::usedCount() const {
    std::lock_guard lock(channelLock_);
    return used_;
}

int ChannelTable::size() const {
    std::lock_guard lock(channelLock_);
    return static_cast<int>(slots_.size());
}

Player* ChannelTable::playerAt(int position) const {
    std::lock_guard lock(channelLock_);
    if (position < 0 || position >= static_cast<int>(slots_.size())) return nullptr;
    return slots_[position].player;
}

bool ChannelTable::withPlayer(int position, const std::function<void(Player&)>& f) const {
    std::lock_guard lock(channelLock_);
    if (position < 0 || position >= static_cast<int>(slots_.size()) || !slots_[position].player)
        return false;
    f(*slots_[position].player);
    return true;
}

ChannelKind ChannelTable::kindAt(int position) const {
    std::lock_guard lock(channelLock_);
    if (position < 0 || position >= static_cast<int>(slots_.size())) return ChannelKind::LocalFile;
    return slots_[position].kind;
}

Player* ChannelTable::panelPlayer(int panel) const {
    std::lock_guard lock(panelLock_);
    return panel >= 0 && panel < kPanels ? panels_[panel].player : nullptr;
}

int ChannelTable::pageFirst() const {
    std::lock_guard lock(panelLock_);
    return pageFirst_;
}

}  // namespace fsv::playback
