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
}

void DownloadFeed::onWorkRow(const download::WorkRow& row) {
    enum { Nothing, Start, End } step = Nothing;
    Entry copy;
    {
        std::lock_guard lock(mutex_);
        auto it = byPath_.find(row.path);
        if (it == byPath_.end() || it->second.done) return;
        Entry& e = it->second;
        if (row.state == download::RowState::Running && e.slot < 0) {
            step = Start;
            e.slot = -2;  // being opened
        } else if (row.state != download::RowState::Running) {
            step = End;
            e.done = true;
        }
        copy = e;
    }
    if (step == Start) {
        const int slot = rows_.addRow(copy.who.serverName, copy.who.serverAddress,
                                      copy.who.deviceName, copy.who.eventKey, copy.who.savePath,
                                      copy.mode);
        rows_.update(slot, DownloadRows::kRunning, row.id);
        std::lock_guard lock(mutex_);
        auto& e = byPath_[row.path];
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
