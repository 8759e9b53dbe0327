#include "ui/models/DownloadFeed.h"

namespace fsv::ui {

void DownloadFeed::expect(const download::WorkItem& item, const std::string& serverName,
                          const std::string& serverAddress) {
    if (item.outputPath.empty()) return;  // "Just Play" has no file and no row
    std::lock_guard lock(mutex_);
    Entry e;
    e.who = {serverName, serverAddress, item.channelName, item.eventKey, item.outputPath};
    e.mode = item.mode();
    byPath_[item.outputPath] = std::move(e);
    // An item that has its row already is found by it, whatever path the row tells.
    if (item.row >= 0) pathOfRow_[item.row] = item.outputPath;
}

void DownloadFeed::onWorkRow(const download::WorkRow& row) {
    enum { Nothing, Start, End } step = Nothing;
    Entry copy;
    std::string key;
    bool moved = false;
    {
        std::lock_guard lock(mutex_);
        auto known = pathOfRow_.find(row.id);
        key = known != pathOfRow_.end() ? known->second : row.path;
        auto it = byPath_.find(key);
        if (it == byPath_.end() || it->second.done) return;
        Entry& e = it->second;
        if (known == pathOfRow_.end()) pathOfRow_[row.id] = key;
        if (!row.path.empty() && row.path != e.who.savePath) {
            e.who.savePath = row.path;
            moved = e.slot >= 0;
        }
        if (row.state == download::RowState::Running && e.slot < 0) {
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
        const int slot = rows_.addRow(copy.who.serverName, copy.who.serverAddress,
                                      copy.who.deviceName, copy.who.eventKey, copy.who.savePath,
                                      copy.mode);
        rows_.update(slot, DownloadRows::kRunning, row.id);
        std::lock_guard lock(mutex_);
        auto& e = byPath_[key];
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
