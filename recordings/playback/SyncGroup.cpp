#include "recordings/playback/SyncGroup.h"

#include <algorithm>

namespace fsv::playback {

SyncGroup::~SyncGroup() { stop(); }

void SyncGroup::start(LocalChannel& active, const std::vector<LocalChannel*>& members) {
    if (on_) stop();
    on_ = true;
    if (auto times = active.frameTimes(); times && !times->empty()) {
        const size_t index = std::min<size_t>(active.currentFrame(), times->size() - 1);
        clock_.seek((*times)[index]);
    } else {
        clock_.seek(stampMs(active.currentTime()));
    }
    clock_.setSpeed(active.fastFactor(), active.slowFactor());
    if (active.paused() || active.atEnd())
        clock_.pause();
    else
        clock_.play();
    join(active);
    for (LocalChannel* c : members)
        if (c) join(*c);
}

void SyncGroup::stop() {
    if (!on_) return;
    on_ = false;
    const bool playing = clock_.playing();
    for (LocalChannel* c : members_) {
        c->setPaused(!playing);
        c->follow(nullptr);
    }
    members_.clear();
}

void SyncGroup::join(LocalChannel& channel) {
    if (!on_ || contains(channel)) return;
    members_.push_back(&channel);
    channel.follow(&clock_);
    refreshEnd();
}

void SyncGroup::leave(LocalChannel& channel) {
    if (!contains(channel)) return;
    std::erase(members_, &channel);
    channel.follow(nullptr);
    refreshEnd();
}

bool SyncGroup::contains(const LocalChannel& channel) const {
    return std::find(members_.begin(), members_.end(), &channel) != members_.end();
}

std::optional<int64_t> SyncGroup::latestEnd() const {
    std::optional<int64_t> end;
    for (LocalChannel* c : members_)
        if (auto times = c->frameTimes(); times && !times->empty())
            end = std::max(end.value_or(times->back()), times->back());
    return end;
}

std::optional<int64_t> SyncGroup::earliestStart() const {
    std::optional<int64_t> start;
    for (LocalChannel* c : members_)
        if (auto times = c->frameTimes(); times && !times->empty())
            start = std::min(start.value_or(times->front()), times->front());
    return start;
}

void SyncGroup::refreshEnd() { clock_.setEnd(latestEnd()); }

bool SyncGroup::command(LocalChannel& active, PlayCommand command) {
    // Files that were still opening when they joined know their extent by now.
    refreshEnd();
    switch (command) {
        case PlayCommand::Play: {
            // At the end, play starts again from the earliest recording.
            const auto end = clock_.end();
            if (end && clock_.now() >= *end)
                if (auto start = earliestStart()) clock_.seek(*start);
            clock_.play();
            return true;
        }
        case PlayCommand::Pause:
            clock_.pause();
            return true;
        case PlayCommand::Slower:
            clock_.slower();
            return true;
        case PlayCommand::Faster:
            clock_.faster();
            return true;
        default:
            break;
    }
    const auto times = active.frameTimes();
    if (!times || times->empty()) return false;
    const int64_t now = clock_.now();
    // The active channel shows the frame at or before the clock, so its next frame is the
    // first one after the clock and its previous one the one before that frame.
    const int at = frameAtOrBefore(*times, now);
    switch (command) {
        case PlayCommand::StepForward:
            if (static_cast<size_t>(at + 1) < times->size())
                clock_.seek((*times)[static_cast<size_t>(at + 1)]);
            return true;
        case PlayCommand::StepBack:
            if (at > 0) clock_.seek((*times)[static_cast<size_t>(at - 1)]);
            return true;
        case PlayCommand::First:
            clock_.seek(times->front());
            return true;
        case PlayCommand::Last:
            clock_.seek(times->back());
            return true;
        default:
            return false;
    }
}

bool SyncGroup::goTo(LocalChannel& active, uint32_t frame) {
    const auto times = active.frameTimes();
    if (!times || frame >= times->size()) return false;
    clock_.seek((*times)[frame]);
    return true;
}

}  // namespace fsv::playback
