#include "ui/models/DownloadFeed.h"

namespace fsv::ui {

void DownloadFeed::onWorkRow(const download::WorkRow& row) {
    if (row.path.empty()) return;  // "Just Play" has no file and no row
    enum { Nothing, Start, End } step = Nothing;
    Entry copy;
    bool moved = false;
    bool known;
    {
        std::lock_guard lock(mutex_);
        known = byRow_.count(row.id) != 0;
    }
    std::string server, address;
    if (!known && serverOf) serverOf(row.session, &server, &address);
    {
        std::lock_guard lock(mutex_);
        auto [it, added] = byRow_.try_emplace(row.id);
        Entry& e = it->second;
        if (e.done) return;
        if (added) {
            // The row names the recording as the recorder does: the event key, then the
            // channel code.
            e.who.serverName = server;
            e.who.serverAddress = address;
            e.who.deviceName = row.channelName;
            e.who.eventKey = row.caption.substr(0, 14);
            e.who.savePath = row.path;
        } else if (row.path != e.who.savePath) {
            e.who.savePath = row.path;
            moved = e.slot >= 0;
        }
        if (row.state == download::RowState::Running && e.slot == -1) {
            step = Start;
            e.slot = -2;  // being opened
        } else if (row.state != download::RowState::Running) {
            step = End;
            e.done = true;
        }
        copy = e;
    }
    if (moved) rows_.setSavePath(copy.slot, copy.who.savePath);
    if (step == Start) {
        const int slot =
            rows_.addRow(copy.who.serverName, copy.who.serverAddress, copy.who.deviceName,
                         copy.who.eventKey, copy.who.savePath, row.mode);
        rows_.update(slot, DownloadRows::kRunning, row.id);
        std::lock_guard lock(mutex_);
        auto& e = byRow_[row.id];
        const bool endedMeanwhile = e.done;
        e.slot = slot;
        if (!endedMeanwhile) return;
        copy = e;
        step = End;
    }
    if (step == End) {
        if (copy.slot >= 0) rows_.update(copy.slot, DownloadRows::kRemove);
        if (row.state == download::RowState::Finished && onFinished) onFinished(copy.who);
    }
}

}  // namespace fsv::ui
